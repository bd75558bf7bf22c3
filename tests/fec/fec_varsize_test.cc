#include "fec/FECVarSize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kMax = 1500;

// k data blocks of the given lengths, each in a buffer of kMax bytes.
struct Group {
  Group(const std::vector<int>& lengths, unsigned seed)
      : lens(lengths), data(lengths.size(), std::vector<BYTE>(kMax, 0)), ptrs(lengths.size()) {
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < lens.size(); ++i) {
      for (int j = 0; j < lens[i]; ++j) data[i][j] = static_cast<BYTE>(rng());
      ptrs[i] = data[i].data();
    }
  }
  int K() const { return static_cast<int>(lens.size()); }
  std::vector<int> lens;
  std::vector<std::vector<BYTE>> data;  // zero beyond each length
  std::vector<BYTE*> ptrs;
};

// A coded block as it travels: its bytes, their count and its length word.
struct Coded {
  std::vector<BYTE> bytes = std::vector<BYTE>(kMax);
  int len = 0;
  int word = 0;
};

Coded EncodeBlock(CFECVarSize& fec, Group& g, int index, int nEncSz = kMax) {
  Coded c;
  std::vector<int> lens = g.lens;
  EXPECT_EQ(0u, fec.Encode(g.ptrs.data(), lens.data(), c.bytes.data(), nEncSz, &c.len,
                           reinterpret_cast<BYTE*>(&c.word), index));
  EXPECT_EQ(lens, g.lens) << "lengths changed";
  return c;
}

const std::vector<std::vector<int>> kLengthSets = {
    {1000, 1000, 1000, 1000}, {0, 1441, 17, 1441}, {5, 0, 0, 1}, {0, 0, 0, 0},
    {1500, 3, 999, 64},       {77},                {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
};

TEST(FECVarSizeTest, ParityIsTheCodeOfZeroPaddedBlocks) {
  for (const std::vector<int>& lens : kLengthSets) {
    Group g(lens, 1);
    const int k = g.K();
    const int longest = *std::max_element(lens.begin(), lens.end());
    CFECVarSize var;
    CFEC plain;
    ASSERT_EQ(0u, var.Init(k, kMax));
    ASSERT_EQ(0u, plain.Init(k, 256));
    for (int index : {0, k - 1, k, k + 1, 200, 255}) {
      Coded c = EncodeBlock(var, g, index);
      EXPECT_EQ(longest, c.len);
      std::vector<BYTE> expected(kMax);
      ASSERT_EQ(0u, plain.Encode(g.ptrs.data(), longest, expected.data(), index));
      EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + longest, c.bytes.begin()))
          << testing::PrintToString(lens) << " index " << index;
      // The length word is the same code over the lengths as 4-byte blocks.
      std::vector<int> words = lens;
      std::vector<BYTE*> wp(k);
      for (int i = 0; i < k; ++i) wp[i] = reinterpret_cast<BYTE*>(&words[i]);
      int word = 0;
      ASSERT_EQ(0u, plain.Encode(wp.data(), 4, reinterpret_cast<BYTE*>(&word), index));
      EXPECT_EQ(word, c.word);
      if (index < k) {
        EXPECT_EQ(lens[index], c.word);
      }
    }
  }
}

// Korin carries the coded length word in a 16-bit field.
TEST(FECVarSizeTest, CodedLengthWordsOfShortBlocksFitSixteenBits) {
  CFECVarSize fec;
  ASSERT_EQ(0u, fec.Init(16, kMax));
  std::mt19937 rng(8);
  std::vector<int> lens(16);
  for (int& len : lens) len = static_cast<int>(rng() % 65536);
  lens[3] = 65535;
  for (int index = 0; index < 256; ++index) {
    int word = -1;
    ASSERT_EQ(0u, fec.EncodeLengths(lens.data(), reinterpret_cast<BYTE*>(&word), index));
    EXPECT_EQ(0, word >> 16) << index;
  }
}

TEST(FECVarSizeTest, LengthWordsDecodeInAnyOrder) {
  CFECVarSize fec;
  ASSERT_EQ(0u, fec.Init(4, kMax));
  std::vector<int> lens = {10, 0, 1441, 65535};
  std::vector<int> index = {6, 2, 200, 0};
  std::vector<int> words(4);
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(0u, fec.EncodeLengths(lens.data(), reinterpret_cast<BYTE*>(&words[i]), index[i]));
  }
  std::vector<int> out(4, -1);
  ASSERT_EQ(0u, fec.DecodeLengths(words.data(), index.data(), out.data()));
  EXPECT_EQ(lens, out);
  // The words moved with their indexes: data index i sits in entry i.
  EXPECT_EQ(0, index[0]);
  EXPECT_EQ(10, words[0]);
  EXPECT_EQ(2, index[2]);
  EXPECT_EQ(1441, words[2]);
}

