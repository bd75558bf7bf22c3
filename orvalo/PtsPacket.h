// CPtsPacket: a view over one points packet of the slide protocol, either a
// buffer being filled for sending or a received packet being read.
#pragma once

#include "orvalo/SlidePacket.h"
#include "platform/Win32Types.h"

// One pen point in slide-show coordinates.
struct tPtsPoint {
  float x;
  float y;
};

class CPtsPacket {
 public:
  enum class Attach {
    kFill,  // a buffer to fill: writes type 1, the tag and count 0
    kRead,  // a received packet: kept as received, never written
  };

  // Allocates an owned buffer of dwMaxPacketSize bytes and sets it up for
  // filling. REQUIRES: dwMaxPacketSize >= 44. A smaller size or a failed
  // allocation leaves a view without buffer.
  explicit CPtsPacket(DWORD dwMaxPacketSize);
  // Attaches to the caller's buffer of dwSize bytes (not owned).
  // kFill REQUIRES: dwSize >= 44 (else a view without buffer).
  // kRead: a packet shorter than 44 bytes or whose count exceeds what its
  // length holds is refused: the view has no buffer, so nothing past the
  // received bytes is ever read.
  CPtsPacket(void* pPacket, DWORD dwSize, Attach how = Attach::kFill);
  CPtsPacket(const void* pPacket, DWORD dwSize);  // kRead
  ~CPtsPacket();
  CPtsPacket(const CPtsPacket&) = delete;
  CPtsPacket& operator=(const CPtsPacket&) = delete;

  // Every operation on a view without buffer does nothing and returns 0;
  // the setters also do nothing on a read view.
  BOOL HasBuffer() const { return m_pPacket != nullptr; }
  void SetColor(DWORD dwColor);
  DWORD GetColor() const;
  void SetFirst(BOOL f);
  void SetMore(BOOL f);
  void ClearPoints();
  DWORD GetRoom() const;
  BOOL AddPoint(float x, float y);
  DWORD GetSize() const;                 // 44 + 8 x count: the bytes to send
  const BYTE* GetPoints() const { return m_PtArray; }  // raw, little-endian
  DWORD GetNumPoints() const;
  // Decodes point i (< GetNumPoints()); FALSE when there is none.
  BOOL GetPoint(DWORD i, tPtsPoint* pPoint) const;
  BYTE* GetPacket() const { return m_fReadOnly ? nullptr : m_pPacket; }

 private:
  void AttachBuffer(BYTE* pPacket, DWORD dwSize);
  void AttachForReading(const void* pPacket, DWORD dwSize);
  void InitForFilling();
  void SetCount(DWORD dwCount);
  tPacketHeader* Header() const { return tPacketHeader::Of(m_pPacket); }

  BYTE* m_pPacket = nullptr;
  DWORD m_dwSize = 0;
  DWORD m_dwMaxPoints = 0;
  BOOL m_fOwnsBuffer = FALSE;
  BOOL m_fReadOnly = FALSE;
  BYTE* m_PtArray = nullptr;
};
