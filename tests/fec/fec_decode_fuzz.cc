// Feeds arbitrary groups to the variable-size decoder as a receiver gets them
// from the network: indexes, received lengths and length words all hostile,
// each block in a buffer of exactly its received length. Then codes a group
// made from the same bytes and checks that it decodes to what was sent.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fec/FECVarSize.h"

namespace {

constexpr int kMaxBlock = 300;

// Reads bytes off the front of the input, zeros once it is used up.
struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  int Word() {
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w |= static_cast<uint32_t>(Byte()) << (8 * i);
    return static_cast<int>(w);
  }
};

CFECVarSize& Coder(int k) {
  static std::unique_ptr<CFECVarSize> coders[17];
  if (!coders[k]) {
    coders[k] = std::make_unique<CFECVarSize>();
    if (coders[k]->Init(k, kMaxBlock) != 0) std::abort();
  }
  return *coders[k];
}

void Hostile(Reader& in) {
  const int k = 1 + in.Byte() % 16;
  CFECVarSize& fec = Coder(k);
  std::vector<std::vector<BYTE>> blocks(k);
  std::vector<BYTE*> pkt(k);
  std::vector<int> index(k), recv(k), hdr(k), outLens(k);
  for (int i = 0; i < k; ++i) {
    const uint8_t sel = in.Byte();
    index[i] = sel < 250 ? in.Byte() % (k + 8) : (sel == 250 ? 256 : -1 - sel % 3);
    recv[i] = (in.Byte() | in.Byte() << 8) % (kMaxBlock + 20);
    hdr[i] = in.Byte() < 200 ? recv[i] : in.Word();
    blocks[i].resize(recv[i]);
    for (BYTE& b : blocks[i]) b = in.Byte();
    pkt[i] = blocks[i].empty() ? nullptr : blocks[i].data();
  }
  std::vector<std::vector<BYTE>> out(k, std::vector<BYTE>(kMaxBlock));
  std::vector<BYTE*> outp(k);
  for (int i = 0; i < k; ++i) outp[i] = out[i].data();
  fec.Decode(pkt.data(), index.data(), recv.data(), hdr.data(), kMaxBlock, outp.data(),
             outLens.data());
}

void RoundTrip(Reader& in) {
  const int k = 1 + in.Byte() % 16;
  CFECVarSize& fec = Coder(k);
  std::vector<std::vector<BYTE>> data(k);
  std::vector<BYTE*> src(k);
  std::vector<int> lens(k);
  for (int i = 0; i < k; ++i) {
    lens[i] = in.Byte() % (kMaxBlock + 1);
    data[i].resize(kMaxBlock);
    for (int j = 0; j < lens[i]; ++j) data[i][j] = in.Byte();
    src[i] = data[i].data();
  }
  // k distinct indexes of the 256, picked from the input.
  std::vector<int> pool(256);
  for (int i = 0; i < 256; ++i) pool[i] = i;
  std::vector<int> index(k);
  for (int i = 0; i < k; ++i) {
    const int j = i + in.Byte() % (256 - i);
    std::swap(pool[i], pool[j]);
    index[i] = pool[i];
  }
  std::vector<std::vector<BYTE>> coded(k);
  std::vector<BYTE*> pkt(k);
  std::vector<int> recv(k), hdr(k);
  for (int i = 0; i < k; ++i) {
    std::vector<BYTE> buf(kMaxBlock);
    int outLen = 0;
    if (fec.Encode(src.data(), lens.data(), buf.data(), kMaxBlock, &outLen,
                   reinterpret_cast<BYTE*>(&hdr[i]), index[i]) != 0) {
      std::abort();
    }
    recv[i] = index[i] < k ? lens[index[i]] : outLen;
    coded[i].assign(buf.begin(), buf.begin() + recv[i]);
    pkt[i] = coded[i].data();
  }
  std::vector<std::vector<BYTE>> out(k, std::vector<BYTE>(kMaxBlock));
  std::vector<BYTE*> outp(k);
  for (int i = 0; i < k; ++i) outp[i] = out[i].data();
  std::vector<int> outLens(k);
  if (fec.Decode(pkt.data(), index.data(), recv.data(), hdr.data(), kMaxBlock, outp.data(),
                 outLens.data()) != 0) {
    std::abort();
  }
  for (int i = 0; i < k; ++i) {
    if (outLens[i] != lens[i] || std::memcmp(out[i].data(), data[i].data(), lens[i]) != 0) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 65536) return 0;
  Reader in{data + 1, size - 1};
  if (data[0] & 1) {
    RoundTrip(in);
  } else {
    Hostile(in);
  }
  return 0;
}
