// IReliableReceiver: how an application takes packets from a reliable
// multicast receiver: each with its sequence number, the sender's low water
// and whether it came reliably. Deleted through its virtual destructor.
#pragma once

#include "platform/Win32Types.h"

class IReliableReceiver {
 public:
  virtual ~IReliableReceiver() = default;

  // Delivers the next packet into pBuf (bytes beyond dwBufLen are dropped,
  // *pdwBytesReceived is the whole length), blocking without limit while
  // nothing is ready. 0, or SOCKET_ERROR (-1) when the call cannot be
  // recorded or the wait fails.
  virtual int Receive(BYTE* pBuf, DWORD dwBufLen, DWORD* pdwBytesReceived, DWORD* pdwSequence,
                      DWORD* pdwLowWater, BOOL* pfReliable) = 0;
  // Size of a buffer that holds any packet.
  virtual int GetMaxPacketSize() = 0;
  // 1 when a packet is ready within lSec s + lUsec us (lSec -1: no limit),
  // 0 on time-out. Takes nothing.
  virtual int Wait(long lSec, long lUsec) = 0;
};
