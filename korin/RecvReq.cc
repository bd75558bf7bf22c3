#include "korin/RecvReq.h"

#include <algorithm>
#include <cstring>

#include "platform/DebugOutput.h"
#include "platform/Handle.h"

CRecvReq::CRecvReq(LPWSABUF lpBuffers_, DWORD dwBufferCount_, LPDWORD lpNumberOfBytesRecvd_,
                   sockaddr* lpFrom_, int* lpFromlen_, LPOVERLAPPED lpOverlapped_,
                   LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionROUTINE_, LPDWORD pSequence_,
                   LPDWORD pLowWater_, BOOL* pfReliable_)
    : lpBuffers(lpBuffers_), dwBufferCount(dwBufferCount_),
      lpNumberOfBytesRecvd(lpNumberOfBytesRecvd_), lpFrom(lpFrom_), lpFromlen(lpFromlen_),
      lpOverlapped(lpOverlapped_), lpCompletionROUTINE(lpCompletionROUTINE_),
      pSequence(pSequence_), pLowWater(pLowWater_), pfReliable(pfReliable_) {
  ORV_ASSERT(lpBuffers != nullptr);
  ORV_ASSERT(dwBufferCount == 1);
  ORV_ASSERT(lpOverlapped != nullptr);
  ORV_ASSERT(lpCompletionROUTINE == nullptr);
}

BOOL CRecvReq::IsValid() const {
  return lpBuffers != nullptr && dwBufferCount == 1 && lpOverlapped != nullptr &&
         lpOverlapped->hEvent != nullptr && lpCompletionROUTINE == nullptr &&
         lpNumberOfBytesRecvd != nullptr && pSequence != nullptr && pLowWater != nullptr &&
         pfReliable != nullptr;
}

void CRecvReq::CopyToBuffers(LPWSABUF lpBuffers, DWORD dwBufferCount, const BYTE* pData,
                             DWORD dwLen) {
  DWORD dwDone = 0;
  for (DWORD i = 0; i < dwBufferCount && dwDone < dwLen; ++i) {
    const DWORD dwPart = std::min<DWORD>(lpBuffers[i].len, dwLen - dwDone);
    if (dwPart > 0) std::memcpy(lpBuffers[i].buf, pData + dwDone, dwPart);
    dwDone += dwPart;
  }
}

void CRecvReq::Fill(const BYTE* pData, DWORD dwLen, DWORD dwSequence, DWORD dwLowWater,
                    BOOL fReliable) {
  CopyToBuffers(lpBuffers, dwBufferCount, pData, dwLen);
  *lpNumberOfBytesRecvd = dwLen;
  *pSequence = dwSequence;
  *pLowWater = dwLowWater;
  *pfReliable = fReliable;
}

void CRecvReq::Complete() { SetEvent(lpOverlapped->hEvent); }
