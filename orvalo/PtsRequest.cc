#include <new>

#include "ErrStuff/DebugTrace.h"
#include "orvalo/Request.h"

BOOL CPtsRequest::AddPoint(float x, float y) {
  try {
    m_Points.push_back({x, y});
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}

BOOL CPtsRequest::GetNextPacket(BYTE* pPacket, DWORD dwMaxLen, DWORD* pdwLen, BOOL* pfMore) {
  if (pPacket == nullptr || dwMaxLen < tPtsPacketHeader::kSize) return FALSE;
  CPtsPacket packet(pPacket, dwMaxLen);
  if (packet.GetRoom() < 2) return FALSE;
  packet.SetColor(m_dwColor);
  packet.SetFirst(TRUE);
  packet.SetMore(FALSE);
  while (!m_Points.empty()) {
    const tPtsPoint& pt = m_Points.front();
    packet.AddPoint(pt.x, pt.y);
    // A full packet keeps its last point for the next one to start from.
    if (packet.GetRoom() == 0) break;
    m_Points.pop_front();
  }
  const DWORD dwCount = packet.GetNumPoints();
  if (dwCount < 2) {
    *pdwLen = 0;  // a lone point is never sent
  } else {
    DebugTrace("CPtsRequest::GetNextPacket #points=%lu\n", static_cast<unsigned long>(dwCount));
    *pdwLen = packet.GetSize();
  }
  *pfMore = m_Points.size() >= 2;
  return TRUE;
}

std::unique_ptr<CRequest> CPtsRequest::Clone() const {
  std::unique_ptr<CPtsRequest> pCopy(new (std::nothrow) CPtsRequest);
  if (!pCopy) return nullptr;
  pCopy->m_dwColor = m_dwColor;
  pCopy->m_dwSlide = m_dwSlide;
  for (const tPtsPoint& pt : m_Points) {
    if (!pCopy->AddPoint(pt.x, pt.y)) return nullptr;
  }
  return pCopy;
}
