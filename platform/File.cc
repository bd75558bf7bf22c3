#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <vector>

#include "platform/Errors.h"

namespace platform {
namespace {

DWORD LastErrno() { return Win32FromErrno(errno); }

// Buffers per scattered read (the platform's IOV_MAX).
constexpr DWORD kMaxScatter = 1024;
constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000LL;

timespec ToTimespec(const FILETIME* ft) {
  timespec ts{};
  if (ft == nullptr) {
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  std::int64_t sec, nsec;
  UnixFromFileTime(*ft, &sec, &nsec);
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(nsec);
  return ts;
}

}  // namespace

File::~File() { Close(); }
File::File(File&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

DWORD File::Open(const std::string& path, OpenMode mode) {
  Close();
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::kRead: flags |= O_RDONLY; break;
    case OpenMode::kReadWrite: flags |= O_RDWR; break;
    case OpenMode::kCreateAlways: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case OpenMode::kOpenAlways: flags |= O_RDWR | O_CREAT; break;
    case OpenMode::kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
  }
  int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return ERROR_FILE_EXISTS;
    return LastErrno();
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return ERROR_ACCESS_DENIED;
  }
  m_fd = fd;
  return ERROR_SUCCESS;
}

void File::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

DWORD File::Read(void* buf, DWORD n, DWORD* pRead) {
  *pRead = 0;
  for (;;) {
    ssize_t r = ::read(m_fd, buf, n);
    if (r >= 0) {
      *pRead = static_cast<DWORD>(r);
      return ERROR_SUCCESS;
    }
    if (errno != EINTR) return LastErrno();
  }
}

DWORD File::Write(const void* buf, DWORD n) {
  const char* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t w = ::write(m_fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return LastErrno();
    }
    p += w;
    n -= static_cast<DWORD>(w);
  }
  return ERROR_SUCCESS;
}

DWORD File::ReadAt(std::uint64_t offset, void* buf, DWORD n, DWORD* pRead) {
  *pRead = 0;
  char* p = static_cast<char*>(buf);
  while (*pRead < n) {
    ssize_t r = ::pread(m_fd, p + *pRead, n - *pRead, static_cast<off_t>(offset + *pRead));
    if (r < 0) {
      if (errno == EINTR) continue;
      return LastErrno();
    }
    if (r == 0) break;
    *pRead += static_cast<DWORD>(r);
  }
  return ERROR_SUCCESS;
}

DWORD File::ReadScatterAt(std::uint64_t offset, BYTE* const* ppBufs, DWORD nBufs, DWORD dwEach,
                          DWORD* pRead) {
  *pRead = 0;
  const std::uint64_t qwWant = std::uint64_t{nBufs} * dwEach;
  if (qwWant == 0) return ERROR_SUCCESS;
  if (qwWant > 0xFFFFFFFFu) return ERROR_INVALID_PARAMETER;
  iovec iov[kMaxScatter];
  while (*pRead < qwWant) {
    // From the piece (and the place in it) where the last call stopped.
    const DWORD dwFirst = *pRead / dwEach;
    const DWORD dwInto = *pRead % dwEach;
    const DWORD nIov = std::min<DWORD>(nBufs - dwFirst, kMaxScatter);
    for (DWORD i = 0; i < nIov; ++i) {
      iov[i].iov_base = ppBufs[dwFirst + i];
      iov[i].iov_len = dwEach;
    }
    iov[0].iov_base = ppBufs[dwFirst] + dwInto;
    iov[0].iov_len = dwEach - dwInto;
    const ssize_t r =
        ::preadv(m_fd, iov, static_cast<int>(nIov), static_cast<off_t>(offset + *pRead));
    if (r < 0) {
      if (errno == EINTR) continue;
      return LastErrno();
    }
    if (r == 0) break;
    *pRead += static_cast<DWORD>(r);
  }
  return ERROR_SUCCESS;
}

DWORD File::WriteAt(std::uint64_t offset, const void* buf, DWORD n) {
  const char* p = static_cast<const char*>(buf);
  DWORD done = 0;
  while (done < n) {
    ssize_t w = ::pwrite(m_fd, p + done, n - done, static_cast<off_t>(offset + done));
    if (w < 0) {
      if (errno == EINTR) continue;
      return LastErrno();
    }
    done += static_cast<DWORD>(w);
  }
  return ERROR_SUCCESS;
}

