#include "fec/FEC.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "fec/GfTables.h"

namespace {

// Carry-less product modulo x^8 + x^4 + x^3 + x^2 + 1, bit by bit.
BYTE SlowMul(BYTE a, BYTE b) {
  unsigned r = 0;
  for (int i = 0; i < 8; ++i) {
    if (b & (1 << i)) r ^= static_cast<unsigned>(a) << i;
  }
  for (int i = 15; i >= 8; --i) {
    if (r & (1u << i)) r ^= 0x11Du << (i - 8);
  }
  return static_cast<BYTE>(r);
}

BYTE Mul(BYTE a, BYTE b) { return fec::Gf().mul[a][b]; }

// The systematic matrix by the textbook route: V = rows (0^c), (x^c) for x =
// 1, 2, 4, ...; parity rows = V's rows times the inverse of V's top k rows,
// found by plain Gauss-Jordan.
std::vector<BYTE> ExpectedMatrix(int k, int n) {
  std::vector<BYTE> v(static_cast<std::size_t>(n) * k, 0);
  v[0] = 1;
  BYTE x = 1;
  for (int r = 1; r < n; ++r, x = Mul(x, 2)) {
    BYTE p = 1;
    for (int c = 0; c < k; ++c, p = Mul(p, x)) v[r * k + c] = p;
  }
  const int w = 2 * k;
  std::vector<BYTE> a(static_cast<std::size_t>(k) * w, 0);
  for (int i = 0; i < k; ++i) {
    std::copy_n(&v[i * k], k, &a[i * w]);
    a[i * w + k + i] = 1;
  }
  for (int c = 0; c < k; ++c) {
    int p = c;
    while (a[p * w + c] == 0) ++p;
    for (int j = 0; j < w; ++j) std::swap(a[c * w + j], a[p * w + j]);
    const BYTE inv = fec::Gf().inverse[a[c * w + c]];
    for (int j = 0; j < w; ++j) a[c * w + j] = Mul(inv, a[c * w + j]);
    for (int r = 0; r < k; ++r) {
      const BYTE f = a[r * w + c];
      if (r == c || f == 0) continue;
      for (int j = 0; j < w; ++j) a[r * w + j] ^= Mul(f, a[c * w + j]);
    }
  }
  std::vector<BYTE> e(static_cast<std::size_t>(n) * k, 0);
  for (int i = 0; i < k; ++i) e[i * k + i] = 1;
  for (int r = k; r < n; ++r) {
    for (int c = 0; c < k; ++c) {
      BYTE acc = 0;
      for (int i = 0; i < k; ++i) acc ^= Mul(v[r * k + i], a[i * w + k + c]);
      e[r * k + c] = acc;
    }
  }
  return e;
}

// k random data blocks and the pointers to them.
struct Blocks {
  Blocks(int k, int size, unsigned seed) : data(k, std::vector<BYTE>(size)), ptrs(k) {
    std::mt19937 rng(seed);
    for (int i = 0; i < k; ++i) {
      for (BYTE& b : data[i]) b = static_cast<BYTE>(rng());
      ptrs[i] = data[i].data();
    }
  }
  std::vector<std::vector<BYTE>> data;
  std::vector<BYTE*> ptrs;
};

// Encodes blocks `indexes` of `src`, decodes them in the given order and
// checks that the data comes back.
void ExpectRoundTrip(CFEC& fec, Blocks& src, const std::vector<int>& indexes) {
  const int k = static_cast<int>(src.ptrs.size());
  const int size = static_cast<int>(src.data[0].size());
  Blocks pkt(k, size, 0), out(k, size, 1);
  std::vector<int> index = indexes;
  for (int i = 0; i < k; ++i) ASSERT_EQ(0u, fec.Encode(src.ptrs.data(), size, pkt.ptrs[i], index[i]));
  ASSERT_EQ(0u, fec.Decode(pkt.ptrs.data(), index.data(), size, out.ptrs.data()));
  for (int i = 0; i < k; ++i) EXPECT_EQ(src.data[i], out.data[i]) << "block " << i;
  for (int i = 0; i < k; ++i) {
    if (index[i] < k) {
      EXPECT_EQ(i, index[i]) << "data index not placed in its own slot";
    }
  }
}

TEST(GfTablesTest, ProductsMatchCarrylessMultiplication) {
  EXPECT_TRUE(fec::CheckTables());
  const fec::GfTables& gf = fec::Gf();
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) ASSERT_EQ(SlowMul(a, b), gf.mul[a][b]) << a << " * " << b;
  }
  EXPECT_EQ(255, gf.log[0]);
  EXPECT_EQ(0x1D, gf.exp[8]);
  for (int i = 0; i < 255; ++i) EXPECT_EQ(gf.exp[i], gf.exp[i + 255]);
  for (int x : {0, 254, 255, 509, 510, 64770}) EXPECT_EQ(x % 255, fec::Modnn(x)) << x;
}

TEST(FECTest, InitChecksItsParameters) {
  struct Case {
    int k, n;
    DWORD result;
  } cases[] = {{1, 1, 0}, {256, 256, 0}, {16, 256, 0}, {4, 8, 0}, {10, 9, 87},
               {257, 257, 87}, {4, 257, 87}, {0, 4, 87}};
  for (const Case& c : cases) {
    CFEC fec;
    EXPECT_EQ(c.result, fec.Init(c.k, c.n)) << c.k << ", " << c.n;
  }
}

