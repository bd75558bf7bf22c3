// CRecvQueue: hands what the receiver I/O thread accepted to the application's
// receive calls: single packets in arrival order first, then complete FEC
// groups, decoded and delivered as K consecutive reliable sequence numbers.
// A group is decoded when it is added, so that only deliverable packets count
// as ready. What waits for a reader is bounded in bytes: beyond the bound the
// oldest entries are dropped and counted.
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

  // What queued packets and groups may hold before the oldest are dropped.
  static constexpr DWORD kDefaultMaxQueuedBytes = 8 * 1024 * 1024;
  // Each queued packet is charged this much beyond its payload.
  static constexpr DWORD kRecordChargeBytes = 64;

  // Creates the packet-ready event, the decoder and K decode buffers.
  BOOL Init(DWORD dwMaxPacketSize, DWORD dwMaxQueuedBytes = kDefaultMaxQueuedBytes);

  // Hands one accepted packet to the first waiting receive, or queues it.
  // Takes ownership of pPayload (new[]) in all cases. FALSE when the packet
  // had to be queued and its record could not be allocated: that packet only
  // is lost.
  BOOL AddPacket(const tSRMHeader& header, BYTE* pPayload, DWORD dwLen);

  // Decodes a full group and queues its K packets; takes ownership of it. A
  // waiting receive gets the group's first packet at once. A group that does
  // not decode is dropped (and counted) and the receive keeps waiting. FALSE
  // only when the decoded group could not be queued.
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
  // Sets the low water to dwLowWater even when it is lower: the receiver
  // started over on another stream position.
  void ResetLowWater(DWORD dwLowWater);

  // 1 when a packet is ready within dwMilliseconds, else 0. Takes nothing.
  int Wait(DWORD dwMilliseconds);

  // Packets dropped because nobody read them in time (the byte bound).
  DWORD GetPacketsDropped();
  // Full groups that did not decode (forged or broken repairs).
  DWORD GetGroupsUndecodable();
  // Bytes charged for what waits to be read.
  DWORD GetQueuedBytes();

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
  // The K decoded packets of one group, delivered in index order.
  struct tDecodedGroup {
    DWORD dwKey;
    int nNext;                      // index of the next packet to deliver
    std::unique_ptr<BYTE[]> pData;  // the packets one after the other
    DWORD dwOffsets[CFECGroup::kMaxK];
    DWORD dwLens[CFECGroup::kMaxK];
    DWORD dwCharge;  // bytes charged against the bound
  };

  // Decodes a full group into a record of its own; nullptr when it does not
  // decode or memory is short.
  std::unique_ptr<tDecodedGroup> Decode(CFECGroup* pGroup);
  // Yields the next packet of the front group. FALSE when no group is queued.
  BOOL NextGroupPacket(const BYTE** ppData, DWORD* pdwLen, DWORD* pdwSequence);
  void PopDeliveredGroup();
  // Drops the oldest entries until dwIncoming more bytes fit the bound.
  void MakeRoom(DWORD dwIncoming);
  BOOL IsReady() const;
  void ResetIfIdle();

  const int m_nK;
  // All below guarded by m_Lock.
  std::list<std::unique_ptr<tDecodedGroup>> m_Groups;
  std::list<std::unique_ptr<CRecvReq>> m_Requests;
  std::list<std::unique_ptr<tQueuedPacket>> m_Packets;
  BYTE* m_pDecodeBufs[CFECGroup::kMaxK];
  DWORD m_dwMaxPacketSize;
  int m_nDecodedLens[CFECGroup::kMaxK];
  CFECVarSize m_Coder;
  DWORD m_dwMaxQueuedBytes;
  DWORD m_dwQueuedBytes;  // charged for m_Packets and m_Groups
  DWORD m_dwPacketsDropped;
  DWORD m_dwGroupsUndecodable;
  // Written only by interlocked exchange (I/O thread); read anywhere.
  std::atomic<DWORD> m_LowWater;
  HANDLE m_hPacketReady;  // manual reset; set while something is ready
  CLock m_Lock;
};