TEST(FECVarSizeTest, LostBlocksComeBackWithTheirLengths) {
  std::mt19937 rng(2);
  for (const std::vector<int>& lens : kLengthSets) {
    Group g(lens, 3);
    const int k = g.K();
    CFECVarSize fec;
    ASSERT_EQ(0u, fec.Init(k, kMax));
    std::vector<int> all(256);
    for (int i = 0; i < 256; ++i) all[i] = i;
    for (int round = 0; round < 6; ++round) {
      std::shuffle(all.begin(), all.end(), rng);
      if (round == 0) std::sort(all.begin(), all.begin() + k);  // nothing lost
      std::vector<Coded> blocks;
      std::vector<BYTE*> pkt(k);
      std::vector<int> index(all.begin(), all.begin() + k), recv(k), hdr(k);
      for (int i = 0; i < k; ++i) {
        blocks.push_back(EncodeBlock(fec, g, index[i]));
        // A data block travels with its own length, a parity block with the longest.
        recv[i] = index[i] < k ? lens[index[i]] : blocks[i].len;
        hdr[i] = blocks[i].word;
      }
      for (int i = 0; i < k; ++i) pkt[i] = blocks[i].bytes.data();
      std::vector<std::vector<BYTE>> out(k, std::vector<BYTE>(kMax, 0xEE));
      std::vector<BYTE*> outp(k);
      for (int i = 0; i < k; ++i) outp[i] = out[i].data();
      std::vector<int> outLens(k, -1);
      ASSERT_EQ(0u, fec.Decode(pkt.data(), index.data(), recv.data(), hdr.data(), kMax, outp.data(),
                               outLens.data()));
      EXPECT_EQ(lens, outLens);
      for (int i = 0; i < k; ++i) {
        EXPECT_TRUE(std::equal(out[i].begin(), out[i].begin() + lens[i], g.data[i].begin()))
            << testing::PrintToString(lens) << " block " << i;
        if (index[i] < k) {
          EXPECT_EQ(i, index[i]);
        }
      }
    }
  }
}

TEST(FECVarSizeTest, BadEncodeIsRefusedWithNoOutput) {
  Group g({100, 300, 0, 5}, 4);
  CFECVarSize fec;
  ASSERT_EQ(0u, fec.Init(4, 400));
  std::vector<BYTE> dst(400);
  int outLen = -1, word = 0;
  EXPECT_EQ(87u, fec.Encode(g.ptrs.data(), g.lens.data(), dst.data(), 299, &outLen,
                            reinterpret_cast<BYTE*>(&word), 5));
  EXPECT_EQ(0, outLen);
  outLen = -1;
  EXPECT_EQ(87u, fec.Encode(g.ptrs.data(), g.lens.data(), dst.data(), 400, &outLen,
                            reinterpret_cast<BYTE*>(&word), 256));
  EXPECT_EQ(0, outLen);
  std::vector<int> negative = {100, -1, 0, 5};
  EXPECT_EQ(87u, fec.Encode(g.ptrs.data(), negative.data(), dst.data(), 400, &outLen,
                            reinterpret_cast<BYTE*>(&word), 5));
  EXPECT_EQ(0u, fec.Encode(g.ptrs.data(), g.lens.data(), dst.data(), 300, &outLen,
                           reinterpret_cast<BYTE*>(&word), 5));
  EXPECT_EQ(300, outLen);
}

// A group of k = 2 whose data block 0 was lost, received as data block 1 and
// parity 2, with the fields a hostile or broken sender might bend.
TEST(FECVarSizeTest, BadDecodeIsRefused) {
  Group g({50, 20}, 5);
  CFECVarSize fec;
  ASSERT_EQ(0u, fec.Init(2, 64));
  Coded d1 = EncodeBlock(fec, g, 1, 64);
  Coded p2 = EncodeBlock(fec, g, 2, 64);
  struct Case {
    const char* what;
    std::vector<int> index, recv, hdr;
    int buffSize;
    DWORD result;
  } cases[] = {
      {"good", {1, 2}, {20, 50}, {20, p2.word}, 64, 0},
      {"parity shorter than the longest block", {1, 2}, {20, 49}, {20, p2.word}, 64, 87},
      {"data block shorter than its length", {1, 2}, {19, 50}, {20, p2.word}, 64, 87},
      {"restored length above the buffer", {1, 2}, {20, 50}, {20, p2.word}, 49, 87},
      {"length word beyond any buffer", {1, 2}, {20, 50}, {20, p2.word ^ 0x10000}, 64, 87},
      {"buffer above the maximum", {1, 2}, {20, 50}, {20, p2.word}, 65, 87},
      {"data block twice", {1, 1}, {20, 20}, {20, 20}, 64, 31},
      {"parity block twice", {2, 2}, {50, 50}, {p2.word, p2.word}, 64, 31},
      {"index 256", {1, 256}, {20, 50}, {20, p2.word}, 64, 87},
  };
  for (Case& c : cases) {
    std::vector<BYTE> o0(64), o1(64);
    BYTE* out[] = {o0.data(), o1.data()};
    BYTE* pkt[] = {c.index[0] == 1 ? d1.bytes.data() : p2.bytes.data(), p2.bytes.data()};
    int outLens[2] = {-1, -1};
    EXPECT_EQ(c.result, fec.Decode(pkt, c.index.data(), c.recv.data(), c.hdr.data(), c.buffSize,
                                   out, outLens))
        << c.what;
    if (c.result == 0) {
      EXPECT_EQ(50, outLens[0]);
      EXPECT_TRUE(std::equal(o0.begin(), o0.begin() + 50, g.data[0].begin()));
      EXPECT_TRUE(std::equal(o1.begin(), o1.begin() + 20, g.data[1].begin()));
    }
  }
}

}  // namespace
