// IReliableSender: how a user sends Korin packets, reliably (cached by the
// sender and repaired on NACK, with a sequence number) or unreliably.
//
// Used as a virtual base; users delete a sender through it. One thread at a
// time may send through one sender.
#pragma once

#include "platform/Win32Types.h"

class IReliableSender {
 public:
  virtual ~IReliableSender() = default;

  // Sends one payload of at most GetMaxPayload() bytes. Returns the bytes sent
  // including the 19-byte header, or -1 (SOCKET_ERROR). A reliable send stores
  // the packet's sequence in *pdwSequence.
  // REQUIRES: pdwSequence != NULL when fReliable.
  virtual int Send(const BYTE* pBuf, DWORD dwLen, DWORD* pdwSequence, BOOL fReliable) = 0;
  // Send(pBuf, dwLen, NULL, FALSE).
  virtual int SendUnreliable(const BYTE* pBuf, DWORD dwLen) = 0;
  // The port's rate limit in bytes per second (0 = none): 0, 87 or 8.
  virtual DWORD SetDataRate(DWORD dwBytesPerSec) = 0;
  // The largest payload of one packet: the port's maximum send length - 19.
  virtual DWORD GetMaxPayload() = 0;
  // TRUE when the socket became writable within the time-out.
  virtual BOOL WaitForSendReady(long lSec, long lUsec) = 0;
  // Repair packets requested by NACKs and not yet sent; 0 without I/O thread.
  virtual DWORD GetRepairsQueued() = 0;
  // Raises the low water (a sequence number); FALSE if below the current one.
  virtual BOOL SetLowWater(DWORD dwLowWater) = 0;

 protected:
  IReliableSender() = default;
  IReliableSender(const IReliableSender&) = delete;
  IReliableSender& operator=(const IReliableSender&) = delete;
};
