// Every block kernel this processor runs must give the reference's bytes.
#include "fec/GfKernel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "fec/GfTables.h"

namespace {

constexpr std::size_t kPage = 4096;

using fec::KernelLevel;

const KernelLevel kVectorLevels[] = {KernelLevel::kSsse3, KernelLevel::kAvx2, KernelLevel::kGfniAvx2,
                                     KernelLevel::kGfniAvx512};

// A page-aligned area whose blocks can be placed to end exactly at a page end,
// so that a kernel reading past a block's end touches the next page (and the
// address sanitizer sees it).
class PageBuffer {
 public:
  explicit PageBuffer(std::size_t pages) : size_(pages * kPage) {
    base_ = static_cast<BYTE*>(std::aligned_alloc(kPage, size_));
  }
  ~PageBuffer() { std::free(base_); }
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;
  BYTE* EndingAt(std::size_t len) { return base_ + size_ - len; }
  BYTE* At(std::size_t offset) { return base_ + offset; }

 private:
  std::size_t size_;
  BYTE* base_;
};

class KernelTest : public testing::TestWithParam<KernelLevel> {
 protected:
  void SetUp() override {
    if (!fec::KernelSupported(GetParam())) GTEST_SKIP() << "processor lacks " << fec::KernelName(GetParam());
    rng_.seed(42);
  }
  void TearDown() override { fec::ResetKernel(); }
  void Fill(BYTE* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<BYTE>(rng_());
  }
  std::mt19937 rng_;
};

void RefMulAdd(BYTE* dst, const BYTE* src, BYTE c, std::size_t len) {
  for (std::size_t i = 0; i < len; ++i) dst[i] ^= fec::Gf().mul[c][src[i]];
}

TEST_P(KernelTest, MulAddMatchesTheTablesForEveryLengthAndCoefficient) {
  ASSERT_TRUE(fec::ForceKernel(GetParam()));
  EXPECT_EQ(GetParam(), fec::ActiveKernel());
  PageBuffer srcArea(2), dstArea(2);
  std::vector<BYTE> expected(kPage + 64);
  // Every length 0..4096, with a coefficient and alignment that vary; blocks end at a page end.
  for (std::size_t len = 0; len <= kPage; ++len) {
    const BYTE c = static_cast<BYTE>(len * 7 + 1);
    BYTE* src = srcArea.EndingAt(len);
    BYTE* dst = dstArea.EndingAt(len);
    Fill(src, len);
    Fill(dst, len);
    std::memcpy(expected.data(), dst, len);
    RefMulAdd(expected.data(), src, c, len);
    fec::MulAdd(dst, src, c, len);
    ASSERT_EQ(0, std::memcmp(expected.data(), dst, len)) << "length " << len << " c " << int(c);
  }
  // Every coefficient, on aligned and unaligned blocks of a ragged length.
  for (int c = 0; c < 256; ++c) {
    for (std::size_t offset : {0, 1, 3, 17, 63}) {
      const std::size_t len = 300 + c % 67;
      BYTE* src = srcArea.At(offset);
      BYTE* dst = dstArea.At(64 - offset);
      Fill(src, len);
      Fill(dst, len);
      std::memcpy(expected.data(), dst, len);
      RefMulAdd(expected.data(), src, static_cast<BYTE>(c), len);
      fec::MulAdd(dst, src, static_cast<BYTE>(c), len);
      ASSERT_EQ(0, std::memcmp(expected.data(), dst, len)) << "c " << c << " offset " << offset;
    }
  }
}

TEST_P(KernelTest, DotProductMatchesTheReference) {
  std::mt19937 shapes(7);
  for (int round = 0; round < 400; ++round) {
    const int nSrc = round < 8 ? round : 1 + static_cast<int>(shapes() % 40);
    const int nDst = 1 + static_cast<int>(shapes() % 9);
    const std::size_t len = round % 5 == 0 ? shapes() % 4097 : shapes() % 300;
    const std::size_t offset = shapes() % 64;
    std::vector<std::vector<BYTE>> src(nSrc, std::vector<BYTE>(len + offset));
    std::vector<const BYTE*> srcs(nSrc);
    for (int s = 0; s < nSrc; ++s) {
      Fill(src[s].data(), src[s].size());
      srcs[s] = src[s].data() + offset;
    }
    std::vector<BYTE> coefs(static_cast<std::size_t>(nDst) * nSrc);
    Fill(coefs.data(), coefs.size());
    if (round % 3 == 0 && !coefs.empty()) coefs[0] = 0;
    std::vector<std::vector<BYTE>> out(2 * nDst, std::vector<BYTE>(len + 1, 0x5A));
    std::vector<BYTE*> ref(nDst), got(nDst);
    for (int d = 0; d < nDst; ++d) {
      ref[d] = out[d].data();
      got[d] = out[nDst + d].data() + (d & 1);
    }
    ASSERT_TRUE(fec::ForceKernel(KernelLevel::kReference));
    fec::DotProduct(ref.data(), nDst, srcs.data(), coefs.data(), nSrc, len);
    ASSERT_TRUE(fec::ForceKernel(GetParam()));
    fec::DotProduct(got.data(), nDst, srcs.data(), coefs.data(), nSrc, len);
    for (int d = 0; d < nDst; ++d) {
      ASSERT_EQ(0, std::memcmp(ref[d], got[d], len))
          << "round " << round << " nSrc " << nSrc << " nDst " << nDst << " len " << len;
    }
  }
}

TEST_P(KernelTest, DotProductStaysInsideBlocksEndingAtAPage) {
  ASSERT_TRUE(fec::ForceKernel(GetParam()));
  PageBuffer a(1), b(1), out(1);
  for (std::size_t len : {1, 15, 31, 33, 63, 65, 127, 129, 255, 257, 1441}) {
    const BYTE* srcs[] = {a.EndingAt(len), b.EndingAt(len)};
    Fill(a.EndingAt(len), len);
    Fill(b.EndingAt(len), len);
    const BYTE coefs[] = {3, 200};
    BYTE* dst = out.EndingAt(len);
    fec::DotProduct(&dst, 1, srcs, coefs, 2, len);
    for (std::size_t i = 0; i < len; ++i) {
      ASSERT_EQ(fec::Gf().mul[3][srcs[0][i]] ^ fec::Gf().mul[200][srcs[1][i]], dst[i]) << len;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Vector, KernelTest, testing::ValuesIn(kVectorLevels),
                         [](const testing::TestParamInfo<KernelLevel>& info) {
                           std::string name = fec::KernelName(info.param);
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

TEST(KernelDispatchTest, PicksASupportedKernelAndFallsBack) {
  fec::ResetKernel();
  EXPECT_TRUE(fec::KernelSupported(fec::ActiveKernel()));
  EXPECT_TRUE(fec::KernelSupported(KernelLevel::kReference));
  for (KernelLevel level : kVectorLevels) {
    if (!fec::KernelSupported(level)) {
      const KernelLevel before = fec::ActiveKernel();
      EXPECT_FALSE(fec::ForceKernel(level));
      EXPECT_EQ(before, fec::ActiveKernel());
    }
  }
  ASSERT_TRUE(fec::ForceKernel(KernelLevel::kReference));
  EXPECT_EQ(KernelLevel::kReference, fec::ActiveKernel());
  fec::ResetKernel();
}

}  // namespace
