// CRecvReq: one receive call waiting in the receive queue for data. It holds
// only the caller's pointers; the queue writes the results through them and
// signals the overlapped record's event.
#pragma once

#include "platform/Win32Types.h"
#include "korin/Wire.h"
#include "mcast/Winsock.h"

struct sockaddr;  // the sender address area, passed through and never written

class CRecvReq {
 public:
  // REQUIRES: one buffer and an overlapped record (completion routines are
  // not supported); checked by assertions, IsValid() tells the outcome.
  CRecvReq(LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesRecvd,
           sockaddr* lpFrom, int* lpFromlen, LPOVERLAPPED lpOverlapped,
           LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionROUTINE, LPDWORD pSequence,
           LPDWORD pLowWater, BOOL* pfReliable);
  CRecvReq(const CRecvReq&) = delete;
  CRecvReq& operator=(const CRecvReq&) = delete;

  BOOL IsValid() const;

  // Writes one packet and its details to the caller. The reported length is
  // always dwLen; bytes beyond the caller's buffers are dropped.
  void Fill(const BYTE* pData, DWORD dwLen, DWORD dwSequence, DWORD dwLowWater, BOOL fReliable);
  // Signals the caller's event.
  void Complete();

  // Copies dwLen bytes into the buffers in order, each up to its length.
  static void CopyToBuffers(LPWSABUF lpBuffers, DWORD dwBufferCount, const BYTE* pData,
                            DWORD dwLen);

 private:
  LPWSABUF lpBuffers;
  DWORD dwBufferCount;
  LPDWORD lpNumberOfBytesRecvd;
  sockaddr* lpFrom;  // never written
  int* lpFromlen;    // never written
  LPOVERLAPPED lpOverlapped;
  LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionROUTINE;
  LPDWORD pSequence;
  LPDWORD pLowWater;
  BOOL* pfReliable;
};
