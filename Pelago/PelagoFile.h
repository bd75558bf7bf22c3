// CPelagoFile: the record of one file that travels at the end of its send
// stream: size, creation, last-access and last-write times, attributes and
// name. Its meta dump is the 32-byte little-endian block of the first five
// fields followed by the name without its NUL. Not locked.
#pragma once

#include "platform/Win32Types.h"

class CPelagoFile {
 public:
  static constexpr DWORD kFixedLen = 32;
  static constexpr DWORD kNameLen = 260;
  static constexpr DWORD kRecordLen = kFixedLen + kNameLen;

  CPelagoFile();
  ~CPelagoFile() = default;
  CPelagoFile(const CPelagoFile&) = default;
  CPelagoFile& operator=(const CPelagoFile&) = default;

  // Fills the record from the file on disk: 0, or the platform's error code
  // (the record then holds the name and what was read before the failure).
  // A name longer than the record holds is kept cut short, the file's own
  // data is read by its whole name. 223 for a file of 4 GiB or more, whose
  // size the record cannot hold.
  unsigned long Set(const char* szName);
  // Replaces the name (cut to 259 characters).
  void SetName(const char* szName);

  const char* GetName() const { return reinterpret_cast<const char*>(m_Image + kFixedLen); }
  unsigned long GetSize() const;
  FILETIME GetCreationTime() const;
  FILETIME GetLastAccessTime() const;
  FILETIME GetLastWriteTime() const;
  DWORD GetAttributes() const;

  // 32 + strlen(name).
  unsigned long GetLenDumpMeta() const;
  // Copies bytes [dwOffset, dwOffset + dwLen) of the meta dump to pDst.
  // REQUIRES: dwOffset + dwLen <= GetLenDumpMeta().
  void DumpMeta(unsigned char* pDst, unsigned long dwOffset, unsigned long dwLen) const;
  // Writes dwLen bytes at byte dwOffset of the record; when name characters
  // were written the name ends right after them.
  // REQUIRES: dwOffset + dwLen < 292.
  void RestoreMeta(const unsigned char* pSrc, unsigned long dwOffset, unsigned long dwLen);
  // Keeps only the file name and extension of the name.
  void StripPath();

 private:
  // The record image: the fixed block, then the NUL-terminated name. The last
  // byte is always NUL.
  BYTE m_Image[kRecordLen];
};
