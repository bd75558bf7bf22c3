#include "orvalo/PacketAndInfo.h"

#include <cstring>
#include <new>

#include "platform/DebugOutput.h"

CPacketAndInfo::CPacketAndInfo(const void* pPacket, DWORD dwLen, DWORD dwSeq, DWORD dwLowWater)
    : m_dwLen(dwLen), m_dwLowWater(dwLowWater), m_dwSeq(dwSeq) {
  if (!ORV_ASSERT(pPacket != nullptr) || !ORV_ASSERT(dwLen > 0)) {
    m_dwLen = 0;
    return;
  }
  m_pPacket = new (std::nothrow) BYTE[dwLen];
  if (m_pPacket) std::memcpy(m_pPacket, pPacket, dwLen);
}

CPacketAndInfo::~CPacketAndInfo() { delete[] m_pPacket; }
