// The slide protocol's wire records and the show state they carry.
//
// Every packet starts with the 36-byte tPacketHeader. The records below are
// byte arrays with accessors that encode and decode little-endian, so the
// layout is the same on every host and a record may lie at any address of a
// packet buffer (alignment 1). Bytes without a field are written as zero.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Win32Types.h"

namespace orvalo {

// Packet types, bits 0-3 of byte 12.
inline constexpr DWORD kPacketTypePoints = 1;
inline constexpr DWORD kPacketTypeState = 2;
inline constexpr DWORD kPacketTypeFileData = 3;

// Flag bits at offset 28.
inline constexpr DWORD kFlagDone = 0x1;
inline constexpr DWORD kFlagFirst = 0x2;
inline constexpr DWORD kFlagMore = 0x4;

// Tags, used only in traces.
inline constexpr char kTagHeartbeat[] = "Heartbeat";
inline constexpr char kTagFileData[] = "File Data";
inline constexpr char kTagPoints[] = "Points :)";

// The show state and the records below live in this namespace: the file
// carousel library has a record named tPacketHeader of its own, and the two
// must never bind to each other's code in one process.

// The presenter's show state, copied whole and compared field by field.
struct tSlideInfo {
  DWORD dwScreenState : 4;  // 0-15
  DWORD dwSlide;
  DWORD dwTime;  // ms since the presenter's start
  WORD wStep;    // 0 = no step taken
  DWORD fDone : 1;

  friend bool operator==(const tSlideInfo& a, const tSlideInfo& b) {
    return a.dwScreenState == b.dwScreenState && a.dwSlide == b.dwSlide && a.dwTime == b.dwTime &&
           a.wStep == b.wStep && a.fDone == b.fDone;
  }
};

// The 36-byte header of every slide-protocol packet.
struct tPacketHeader {
  static constexpr DWORD kSize = 36;
  static constexpr DWORD kTagSize = 12;

  BYTE abRaw[kSize];

  // Views a packet buffer of at least kSize bytes as its header.
  static tPacketHeader* Of(void* pPacket) { return static_cast<tPacketHeader*>(pPacket); }
  static const tPacketHeader* Of(const void* pPacket) {
    return static_cast<const tPacketHeader*>(pPacket);
  }

  // Zeroes the header.
  void Clear();

  // The tag up to its NUL (at most 12 characters when a sender left none).
  std::string GetTag() const;
  // Writes `szTag` (at most 11 characters kept) NUL-padded to 12 bytes.
  void SetTag(const char* szTag);

  DWORD GetType() const { return abRaw[12] & 0x0Fu; }
  void SetType(DWORD dwType);
  DWORD GetScreenState() const { return abRaw[12] >> 4; }
  void SetScreenState(DWORD dwScreenState);

  DWORD GetSlide() const;
  void SetSlide(DWORD dwSlide);
  DWORD GetTime() const;
  void SetTime(DWORD dwTime);
  WORD GetStep() const;
  void SetStep(WORD wStep);

  DWORD GetFlags() const;
  void SetFlags(DWORD dwFlags);
  BOOL IsDone() const { return (GetFlags() & orvalo::kFlagDone) != 0; }
  BOOL IsFirst() const { return (GetFlags() & orvalo::kFlagFirst) != 0; }
  BOOL IsMore() const { return (GetFlags() & orvalo::kFlagMore) != 0; }
  void SetDone(BOOL f) { SetFlag(orvalo::kFlagDone, f); }
  void SetFirst(BOOL f) { SetFlag(orvalo::kFlagFirst, f); }
  void SetMore(BOOL f) { SetFlag(orvalo::kFlagMore, f); }

 private:
  void SetFlag(DWORD dwBit, BOOL f);
};
static_assert(sizeof(tPacketHeader) == 36 && alignof(tPacketHeader) == 1);

// A slide-file data packet (type 3): the header, the slide whose cabinet it
// carries (offset 36), then the next bytes of that cabinet from offset 40.
struct tSlidePacketHeader {
  static constexpr DWORD kSize = 40;

  tPacketHeader Header;
  BYTE abSlide[4];

  static tSlidePacketHeader* Of(void* p) { return static_cast<tSlidePacketHeader*>(p); }
  static const tSlidePacketHeader* Of(const void* p) {
    return static_cast<const tSlidePacketHeader*>(p);
  }

  DWORD GetFileSlide() const;  // the field dwSlide
  void SetFileSlide(DWORD dwSlide);
};
static_assert(sizeof(tSlidePacketHeader) == 40 && alignof(tSlidePacketHeader) == 1);

// The fixed part of a points packet (type 1): header, count (offset 36),
// colour (offset 40); then count points of 8 bytes (x, y as IEEE singles).
struct tPtsPacketHeader {
  static constexpr DWORD kSize = 44;
  static constexpr DWORD kPointSize = 8;

  tPacketHeader Header;
  BYTE abCount[4];
  BYTE abColor[4];
};
static_assert(sizeof(tPtsPacketHeader) == 44 && alignof(tPtsPacketHeader) == 1);

// Writes slide, time, step, screen state (bits 4-7 of byte 12) and done (flag
// bit 0) of `info` into `pHeader`; the type and the other flags stay. Returns pHeader.
tPacketHeader* PackSlideInfo(const tSlideInfo& info, tPacketHeader* pHeader);
// The reverse: reads the show state of `header` into `pInfo`. Returns pInfo.
tSlideInfo* UnpackSlideInfo(const tPacketHeader& header, tSlideInfo* pInfo);

// Receipt check of a packet from the network. TRUE, with the type in *pdwType,
// when every field a receiver reads lies inside the dwLen bytes received:
//   - at least 36 bytes and a known type (1, 2 or 3);
//   - type 3: more than 40 bytes (some file data after the slide field);
//   - type 1: at least 44 bytes and a count that the length holds. A packet
//     claiming more points than it carries is refused, not clamped: a stroke
//     cut short by the sender is a damaged packet, and drawing part of it
//     would show something the presenter never drew.
// Anything else is FALSE and must be dropped without effect.
BOOL CheckSlidePacket(const void* pPacket, DWORD dwLen, DWORD* pdwType);

}  // namespace orvalo

using orvalo::PackSlideInfo;
using orvalo::tPacketHeader;
using orvalo::tPtsPacketHeader;
using orvalo::tSlideInfo;
using orvalo::tSlidePacketHeader;
using orvalo::UnpackSlideInfo;
