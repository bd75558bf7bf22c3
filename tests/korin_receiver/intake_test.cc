#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "korin/NACK.h"
#include "korin/RcvrIOThread.h"
#include "korin/RecvQueue.h"
#include "platform/DebugOutput.h"
#include "platform/Handle.h"
#include "tests/korin_receiver/Packets.h"

namespace {

using korin_test::Datagram;
using korin_test::Parity;
using korin_test::Source;

constexpr int kK = 4;

using TraceCapture = platform::ScopedDebugCapture;

// Hands one datagram to the intake path as the I/O thread reads it.
void Take(CRcvrIOThread* pIO, const std::vector<BYTE>& datagram) {
  BYTE header[SRM_HEADER_LEN] = {};
  const DWORD dwBytes = static_cast<DWORD>(datagram.size());
  if (dwBytes > 0) std::memcpy(header, datagram.data(), std::min<DWORD>(dwBytes, SRM_HEADER_LEN));
  const DWORD dwPayload = dwBytes > SRM_HEADER_LEN ? dwBytes - SRM_HEADER_LEN : 1;
  BYTE* pPayload = new BYTE[dwPayload];
  if (dwBytes > SRM_HEADER_LEN) std::memcpy(pPayload, datagram.data() + SRM_HEADER_LEN, dwPayload);
  pIO->TakeDatagram(header, pPayload, dwBytes);
}

TEST(RcvrIntake, DatagramsOfEveryShape) {
  Datagram none = Source(4, kK);
  none.header.PayloadLen = 0;
  std::vector<BYTE> empty(SRM_HEADER_LEN);  // a data packet without payload
  EncodeSRMHeader(none.header, empty.data());
  std::vector<BYTE> cut = empty;
  cut.resize(SRM_HEADER_LEN - 1);
  std::vector<BYTE> shortened = korin_test::Wire(Source(4, kK));
  shortened.pop_back();  // fewer bytes than its length says
  std::vector<BYTE> badCookie = korin_test::Wire(Source(4, kK));
  badCookie[3] ^= 1;
  std::vector<BYTE> type0 = korin_test::Wire(Source(4, kK)), type3 = type0;
  type0[0] &= ~3;
  type3[0] |= 3;
  Datagram wrongKey = Source(4, kK);
  wrongKey.header.Key = 8;  // not the key of its sequence
  Datagram unreliable = Source(4, kK, 4, FALSE);
  struct Case {
    const char* szName;
    std::vector<BYTE> datagram;
    int nQueuedBytes;  // -1: nothing queued
    BOOL fReliable;
    const char* szTrace;
  } cases[] = {
      {"19 bytes", empty, 0, TRUE, ""},
      {"18 bytes", cut, -1, FALSE, "Packet too short!\n"},
      {"nothing", {}, -1, FALSE, "Packet too short!\n"},
      {"bad cookie", badCookie, -1, FALSE, "BAD COOKIE!\n"},
      {"type 0", type0, -1, FALSE, ""},
      {"type 3", type3, -1, FALSE, ""},
      {"key of another sequence", korin_test::Wire(wrongKey), -1, FALSE, ""},
      {"payload cut short", shortened, -1, FALSE, "Implausible packet"},
      {"parity repair", korin_test::Wire(Parity(4, kK, 4)), -1, FALSE, ""},
      {"unreliable", korin_test::Wire(unreliable), static_cast<int>(unreliable.payload.size()),
       FALSE, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.szName);
    CRecvQueue queue(kK);
    ASSERT_TRUE(queue.Init(korin_test::kMaxPacket));
    CRcvrIOThread io(kK);
    ASSERT_TRUE(io.InitList(100, 4500, 3, &queue));
    TraceCapture trace;
    Take(&io, c.datagram);
    EXPECT_NE(trace.Text().find(c.szTrace), std::string::npos) << trace.Text();
    ASSERT_EQ(queue.Wait(0), c.nQueuedBytes < 0 ? 0 : 1);
    if (c.nQueuedBytes < 0) continue;
    std::vector<BYTE> buf(korin_test::kMaxPacket);
    WSABUF wsabuf = {static_cast<ULONG>(buf.size()), reinterpret_cast<char*>(buf.data())};
    OVERLAPPED ov = {};
    ov.hEvent = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
    DWORD dwBytes = 99, dwSeq = 0, dwLow = 0;
    BOOL fRel = 2, fPending = TRUE;
    ASSERT_TRUE(queue.Recv(&wsabuf, 1, &dwBytes, nullptr, nullptr, &ov, nullptr, &dwSeq, &dwLow,
                           &fRel, &fPending));
    EXPECT_FALSE(fPending);
    EXPECT_EQ(dwBytes, static_cast<DWORD>(c.nQueuedBytes));
    EXPECT_EQ(dwSeq, 4u);
    EXPECT_EQ(fRel, c.fReliable);
    CloseHandle(ov.hEvent);
  }
}

// A NACK whose count says more than the group still needs (counts merged
// from several gaps) must not hold a full group back: a full group stores
// nothing more, so its count would never reach 0.
TEST(CNACKStore, FullGroupIsHandedBackWhateverTheCount) {
  CFECGroup held(kK);
  held.SetFECKey(4);
  BOOL fNotStored = TRUE;
  for (DWORD seq : {4u, 5u}) {
    Datagram d = Source(seq, kK);
    ASSERT_TRUE(held.AddPacket(d.payload.data(), d.payload.size(), d.header, &fNotStored));
  }
  CNACK nack(kK, 100, 4500, 3, {{4, 3}, {4, 0}}, &held);
  std::unique_ptr<CFECGroup> pGroup;
  std::unique_ptr<CNACK> pSplit;
  Datagram p4 = Parity(4, kK, 4), p5 = Parity(4, kK, 5);
  ASSERT_TRUE(nack.Store(p4.header, p4.payload.data(), p4.payload.size(), &pGroup, &pSplit));
  EXPECT_EQ(pGroup, nullptr);
  ASSERT_TRUE(nack.Store(p5.header, p5.payload.data(), p5.payload.size(), &pGroup, &pSplit));
  ASSERT_NE(pGroup, nullptr);
  EXPECT_TRUE(pGroup->Full());
  EXPECT_TRUE(nack.IsEmpty());
  EXPECT_EQ(pSplit, nullptr);
}

}  // namespace
