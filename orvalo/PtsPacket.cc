#include "orvalo/PtsPacket.h"

#include <new>

#include "orvalo/LittleEndian.h"
#include "platform/DebugOutput.h"

using orvalo::LoadLe32;
using orvalo::StoreLe32;

namespace {
constexpr DWORD kHdr = tPtsPacketHeader::kSize;
constexpr DWORD kPt = tPtsPacketHeader::kPointSize;
constexpr DWORD kOffCount = 36;
constexpr DWORD kOffColor = 40;
}  // namespace

CPtsPacket::CPtsPacket(DWORD dwMaxPacketSize) {
  if (!ORV_ASSERT(dwMaxPacketSize >= kHdr)) return;
  BYTE* p = new (std::nothrow) BYTE[dwMaxPacketSize]();
  if (p == nullptr) return;
  AttachBuffer(p, dwMaxPacketSize);
  m_fOwnsBuffer = TRUE;
  m_dwSize = kHdr + kPt * m_dwMaxPoints;
  InitForFilling();
}

CPtsPacket::CPtsPacket(void* pPacket, DWORD dwSize, Attach how) {
  if (how == Attach::kRead) {
    AttachForReading(pPacket, dwSize);
    return;
  }
  if (!ORV_ASSERT(pPacket != nullptr && dwSize >= kHdr)) return;
  AttachBuffer(static_cast<BYTE*>(pPacket), dwSize);
  InitForFilling();
}

CPtsPacket::CPtsPacket(const void* pPacket, DWORD dwSize) { AttachForReading(pPacket, dwSize); }

void CPtsPacket::AttachForReading(const void* pPacket, DWORD dwSize) {
  if (pPacket == nullptr || dwSize < kHdr) return;
  const BYTE* p = static_cast<const BYTE*>(pPacket);
  if (LoadLe32(p + kOffCount) > (dwSize - kHdr) / kPt) return;
  // Never written through: every setter checks m_fReadOnly.
  AttachBuffer(const_cast<BYTE*>(p), dwSize);
  m_fReadOnly = TRUE;
}

CPtsPacket::~CPtsPacket() {
  if (m_fOwnsBuffer) delete[] m_pPacket;
}

void CPtsPacket::AttachBuffer(BYTE* pPacket, DWORD dwSize) {
  m_pPacket = pPacket;
  m_dwSize = dwSize;
  m_dwMaxPoints = (dwSize - kHdr) / kPt;
  m_PtArray = pPacket + kHdr;
}

void CPtsPacket::InitForFilling() {
  Header()->Clear();
  Header()->SetType(orvalo::kPacketTypePoints);
  Header()->SetTag(orvalo::kTagPoints);
  SetCount(0);
  SetColor(0);
}

void CPtsPacket::SetCount(DWORD dwCount) { StoreLe32(m_pPacket + kOffCount, dwCount); }

void CPtsPacket::SetColor(DWORD dwColor) {
  if (m_pPacket && !m_fReadOnly) StoreLe32(m_pPacket + kOffColor, dwColor);
}

DWORD CPtsPacket::GetColor() const { return m_pPacket ? LoadLe32(m_pPacket + kOffColor) : 0; }

void CPtsPacket::SetFirst(BOOL f) {
  if (m_pPacket && !m_fReadOnly) Header()->SetFirst(f & 1);
}

void CPtsPacket::SetMore(BOOL f) {
  if (m_pPacket && !m_fReadOnly) Header()->SetMore(f & 1);
}

void CPtsPacket::ClearPoints() {
  if (m_pPacket && !m_fReadOnly) SetCount(0);
}

DWORD CPtsPacket::GetNumPoints() const { return m_pPacket ? LoadLe32(m_pPacket + kOffCount) : 0; }

DWORD CPtsPacket::GetRoom() const {
  const DWORD dwCount = GetNumPoints();
  return dwCount < m_dwMaxPoints ? m_dwMaxPoints - dwCount : 0;
}

BOOL CPtsPacket::AddPoint(float x, float y) {
  if (m_pPacket == nullptr || m_fReadOnly) return FALSE;
  const DWORD dwCount = GetNumPoints();
  if (dwCount >= m_dwMaxPoints) return FALSE;
  BYTE* p = m_PtArray + kPt * dwCount;
  orvalo::StoreLeFloat(p, x);
  orvalo::StoreLeFloat(p + 4, y);
  SetCount(dwCount + 1);
  return TRUE;
}

DWORD CPtsPacket::GetSize() const { return m_pPacket ? kHdr + kPt * GetNumPoints() : 0; }

BOOL CPtsPacket::GetPoint(DWORD i, tPtsPoint* pPoint) const {
  if (m_pPacket == nullptr || i >= GetNumPoints() || i >= m_dwMaxPoints) return FALSE;
  const BYTE* p = m_PtArray + kPt * i;
  pPoint->x = orvalo::LoadLeFloat(p);
  pPoint->y = orvalo::LoadLeFloat(p + 4);
  return TRUE;
}
