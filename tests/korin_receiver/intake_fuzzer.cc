// Drives the receiver's datagram intake (header check, statistics, NACK
// list, FEC groups, receive queue) with arbitrary datagrams, NACK sends and
// receive calls, without a socket.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "korin/NACKlist.h"
#include "korin/RcvrIOThread.h"
#include "korin/RecvQueue.h"
#include "korin/Wire.h"
#include "platform/Handle.h"
#include "platform/Tick.h"

namespace {

class Input {
 public:
  Input(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
  bool Empty() const { return m_i >= m_n; }
  uint8_t Byte() { return m_i < m_n ? m_p[m_i++] : 0; }
  DWORD Bytes(size_t n, BYTE* pOut) {
    const size_t nTake = n < m_n - m_i ? n : m_n - m_i;
    if (nTake > 0) std::memcpy(pOut, m_p + m_i, nTake);
    m_i += nTake;
    return static_cast<DWORD>(nTake);
  }

 private:
  const uint8_t* m_p;
  size_t m_n;
  size_t m_i = 0;
};

void Deliver(CRcvrIOThread* pIO, const std::vector<BYTE>& datagram) {
  BYTE header[SRM_HEADER_LEN] = {};
  const DWORD dwBytes = static_cast<DWORD>(datagram.size());
  if (dwBytes > 0) {
    std::memcpy(header, datagram.data(), dwBytes < SRM_HEADER_LEN ? dwBytes : SRM_HEADER_LEN);
  }
  const DWORD dwPayload = dwBytes > SRM_HEADER_LEN ? dwBytes - SRM_HEADER_LEN : 1;
  BYTE* pPayload = new BYTE[dwPayload];
  if (dwBytes > SRM_HEADER_LEN) {
    std::memcpy(pPayload, datagram.data() + SRM_HEADER_LEN, dwPayload);
  }
  pIO->TakeDatagram(header, pPayload, dwBytes);
}

// A well-formed data packet near the stream's current position, so that
// random input reaches the NACK and group logic.
std::vector<BYTE> DataPacket(Input* pIn, int nK, DWORD* pdwBase) {
  const uint8_t bFlags = pIn->Byte();
  const uint8_t bJump = pIn->Byte();
  DWORD dwSeq = *pdwBase + bJump % 24;
  // Now and then forged progress: far ahead, with a low water up to the packet.
  if ((bJump & 0xE0) == 0xE0) dwSeq += CNACKlist::kSequenceWindow + (bJump & 0x1F) * 0x1000;
  if (bFlags & 0x80) *pdwBase += nK;
  DWORD dwLowWater = *pdwBase - (bFlags & 0x40 ? 0 : nK);
  if ((bFlags & 0x18) == 0x18) dwLowWater = SEQ_TO_KEY(dwSeq + 1, nK);
  tSRMHeader header = MakeDataHeader(bFlags & 1, dwSeq, nK, dwLowWater, 0);
  if (bFlags & 2) {  // a repair
    header.Key = SEQ_TO_KEY(dwSeq, nK);
    header.Index = static_cast<BYTE>(nK + (bFlags >> 2) % 4);
    header.Sequence = KEY_LAST_SEQ(header.Key, nK);
  }
  std::vector<BYTE> datagram(SRM_HEADER_LEN + pIn->Byte() % 40);
  header.PayloadLen = static_cast<WORD>(datagram.size() - SRM_HEADER_LEN);
  if (bFlags & 0x20) header.PayloadLen = static_cast<WORD>(pIn->Byte() * 3);
  EncodeSRMHeader(header, datagram.data());
  pIn->Bytes(datagram.size() - SRM_HEADER_LEN, datagram.data() + SRM_HEADER_LEN);
  return datagram;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  static const bool s_fClock = [] {
    platform::FakeTickClock::Install(0x10000);
    return true;
  }();
  (void)s_fClock;
  Input in(pData, nSize);
  const int nK = in.Byte() % KORIN_MAX_K + 1;
  // Receive buffers and event outlive the queue, which may still hold a
  // waiting receive pointing at them.
  std::vector<BYTE> buf(64);
  WSABUF wsabuf = {static_cast<ULONG>(buf.size()), reinterpret_cast<char*>(buf.data())};
  OVERLAPPED ov = {};
  ov.hEvent = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  DWORD dwBytes = 0, dwSeq = 0, dwLow = 0;
  BOOL fRel = FALSE, fPending = FALSE, fWaiting = FALSE;
  {
    CRecvQueue queue(nK);
    // A small bound, so that unread packets and groups get dropped.
    if (!queue.Init(256, 2048)) return 0;
    CRcvrIOThread io(nK);
    io.InitList(100, 4500, 3, &queue);
    DWORD dwBase = static_cast<DWORD>(nK);
    while (!in.Empty()) {
      const uint8_t bOp = in.Byte();
      switch (bOp % 5) {
        case 0: {  // raw datagram
          std::vector<BYTE> datagram(in.Byte());
          datagram.resize(in.Bytes(datagram.size(), datagram.data()));
          Deliver(&io, datagram);
          break;
        }
        case 1:
        case 2:
          Deliver(&io, DataPacket(&in, nK, &dwBase));
          break;
        case 3: {  // time passes; a due NACK goes out (or fails)
          platform::FakeTickClock::Advance(in.Byte() * 150u);
          BYTE packet[NACK_PACKET_MAX_LEN];
          DWORD dwLen = 0;
          if (io.BuildNACKPacket(packet, &dwLen)) {
            tNACKPacket parsed;
            if (ParseNACKPacket(packet, dwLen, &parsed) != KorinCheck::Ok) __builtin_trap();
            io.AfterSend((bOp >> 3) & 1);
          }
          break;
        }
        default:  // the application takes what is ready
          if (fWaiting && WaitForSingleObject(ov.hEvent, 0) == WAIT_OBJECT_0) {
            ResetEvent(ov.hEvent);
            fWaiting = FALSE;
          }
          for (int i = 0; i < 8 && !fWaiting; ++i) {
            if (!queue.Recv(&wsabuf, 1, &dwBytes, nullptr, nullptr, &ov, nullptr, &dwSeq, &dwLow,
                            &fRel, &fPending)) {
              break;
            }
            fWaiting = fPending;
          }
          break;
      }
      // Unread entries stay within the bound (or one entry beyond an empty queue).
      if (queue.GetQueuedBytes() > 2048 + KORIN_MAX_K * (256 + CRecvQueue::kRecordChargeBytes)) {
        __builtin_trap();
      }
    }
  }
  CloseHandle(ov.hEvent);
  return 0;
}
