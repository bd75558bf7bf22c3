// Files, folders, times and attributes over POSIX, with Win32 result codes.
//
// Every function returns ERROR_SUCCESS or a Win32 code mapped from errno.
// FILETIME is 100 ns since 1601-01-01 UTC. Attributes model only read-only
// (the owner's write bit), directory and archive; the rest is left out.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Win32Types.h"

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

namespace platform {

enum class OpenMode {
  kRead,          // existing file, read only
  kReadWrite,     // existing file
  kCreateAlways,  // create or truncate, read and write
  kOpenAlways,    // open or create, read and write
  kCreateNew,     // create; ERROR_FILE_EXISTS if it exists
};

// An open file descriptor; closes it on destruction. Movable, not copyable.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  DWORD Open(const std::string& path, OpenMode mode);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  int fd() const { return m_fd; }

  // Reads up to `n` bytes at the current position; *pRead holds the count
  // (0 at end of file).
  DWORD Read(void* buf, DWORD n, DWORD* pRead);
  // Writes all `n` bytes at the current position.
  DWORD Write(const void* buf, DWORD n);
  // Positioned forms; they do not move the current position.
  DWORD ReadAt(std::uint64_t offset, void* buf, DWORD n, DWORD* pRead);
  DWORD WriteAt(std::uint64_t offset, const void* buf, DWORD n);
  // Reads the nBufs pieces of dwEach bytes that follow one another from
  // `offset` on, each into its own buffer, with as few system calls as the
  // platform allows; *pRead counts the bytes read (short at end of file).
  DWORD ReadScatterAt(std::uint64_t offset, BYTE* const* ppBufs, DWORD nBufs, DWORD dwEach,
                      DWORD* pRead);
  DWORD Seek(std::uint64_t offset);
  DWORD Size(std::uint64_t* pSize) const;
  DWORD SetLength(std::uint64_t length);
  DWORD Flush();

  // Any of the pointers may be null. Creation time is the change time here.
  DWORD GetTimes(FILETIME* pCreation, FILETIME* pAccess, FILETIME* pWrite) const;
  // Sets access and write times; a null pointer leaves that time as it is.
  DWORD SetTimes(const FILETIME* pAccess, const FILETIME* pWrite);

 private:
  int m_fd = -1;
};

// Reads a whole file / writes (creates or replaces) one.
DWORD ReadWholeFile(const std::string& path, std::string* pContents);
DWORD WriteWholeFile(const std::string& path, const void* data, std::size_t n);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
DWORD GetFileAttributes(const std::string& path, DWORD* pAttrs);
DWORD SetFileAttributes(const std::string& path, DWORD dwAttrs);
DWORD GetFileSize(const std::string& path, std::uint64_t* pSize);
DWORD GetFileTimes(const std::string& path, FILETIME* pCreation, FILETIME* pAccess,
                   FILETIME* pWrite);
DWORD SetFileTimes(const std::string& path, const FILETIME* pAccess, const FILETIME* pWrite);
DWORD DeleteFile(const std::string& path);
// Renames; an existing target is replaced when `fReplace`, else ERROR_ALREADY_EXISTS.
// Falls back to copy and delete across file systems.
DWORD MoveFile(const std::string& from, const std::string& to, bool fReplace);
DWORD CopyFile(const std::string& from, const std::string& to);
DWORD CreateDirectory(const std::string& path);  // ERROR_ALREADY_EXISTS if it exists
DWORD RemoveDirectory(const std::string& path);
DWORD DeleteTree(const std::string& path);
// Bytes free for an unprivileged writer on the file system holding `path`.
DWORD GetDiskFreeSpace(const std::string& path, std::uint64_t* pBytesFree);

// $TMPDIR (or /tmp) with a trailing '/'.
std::string GetTempPath();
// Creates an empty file "<dir>/<prefix>XXXXXX" with a unique name (mkstemp).
DWORD CreateTempFile(const std::string& dir, const std::string& prefix, std::string* pPath);
// Creates a unique empty folder under GetTempPath().
DWORD CreateTempDirectory(const std::string& prefix, std::string* pPath);

// The last component of a path ("a/b/c.txt" -> "c.txt") and all before it.
std::string BaseName(const std::string& path);
std::string DirName(const std::string& path);
// Joins with exactly one '/'.
std::string JoinPath(const std::string& dir, const std::string& name);

// Time conversions.
FILETIME FileTimeFromUnix(std::int64_t sec, std::int64_t nsec);
void UnixFromFileTime(const FILETIME& ft, std::int64_t* pSec, std::int64_t* pNsec);
std::uint64_t FileTimeToU64(const FILETIME& ft);
FILETIME FileTimeFromU64(std::uint64_t v);
FILETIME GetSystemTimeAsFileTime();

}  // namespace platform
