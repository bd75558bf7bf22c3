// CPelagoSession: what one file multicast session needs besides the files:
// group address and port, time-to-live, source id, erasure-code parameters,
// payload length and send rate. A plain value; senders and receivers keep
// their own copy. Not locked: one thread at a time.
#pragma once

#include "platform/Win32Types.h"

class CPelagoSession {
 public:
  CPelagoSession();
  CPelagoSession(const CPelagoSession&) = default;
  CPelagoSession& operator=(const CPelagoSession&) = default;

  // The send form. 87 (session unchanged) unless 0 < K <= 256, K <= N <= 256,
  // payloadLen != 0, dataRate != 0 and maddr is a string of at most 15
  // characters; else 0.
  int SessionInit(const char* maddr, unsigned short port, unsigned short ttl,
                  unsigned long dataRate, unsigned long sourceId, int K, int N,
                  unsigned long payloadLen);
  // The receive form: address, port and source id; TTL, K, N, payload length
  // and data rate become 0. Always 0 (an address longer than 15 characters is
  // cut to 15).
  int SessionInit(const char* maddr, unsigned short port, unsigned long sourceId);

  char* GetMaddr() { return m_szMaddr; }
  unsigned short GetPort() const { return m_wPort; }
  unsigned short GetTTL() const { return m_wTTL; }
  unsigned long GetSourceId() const { return m_dwSourceId; }
  unsigned long GetK() const { return m_dwK; }
  unsigned long GetN() const { return m_dwN; }
  unsigned long GetPayloadLen() const { return m_dwPayloadLen; }
  unsigned long GetDataRate() const { return m_dwDataRateBytesPerSec; }

  // Non-zero ends a running transfer; this session never ends one.
  int EndOfSession() { return 0; }
  int SessionClose() { return 0; }

 private:
  char m_szMaddr[16];
  unsigned short m_wPort;
  unsigned short m_wTTL;
  DWORD m_dwSourceId;
  DWORD m_dwK;
  DWORD m_dwN;
  DWORD m_dwPayloadLen;
  DWORD m_dwDataRateBytesPerSec;
};
