#include "Pelago/PacketQueueEntry.h"

#include <new>

#include "ErrStuff/DebugTrace.h"

CPacketQueueEntry::CPacketQueueEntry()
    : m_lFree(1), m_Header{}, m_pBuffer(nullptr), m_dwDataLen(0), m_dwCapacity(0) {}

DWORD CPacketQueueEntry::Init(DWORD dwLen) {
  Release();
  if (dwLen == 0) return ERROR_INVALID_PARAMETER;
  m_pBuffer = new (std::nothrow) BYTE[dwLen];
  if (m_pBuffer == nullptr) {
    DebugTrace("CPacketQueueEntry::Init: new failed\n");
    return 1450;  // ERROR_NO_SYSTEM_RESOURCES
  }
  m_dwCapacity = dwLen;
  m_dwDataLen = dwLen;
  return 0;
}

void CPacketQueueEntry::Release() {
  delete[] m_pBuffer;
  m_pBuffer = nullptr;
  m_dwDataLen = 0;
  m_dwCapacity = 0;
  m_Header = tPacketHeader{};
  m_lFree.store(1);
}
