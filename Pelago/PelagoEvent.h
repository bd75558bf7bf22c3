// CPelagoEvent: what the receiver's threads tell its caller (a file started, a
// file completed, the receive is complete, an error), carried by copies
// through the receiver's event queue; and tPelagoRecvStats, the receiver's
// counters. The Post functions make a heap copy and queue it.
#pragma once

#include "Pelago/PelagoFile.h"
#include "Pelago/PelagoRcvEvent.h"
#include "mcast/McastQueue.h"
#include "platform/Win32Types.h"

struct tPelagoRecvStats {
  DWORD RecvdCount;
  DWORD LostPackets;
  DWORD RedundantCount;
  DWORD OutOfOrderCount;
  DWORD StrayCount;
  DWORD Dropped;
  DWORD Decoded;
  DWORD FilesDone;
  DWORD FilesRcvd;
  DWORD FilesStarted;
  DWORD PayloadLen;
};

class CPelagoEvent {
 public:
  CPelagoEvent();

  PelagoRcvEvent GetEventType() const { return m_EventType; }
  void SetEventType(PelagoRcvEvent type) { m_EventType = type; }
  // REQUIRES: PELAGORE_ERROR or PELAGORE_FATAL_ERROR.
  DWORD GetErrorCode() const;
  // REQUIRES: PELAGORE_FILE_START or PELAGORE_FILE_COMPLETE.
  DWORD GetFileId() const;
  DWORD GetFileLen() const;
  // REQUIRES: PELAGORE_FILE_COMPLETE.
  const char* GetFileName() const;
  // Not filled by any poster.
  const tPelagoRecvStats& GetStats() const { return m_Stats; }

  void SetErrorCode(DWORD dwCode) { m_dwFileIdOrError = dwCode; }
  void SetFile(DWORD dwFileId, DWORD dwFileLen, const char* szName);

 private:
  PelagoRcvEvent m_EventType;
  DWORD m_dwFileIdOrError;
  DWORD m_dwFileLen;
  char m_szFileName[260];
  tPelagoRecvStats m_Stats;
};

using CPelagoEventQueue = CMcastQueue<CPelagoEvent>;

// Each queues a copy of its event; FALSE when it cannot (nothing is queued).
BOOL PostFatalError(CPelagoEventQueue* pQueue, DWORD dwCode);
BOOL PostError(CPelagoEventQueue* pQueue, DWORD dwCode);
BOOL PostFileStart(CPelagoEventQueue* pQueue, DWORD dwFileId, DWORD dwFileLen);
BOOL PostFileComplete(CPelagoEventQueue* pQueue, DWORD dwFileId, const CPelagoFile& file);
BOOL PostComplete(CPelagoEventQueue* pQueue);
