// CPacketAndInfo: one received slide-protocol packet with the Korin delivery
// data that came with it; owns a private copy of the bytes.
#pragma once

#include "platform/Win32Types.h"

class CPacketAndInfo {
 public:
  // Copies dwLen bytes of pPacket. REQUIRES: pPacket != nullptr, dwLen > 0.
  // A failed allocation (or a broken precondition) leaves GetPacket() null.
  CPacketAndInfo(const void* pPacket, DWORD dwLen, DWORD dwSeq, DWORD dwLowWater);
  ~CPacketAndInfo();
  CPacketAndInfo(const CPacketAndInfo&) = delete;
  CPacketAndInfo& operator=(const CPacketAndInfo&) = delete;

  BOOL IsValid() const { return m_pPacket != nullptr; }
  BYTE* GetPacket() const { return m_pPacket; }
  DWORD GetLen() const { return m_dwLen; }
  DWORD GetLowWater() const { return m_dwLowWater; }
  DWORD GetSeq() const { return m_dwSeq; }

 private:
  BYTE* m_pPacket = nullptr;
  DWORD m_dwLen;
  DWORD m_dwLowWater;
  DWORD m_dwSeq;
};