TEST(FECTest, MatrixIsTheSystematicVandermondeCode) {
  // k = 2: V's top is [[1, 0], [1, 1]], its own inverse; rows (1, 2) and (1, 4)
  // give parities (3, 2) and (5, 4).
  {
    CFEC fec;
    ASSERT_EQ(0u, fec.Init(2, 4));
    BYTE d0 = 1, d1 = 0, p = 0;
    BYTE* src[] = {&d0, &d1};
    const BYTE expected[2][2] = {{3, 5}, {2, 4}};
    for (int unit = 0; unit < 2; ++unit) {
      d0 = unit == 0;
      d1 = unit == 1;
      for (int i = 2; i < 4; ++i) {
        ASSERT_EQ(0u, fec.Encode(src, 1, &p, i));
        EXPECT_EQ(expected[unit][i - 2], p);
      }
    }
  }
  // Encoding unit blocks reads the matrix out: block j has a 1 at byte j.
  for (auto [k, n] : {std::pair{1, 256}, {3, 7}, {4, 8}, {16, 256}, {100, 256}, {255, 256}}) {
    CFEC fec;
    ASSERT_EQ(0u, fec.Init(k, n));
    std::vector<std::vector<BYTE>> unit(k, std::vector<BYTE>(k, 0));
    std::vector<BYTE*> src(k);
    for (int j = 0; j < k; ++j) {
      unit[j][j] = 1;
      src[j] = unit[j].data();
    }
    const std::vector<BYTE> expected = ExpectedMatrix(k, n);
    std::vector<BYTE> row(k);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(0u, fec.Encode(src.data(), k, row.data(), i));
      ASSERT_TRUE(std::equal(row.begin(), row.end(), &expected[i * k])) << k << "/" << n << " row " << i;
    }
  }
}

TEST(FECTest, EveryChoiceOfKDistinctBlocksDecodes) {
  CFEC fec;
  ASSERT_EQ(0u, fec.Init(4, 8));
  Blocks src(4, 100, 7);
  std::mt19937 rng(3);
  for (int mask = 0; mask < 256; ++mask) {
    if (__builtin_popcount(mask) != 4) continue;
    std::vector<int> index;
    for (int i = 0; i < 8; ++i) {
      if (mask & (1 << i)) index.push_back(i);
    }
    std::shuffle(index.begin(), index.end(), rng);
    ExpectRoundTrip(fec, src, index);
  }
}

TEST(FECTest, LargeCodesDecodeFromParity) {
  std::mt19937 rng(5);
  for (auto [k, n] : {std::pair{16, 256}, {64, 256}, {128, 256}}) {
    CFEC fec;
    ASSERT_EQ(0u, fec.Init(k, n));
    Blocks src(k, 1024 + 3, k);
    std::vector<int> all(n);
    for (int i = 0; i < n; ++i) all[i] = i;
    for (int round = 0; round < 3; ++round) {
      std::shuffle(all.begin(), all.end(), rng);
      ExpectRoundTrip(fec, src, std::vector<int>(all.begin(), all.begin() + k));
    }
    std::vector<int> parity(all.size());
    for (int i = 0; i < k; ++i) parity[i] = n - 1 - i;  // every data block lost
    ExpectRoundTrip(fec, src, std::vector<int>(parity.begin(), parity.begin() + k));
  }
}

TEST(FECTest, SingleBlockCodeIsACopy) {
  CFEC fec;
  ASSERT_EQ(0u, fec.Init(1, 1));
  Blocks src(1, 33, 9);
  ExpectRoundTrip(fec, src, {0});
  CFEC wide;
  ASSERT_EQ(0u, wide.Init(1, 256));
  for (int index : {0, 1, 200, 255}) ExpectRoundTrip(wide, src, {index});
}

TEST(FECTest, AllDataBlocksDecodeAsAReorderingCopy) {
  CFEC fec;
  ASSERT_EQ(0u, fec.Init(5, 10));
  Blocks src(5, 64, 11);
  ExpectRoundTrip(fec, src, {3, 0, 4, 2, 1});
  ExpectRoundTrip(fec, src, {4, 3, 2, 1, 0});
  ExpectRoundTrip(fec, src, {2, 7, 0, 9, 1});
}

TEST(FECTest, BadBlocksAreRefused) {
  CFEC fec;
  ASSERT_EQ(0u, fec.Init(4, 8));
  Blocks src(4, 16, 13), out(4, 16, 0);
  struct Case {
    std::vector<int> index;
    DWORD result;
  } cases[] = {
      {{0, 1, 1, 2}, 31},  // one data block twice
      {{2, 5, 2, 6}, 31},  // one data block twice, among parity
      {{0, 5, 5, 6}, 31},  // one parity block twice: singular
      {{0, 1, 2, 8}, 87},  // index n
      {{0, 1, 2, -1}, 87},
  };
  for (Case& c : cases) {
    std::vector<BYTE*> pkt = src.ptrs;
    EXPECT_EQ(c.result, fec.Decode(pkt.data(), c.index.data(), 16, out.ptrs.data()))
        << testing::PrintToString(c.index);
  }
  BYTE dst[16];
  EXPECT_EQ(87u, fec.Encode(src.ptrs.data(), 16, dst, 8));
  EXPECT_EQ(87u, fec.Encode(src.ptrs.data(), 16, dst, -1));
  EXPECT_EQ(0u, fec.Encode(src.ptrs.data(), 16, dst, 2));
  EXPECT_EQ(0, std::memcmp(dst, src.ptrs[2], 16));
  CFEC none;
  EXPECT_EQ(87u, none.Encode(src.ptrs.data(), 16, dst, 0));
}

}  // namespace