DWORD File::Seek(std::uint64_t offset) {
  return ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0 ? LastErrno() : ERROR_SUCCESS;
}

DWORD File::Size(std::uint64_t* pSize) const {
  struct stat st;
  if (::fstat(m_fd, &st) != 0) return LastErrno();
  *pSize = static_cast<std::uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

DWORD File::SetLength(std::uint64_t length) {
  return ::ftruncate(m_fd, static_cast<off_t>(length)) != 0 ? LastErrno() : ERROR_SUCCESS;
}

DWORD File::Flush() { return ::fsync(m_fd) != 0 ? LastErrno() : ERROR_SUCCESS; }

DWORD File::GetTimes(FILETIME* pCreation, FILETIME* pAccess, FILETIME* pWrite) const {
  struct stat st;
  if (::fstat(m_fd, &st) != 0) return LastErrno();
  if (pCreation) *pCreation = FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  if (pAccess) *pAccess = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  if (pWrite) *pWrite = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  return ERROR_SUCCESS;
}

DWORD File::SetTimes(const FILETIME* pAccess, const FILETIME* pWrite) {
  timespec ts[2] = {ToTimespec(pAccess), ToTimespec(pWrite)};
  return ::futimens(m_fd, ts) != 0 ? LastErrno() : ERROR_SUCCESS;
}

DWORD ReadWholeFile(const std::string& path, std::string* pContents) {
  File f;
  if (DWORD err = f.Open(path, OpenMode::kRead)) return err;
  pContents->clear();
  // Straight into the string, sized by the file where that works; what a
  // file that grew meanwhile holds beyond that is appended below.
  std::uint64_t size = 0;
  if (f.Size(&size) == ERROR_SUCCESS && size > 0 && size < pContents->max_size()) {
    try {
      pContents->resize(static_cast<std::size_t>(size));
    } catch (const std::exception&) {
      // Too big to hold at once: the loop below finds out.
    }
    std::size_t done = 0;
    while (done < pContents->size()) {
      const std::size_t left = pContents->size() - done;
      DWORD got = 0;
      if (DWORD err = f.Read(pContents->data() + done,
                             static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30)), &got)) {
        pContents->clear();
        return err;
      }
      if (got == 0) break;
      done += got;
    }
    if (done < pContents->size()) {
      pContents->resize(done);  // it shrank
      return ERROR_SUCCESS;
    }
  }
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (DWORD err = f.Read(buf, sizeof buf, &got)) return err;
    if (got == 0) return ERROR_SUCCESS;
    pContents->append(buf, got);
  }
}

DWORD WriteWholeFile(const std::string& path, const void* data, std::size_t n) {
  File f;
  if (DWORD err = f.Open(path, OpenMode::kCreateAlways)) return err;
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    DWORD chunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
    if (DWORD err = f.Write(p, chunk)) return err;
    p += chunk;
    n -= chunk;
  }
  return ERROR_SUCCESS;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD GetFileAttributes(const std::string& path, DWORD* pAttrs) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return LastErrno();
  DWORD a = 0;
  if (S_ISDIR(st.st_mode)) {
    a |= FILE_ATTRIBUTE_DIRECTORY;
  } else {
    a |= FILE_ATTRIBUTE_ARCHIVE;
  }
  if ((st.st_mode & S_IWUSR) == 0) a |= FILE_ATTRIBUTE_READONLY;
  *pAttrs = a;
  return ERROR_SUCCESS;
}

DWORD SetFileAttributes(const std::string& path, DWORD dwAttrs) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return LastErrno();
  mode_t mode = st.st_mode & 07777;
  if (dwAttrs & FILE_ATTRIBUTE_READONLY) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  return ::chmod(path.c_str(), mode) != 0 ? LastErrno() : ERROR_SUCCESS;
}

DWORD GetFileSize(const std::string& path, std::uint64_t* pSize) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return LastErrno();
  *pSize = static_cast<std::uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

