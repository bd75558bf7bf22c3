// CSendThread: the sender's worker thread. Owns the multicast port (send side
// only) and the file's send stream, and sends its blocks one datagram each,
// paced by a rate limiter of its own whose waits a stop request cuts short,
// until stopped, until the rounds are done or on an error. Its owner is the
// CPelagoSend that created it.
#pragma once

#include <vector>

#include "Pelago/PacketHeader.h"
#include "Pelago/PelagoSession.h"
#include "Pelago/SendFile.h"
#include "mcast/Multicast.h"
#include "mcast/RateLimiter.h"
#include "mcast/xThread.h"
#include "platform/Win32Types.h"

class CPelagoSend;

class CSendThread : public CxThread {
 public:
  CSendThread();
  ~CSendThread() override;

  // Opens the port and lays out the stream of pSender's file. 0 or an error
  // (31 when the simulated loss cannot be set, the socket error, 8 for memory,
  // or CSendFile's error).
  unsigned long Init(CPelagoSend* pSender, unsigned long dwMaxRounds, unsigned long dwFileId);
  DWORD GetTotalBlocks() const { return m_SendFile.GetBlocks(); }

 protected:
  DWORD ThreadProc() override;

 private:
  unsigned long SndInit();
  // Sends header and payload as one datagram; dwLen must be the payload size.
  unsigned long Send(tPacketHeader* pHeader, BYTE* pBuf, DWORD dwLen);
  // Waits until the rate allows the next datagram: FALSE when a stop was
  // requested meanwhile.
  BOOL Pace();

  std::vector<BYTE> m_Payload;  // payload length bytes; send thread only after Init
  DWORD m_dwSentCount;
  CMulticast m_Port;
  CRateLimiter m_Limiter;  // send thread only after Init
  bool m_fLimited;         // a rate is in force
  DWORD m_dwPayloadSize;
  DWORD m_dwSeqNo;
  CSendFile m_SendFile;
  DWORD m_dwPayloadLen;
  DWORD m_dwMaxRounds;
  CPelagoSend* m_pSender;       // the owner
  CPelagoSession* m_pSession;   // the owner's copy
};
