#include "orvalo/SlidePacket.h"

#include <cstring>

#include "orvalo/LittleEndian.h"

using orvalo::LoadLe16;
using orvalo::LoadLe32;
using orvalo::StoreLe16;
using orvalo::StoreLe32;

namespace {
constexpr std::size_t kOffType = 12;
constexpr std::size_t kOffSlide = 16;
constexpr std::size_t kOffTime = 20;
constexpr std::size_t kOffStep = 24;
constexpr std::size_t kOffFlags = 28;
}  // namespace

void tPacketHeader::Clear() { std::memset(abRaw, 0, sizeof abRaw); }

std::string tPacketHeader::GetTag() const {
  const void* pNul = std::memchr(abRaw, 0, kTagSize);
  const std::size_t n = pNul ? static_cast<const BYTE*>(pNul) - abRaw : kTagSize;
  return std::string(reinterpret_cast<const char*>(abRaw), n);
}

void tPacketHeader::SetTag(const char* szTag) {
  std::memset(abRaw, 0, kTagSize);
  const std::size_t n = szTag ? strnlen(szTag, kTagSize - 1) : 0;
  std::memcpy(abRaw, szTag, n);
}

void tPacketHeader::SetType(DWORD dwType) {
  abRaw[kOffType] = static_cast<BYTE>((abRaw[kOffType] & 0xF0u) | (dwType & 0x0Fu));
}

void tPacketHeader::SetScreenState(DWORD dwScreenState) {
  abRaw[kOffType] = static_cast<BYTE>((abRaw[kOffType] & 0x0Fu) | ((dwScreenState & 0x0Fu) << 4));
}

DWORD tPacketHeader::GetSlide() const { return LoadLe32(abRaw + kOffSlide); }
void tPacketHeader::SetSlide(DWORD dwSlide) { StoreLe32(abRaw + kOffSlide, dwSlide); }
DWORD tPacketHeader::GetTime() const { return LoadLe32(abRaw + kOffTime); }
void tPacketHeader::SetTime(DWORD dwTime) { StoreLe32(abRaw + kOffTime, dwTime); }
WORD tPacketHeader::GetStep() const { return LoadLe16(abRaw + kOffStep); }
void tPacketHeader::SetStep(WORD wStep) { StoreLe16(abRaw + kOffStep, wStep); }
DWORD tPacketHeader::GetFlags() const { return LoadLe32(abRaw + kOffFlags); }
void tPacketHeader::SetFlags(DWORD dwFlags) { StoreLe32(abRaw + kOffFlags, dwFlags); }

void tPacketHeader::SetFlag(DWORD dwBit, BOOL f) {
  const DWORD dwFlags = GetFlags();
  SetFlags(f ? (dwFlags | dwBit) : (dwFlags & ~dwBit));
}

DWORD tSlidePacketHeader::GetFileSlide() const { return LoadLe32(abSlide); }
void tSlidePacketHeader::SetFileSlide(DWORD dwSlide) { StoreLe32(abSlide, dwSlide); }

namespace orvalo {

tPacketHeader* PackSlideInfo(const tSlideInfo& info, tPacketHeader* pHeader) {
  pHeader->SetSlide(info.dwSlide);
  pHeader->SetTime(info.dwTime);
  pHeader->SetStep(info.wStep);
  pHeader->SetScreenState(info.dwScreenState);
  pHeader->SetDone(info.fDone);
  return pHeader;
}

tSlideInfo* UnpackSlideInfo(const tPacketHeader& header, tSlideInfo* pInfo) {
  pInfo->dwSlide = header.GetSlide();
  pInfo->dwTime = header.GetTime();
  pInfo->wStep = header.GetStep();
  pInfo->dwScreenState = header.GetScreenState();
  pInfo->fDone = header.IsDone() ? 1 : 0;
  return pInfo;
}

BOOL CheckSlidePacket(const void* pPacket, DWORD dwLen, DWORD* pdwType) {
  if (pPacket == nullptr || dwLen < tPacketHeader::kSize) return FALSE;
  const tPacketHeader* pHeader = tPacketHeader::Of(pPacket);
  const DWORD dwType = pHeader->GetType();
  switch (dwType) {
    case kPacketTypeState:
      break;
    case kPacketTypeFileData:
      if (dwLen <= tSlidePacketHeader::kSize) return FALSE;
      break;
    case kPacketTypePoints: {
      if (dwLen < tPtsPacketHeader::kSize) return FALSE;
      const DWORD dwCount = LoadLe32(static_cast<const BYTE*>(pPacket) + tPacketHeader::kSize);
      if (dwCount > (dwLen - tPtsPacketHeader::kSize) / tPtsPacketHeader::kPointSize) return FALSE;
      break;
    }
    default:
      return FALSE;
  }
  if (pdwType) *pdwType = dwType;
  return TRUE;
}

}  // namespace orvalo