DWORD GetFileTimes(const std::string& path, FILETIME* pCreation, FILETIME* pAccess,
                   FILETIME* pWrite) {
  File f;
  if (DWORD err = f.Open(path, OpenMode::kRead)) return err;
  return f.GetTimes(pCreation, pAccess, pWrite);
}

DWORD SetFileTimes(const std::string& path, const FILETIME* pAccess, const FILETIME* pWrite) {
  timespec ts[2] = {ToTimespec(pAccess), ToTimespec(pWrite)};
  return ::utimensat(AT_FDCWD, path.c_str(), ts, 0) != 0 ? LastErrno() : ERROR_SUCCESS;
}

DWORD DeleteFile(const std::string& path) {
  if (DirectoryExists(path)) return ERROR_ACCESS_DENIED;
  return ::unlink(path.c_str()) != 0 ? LastErrno() : ERROR_SUCCESS;
}

DWORD CopyFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  return ec ? Win32FromErrno(ec.value()) : ERROR_SUCCESS;
}

DWORD MoveFile(const std::string& from, const std::string& to, bool fReplace) {
  if (!fReplace && (FileExists(to) || DirectoryExists(to))) return ERROR_ALREADY_EXISTS;
  if (::rename(from.c_str(), to.c_str()) == 0) return ERROR_SUCCESS;
  if (errno != EXDEV) return LastErrno();
  if (DWORD err = CopyFile(from, to)) return err;
  return DeleteFile(from);
}

DWORD CreateDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return ERROR_SUCCESS;
  return errno == EEXIST ? ERROR_ALREADY_EXISTS : LastErrno();
}

DWORD RemoveDirectory(const std::string& path) {
  return ::rmdir(path.c_str()) != 0 ? LastErrno() : ERROR_SUCCESS;
}

DWORD DeleteTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  return ec ? Win32FromErrno(ec.value()) : ERROR_SUCCESS;
}

DWORD GetDiskFreeSpace(const std::string& path, std::uint64_t* pBytesFree) {
  struct statvfs sv;
  if (::statvfs(path.c_str(), &sv) != 0) return LastErrno();
  *pBytesFree = static_cast<std::uint64_t>(sv.f_bavail) * sv.f_frsize;
  return ERROR_SUCCESS;
}

std::string GetTempPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

DWORD CreateTempFile(const std::string& dir, const std::string& prefix, std::string* pPath) {
  std::string tmpl = JoinPath(dir, prefix + "XXXXXX");
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) return LastErrno();
  ::close(fd);
  *pPath = buf.data();
  return ERROR_SUCCESS;
}

DWORD CreateTempDirectory(const std::string& prefix, std::string* pPath) {
  std::string tmpl = GetTempPath() + prefix + "XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) return LastErrno();
  *pPath = buf.data();
  return ERROR_SUCCESS;
}

std::string BaseName(const std::string& path) {
  auto pos = path.find_last_of('/');
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string DirName(const std::string& path) {
  auto pos = path.find_last_of('/');
  if (pos == std::string::npos) return ".";
  return pos == 0 ? "/" : path.substr(0, pos);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

FILETIME FileTimeFromUnix(std::int64_t sec, std::int64_t nsec) {
  std::int64_t v = sec * 10000000LL + nsec / 100 + kUnixEpochIn100ns;
  return FileTimeFromU64(static_cast<std::uint64_t>(v < 0 ? 0 : v));
}

void UnixFromFileTime(const FILETIME& ft, std::int64_t* pSec, std::int64_t* pNsec) {
  std::int64_t v = static_cast<std::int64_t>(FileTimeToU64(ft)) - kUnixEpochIn100ns;
  std::int64_t sec = v / 10000000LL;
  std::int64_t rem = v % 10000000LL;
  if (rem < 0) {
    rem += 10000000LL;
    --sec;
  }
  *pSec = sec;
  *pNsec = rem * 100;
}

std::uint64_t FileTimeToU64(const FILETIME& ft) {
  return (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

FILETIME FileTimeFromU64(std::uint64_t v) {
  return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFFu), static_cast<DWORD>(v >> 32)};
}

FILETIME GetSystemTimeAsFileTime() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return FileTimeFromUnix(ts.tv_sec, ts.tv_nsec);
}

}  // namespace platform
