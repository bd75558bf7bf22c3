#include "Pelago/PelagoSession.h"

#include <cstring>

#include "platform/DebugOutput.h"

namespace {

// Copies at most 15 characters and the NUL.
void CopyAddress(char (&dst)[16], const char* src) {
  std::size_t n = ::strnlen(src, sizeof dst - 1);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

CPelagoSession::CPelagoSession()
    : m_szMaddr{},
      m_wPort(0),
      m_wTTL(0),
      m_dwSourceId(0),
      m_dwK(0),
      m_dwN(0),
      m_dwPayloadLen(0),
      m_dwDataRateBytesPerSec(0) {}

int CPelagoSession::SessionInit(const char* maddr, unsigned short port, unsigned short ttl,
                                unsigned long dataRate, unsigned long sourceId, int K, int N,
                                unsigned long payloadLen) {
  if (!ORV_ASSERT(K > 0)) return ERROR_INVALID_PARAMETER;
  if (!ORV_ASSERT(K <= 256)) return ERROR_INVALID_PARAMETER;
  if (!ORV_ASSERT(K <= N)) return ERROR_INVALID_PARAMETER;
  if (!ORV_ASSERT(N <= 256)) return ERROR_INVALID_PARAMETER;
  if (!ORV_ASSERT(payloadLen != 0)) return ERROR_INVALID_PARAMETER;
  if (!ORV_ASSERT(dataRate != 0)) return ERROR_INVALID_PARAMETER;
  if (!ORV_ASSERT(maddr != NULL && ::strnlen(maddr, 16) < 16)) return ERROR_INVALID_PARAMETER;
  CopyAddress(m_szMaddr, maddr);
  m_wPort = port;
  m_wTTL = ttl;
  m_dwSourceId = static_cast<DWORD>(sourceId);
  m_dwK = static_cast<DWORD>(K);
  m_dwN = static_cast<DWORD>(N);
  m_dwPayloadLen = static_cast<DWORD>(payloadLen);
  m_dwDataRateBytesPerSec = static_cast<DWORD>(dataRate);
  return 0;
}

int CPelagoSession::SessionInit(const char* maddr, unsigned short port, unsigned long sourceId) {
  CopyAddress(m_szMaddr, maddr != nullptr ? maddr : "");
  m_wPort = port;
  m_dwSourceId = static_cast<DWORD>(sourceId);
  m_wTTL = 0;
  m_dwK = 0;
  m_dwN = 0;
  m_dwPayloadLen = 0;
  m_dwDataRateBytesPerSec = 0;
  return 0;
}
