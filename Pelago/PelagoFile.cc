#include "Pelago/PelagoFile.h"

#include <cstring>
#include <string>

#include "ErrStuff/DebugTrace.h"
#include "Pelago/LittleEndian.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"

using pelago::LoadLE32;
using pelago::StoreLE32;

namespace {

// Offsets in the fixed block.
constexpr DWORD kOffSize = 0;
constexpr DWORD kOffCreation = 4;
constexpr DWORD kOffAccess = 12;
constexpr DWORD kOffWrite = 20;
constexpr DWORD kOffAttributes = 28;

FILETIME LoadTime(const BYTE* p) { return FILETIME{LoadLE32(p), LoadLE32(p + 4)}; }
void StoreTime(BYTE* p, const FILETIME& ft) {
  StoreLE32(p, ft.dwLowDateTime);
  StoreLE32(p + 4, ft.dwHighDateTime);
}

}  // namespace

CPelagoFile::CPelagoFile() : m_Image{} {}

void CPelagoFile::SetName(const char* szName) {
  std::size_t n = ::strnlen(szName, kNameLen - 1);
  std::memcpy(m_Image + kFixedLen, szName, n);
  m_Image[kFixedLen + n] = 0;
}

unsigned long CPelagoFile::Set(const char* szName) {
  if (!ORV_ASSERT(szName != NULL)) return ERROR_INVALID_PARAMETER;
  SetName(szName);
  std::string path = szName;
  DWORD dwAttrs = 0;
  DWORD dwErr = platform::GetFileAttributes(path, &dwAttrs);
  if (dwErr == 0) {
    StoreLE32(m_Image + kOffAttributes, dwAttrs);
    platform::File file;
    dwErr = file.Open(path, platform::OpenMode::kRead);
    std::uint64_t qwSize = 0;
    if (dwErr == 0) dwErr = file.Size(&qwSize);
    if (dwErr == 0 && qwSize > 0xFFFFFFFFu) dwErr = ERROR_FILE_TOO_LARGE;
    if (dwErr == 0) {
      StoreLE32(m_Image + kOffSize, static_cast<DWORD>(qwSize));
      FILETIME ftCreation{}, ftAccess{}, ftWrite{};
      dwErr = file.GetTimes(&ftCreation, &ftAccess, &ftWrite);
      if (dwErr == 0) {
        StoreTime(m_Image + kOffCreation, ftCreation);
        StoreTime(m_Image + kOffAccess, ftAccess);
        StoreTime(m_Image + kOffWrite, ftWrite);
      }
    }
  }
  if (dwErr != 0) DebugTrace("CPelagoFile::Set Error %d\n", static_cast<int>(dwErr));
  return dwErr;
}

unsigned long CPelagoFile::GetSize() const { return LoadLE32(m_Image + kOffSize); }
FILETIME CPelagoFile::GetCreationTime() const { return LoadTime(m_Image + kOffCreation); }
FILETIME CPelagoFile::GetLastAccessTime() const { return LoadTime(m_Image + kOffAccess); }
FILETIME CPelagoFile::GetLastWriteTime() const { return LoadTime(m_Image + kOffWrite); }
DWORD CPelagoFile::GetAttributes() const { return LoadLE32(m_Image + kOffAttributes); }

unsigned long CPelagoFile::GetLenDumpMeta() const {
  return kFixedLen + static_cast<unsigned long>(::strnlen(GetName(), kNameLen));
}

void CPelagoFile::DumpMeta(unsigned char* pDst, unsigned long dwOffset,
                           unsigned long dwLen) const {
  if (!ORV_ASSERT(dwOffset + dwLen <= GetLenDumpMeta())) return;
  std::memcpy(pDst, m_Image + dwOffset, dwLen);
}

void CPelagoFile::RestoreMeta(const unsigned char* pSrc, unsigned long dwOffset,
                              unsigned long dwLen) {
  if (!ORV_ASSERT(dwOffset + dwLen < kRecordLen) || !ORV_ASSERT(dwOffset <= dwOffset + dwLen))
    return;
  std::memcpy(m_Image + dwOffset, pSrc, dwLen);
  if (dwOffset + dwLen > kFixedLen) m_Image[dwOffset + dwLen] = 0;
}

void CPelagoFile::StripPath() {
  std::string name = GetName();
  // Drive and directory, in either separator.
  std::size_t cut = name.find_last_of("/\\");
  std::string bare = cut == std::string::npos ? name : name.substr(cut + 1);
  if (cut == std::string::npos && bare.size() >= 2 && bare[1] == ':') bare = bare.substr(2);
  SetName(bare.c_str());
}
