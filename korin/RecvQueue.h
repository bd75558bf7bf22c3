// CRecvQueue: hands what the receiver I/O thread accepted to the application's
// receive calls: single packets in arrival order first, then complete FEC
// groups, decoded and delivered as K consecutive reliable sequence numbers.
// Thread-safe: the I/O thread adds, the application thread receives; every
// operation holds m_Lock, blocking waits happen outside it.
#pragma once

#include <atomic>
#include <list>
#include <memory>

#include "korin/FECGroup.h"
#include "korin/RecvReq.h"
#include "korin/Wire.h"
#include "mcast/Lock.h"
#include "platform/Win32Types.h"

class CRecvQueue {
 public:
  explicit CRecvQueue(int nK);
  virtual ~CRecvQueue();
  CRecvQueue(const CRecvQueue&) = delete;
  CRecvQueue& operator=(const CRecvQueue&) = delete;

  // Creates the packet-ready event, the decoder and K decode buffers.
  BOOL Init(DWORD dwMaxPacketSize);

  // Hands one accepted packet to the first waiting receive, or queues it.
  // Takes ownership of pPayload (new[]) in all cases. FALSE when the packet
  // had to be queued and its record could not be allocated: that packet only
  // is lost.
  BOOL AddPacket(const tSRMHeader& header, BYTE* pPayload, DWORD dwLen);

  // Queues a full group for decoding; takes ownership of it. A waiting receive
  // gets the group's first packet at once. A group that does not decode is
  // dropped and the receive keeps waiting. FALSE only when the group could not
  // be queued (it is freed).
  BOOL AddGroup(CFECGroup* pGroup);

  // Delivers the next ready packet (*pfPending FALSE) or records the call as
  // waiting (*pfPending TRUE; the results arrive with the overlapped record's
  // event). FALSE when the call is invalid or cannot be recorded.
  BOOL Recv(LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesRecvd,
            sockaddr* lpFrom, int* lpFromlen, LPOVERLAPPED lpOverlapped,
            LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionROUTINE, LPDWORD pSequence,
            LPDWORD pLowWater, BOOL* pfReliable, BOOL* pfPending);

  // Raises the low water (a lower or equal value changes nothing) and drops
  // queued groups below its key. Queued single packets and the group being
  // delivered stay.
  void SetLowWater(DWORD dwLowWater);
  DWORD GetLowWater() const { return m_LowWater.load(); }

  // 1 when a packet is ready within dwMilliseconds, else 0. Takes nothing.
  int Wait(DWORD dwMilliseconds);

 protected:
  // One queued single packet.
  struct tQueuedPacket {
    tSRMHeader Header;
    std::unique_ptr<BYTE[]> pPayload;
    DWORD dwLen;
  };
  // Test seam: allocates a queued-packet record (nullptr: out of memory).
  virtual tQueuedPacket* NewQueuedPacket();

 private:
  // Makes a decoded group current if none is, dropping groups that fail to
  // decode, and yields its next packet. FALSE when no group is ready.
  BOOL NextGroupPacket(const BYTE** ppData, DWORD* pdwLen, DWORD* pdwSequence);
  BOOL IsReady() const;
  void ResetIfIdle();

  const int m_nK;
  // All below guarded by m_Lock.
  std::list<std::unique_ptr<CFECGroup>> m_Groups;
  std::list<std::unique_ptr<CRecvReq>> m_Requests;
  std::list<std::unique_ptr<tQueuedPacket>> m_Packets;
  BYTE* m_pDecodeBufs[CFECGroup::kMaxK];
  int m_nRemaining;  // packets of the current decoded group not yet delivered
  DWORD m_dwMaxPacketSize;
  DWORD m_dwCurrentKey;
  int m_nDecodedLens[CFECGroup::kMaxK];
  CFECVarSize m_Coder;
  // Written only by interlocked exchange (I/O thread); read anywhere.
  std::atomic<DWORD> m_LowWater;
  HANDLE m_hPacketReady;  // manual reset; set while something is ready
  CLock m_Lock;
};
