// CSndrIOThread: the one thread of a Korin sender that touches the socket. It
// sends the queued data packets with their header, reads receivers' NACKs,
// and answers them with repairs from the repair cache. Data always goes
// before repairs.
//
// Thread safety: QueueSend, SetLowWater, GetLowWater, GetSequence and
// GetRepairsQueued may be called from any thread while the I/O thread runs.
// The owner stops the thread by destroying the object.
#pragma once

#include <atomic>
#include <memory>

#include "fec/FECVarSize.h"
#include "korin/CacheResendList.h"
#include "korin/SendQueue.h"
#include "korin/Wire.h"
#include "mcast/Lock.h"
#include "mcast/ReqReply.h"
#include "platform/Win32Types.h"

class CMulticast;

class CSndrIOThread {
 public:
  // The socket-event wait of the thread; a stop is seen within it.
  static constexpr DWORD kWaitMs = 500;
  // A wait for the rate limiter's credit up to this long is left to the send.
  static constexpr DWORD kSendSleepMs = 5;

  CSndrIOThread();
  // Stops the thread (the stop handshake), then frees what it used.
  ~CSndrIOThread();
  CSndrIOThread(const CSndrIOThread&) = delete;
  CSndrIOThread& operator=(const CSndrIOThread&) = delete;

  // Sets up the counters (sequence K - 1, low water and key low water K), the
  // send queue, the repair cache, the coder and the socket events of pPort,
  // then starts the thread. FALSE on any failure. Called once.
  // REQUIRES: 1 <= nK <= 16; pPort open and outliving this object.
  BOOL Init(int nK, CMulticast* pPort, DWORD dwHoldOffMs);

  // Hands a send to the thread, which completes it (see CSendReq). FALSE (the
  // request not taken) when the thread does not run or memory is short.
  BOOL QueueSend(CSendReq* pReq);

  // Raises the low water to dwLowWater. The key low water, which every header
  // carries and below which the cache is purged, becomes the key of the low
  // water in force before this call. FALSE if dwLowWater is below the current.
  BOOL SetLowWater(DWORD dwLowWater);
  DWORD GetLowWater() const { return m_LowWater.load(); }
  DWORD GetKeyLowWater() const { return m_KeyLowWater.load(); }
  // The sequence of the last reliable packet sent (K - 1 before the first).
  DWORD GetSequence() const { return m_Sequence.load(); }
  DWORD GetRepairsQueued() const;
  // Keys the repair cache dropped for its bound.
  DWORD GetKeysDropped() const;

 private:
  static DWORD ThreadProc(LPVOID pParam);
  void Run();
  void Stop();
  void ReadNACK();
  void Write();
  void SendData(CSendReq* pReq);
  void SendRepair();
  void FailQueuedSends();

  HANDLE m_hThread;
  DWORD m_dwThreadId;
  int m_nK;
  CReqReply m_Stop;
  CMulticast* m_pPort;    // not owned
  HANDLE m_hReadEvent;    // FD_READ on the port's receive socket
  HANDLE m_hWriteEvent;   // FD_WRITE on the port's send socket
  std::unique_ptr<BYTE[]> m_pResendBuffer;  // I/O thread only
  DWORD m_dwResendBufferSize;
  CFECVarSize m_FEC;      // I/O thread only
  CLock m_LowWaterLock;   // serialises SetLowWater
  std::atomic<DWORD> m_LowWater;
  std::atomic<DWORD> m_KeyLowWater;  // the LowWater of every header sent
  std::atomic<DWORD> m_Sequence;     // written by the I/O thread only
  CSendQueue m_SendQueue;
  std::unique_ptr<CCacheResendList> m_pCacheResendList;
  // The repair a would-block interrupted, sent again before any new one.
  BOOL m_fRepairBlocked;                     // I/O thread only
  BYTE m_bRepairHeader[SRM_HEADER_LEN];      // I/O thread only
  DWORD m_dwRepairPayloadBytes;              // I/O thread only
};
