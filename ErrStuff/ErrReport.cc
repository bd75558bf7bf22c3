#include "ErrStuff/ErrReport.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ErrStuff/DebugTrace.h"
#include "platform/DebugOutput.h"
#include "ui/UiObserver.h"

namespace {

constexpr size_t kMessageBufLen = 1024;

// Formats into buf; text past the end is cut, never overrun.
void FormatInto(char* buf, size_t cbBuf, const char* szFormat, ...)
    __attribute__((format(printf, 3, 4)));
void FormatInto(char* buf, size_t cbBuf, const char* szFormat, ...) {
  va_list args;
  va_start(args, szFormat);
  int n = std::vsnprintf(buf, cbBuf, szFormat, args);
  va_end(args);
  if (n < 0) buf[0] = '\0';
}

const char* OrEmpty(const char* sz) { return sz != nullptr ? sz : ""; }

}  // namespace

int ShowFormattedMessage(const char* szFormat, ...) {
  char buf[kMessageBufLen];
  buf[0] = '\0';
  if (szFormat != nullptr) {
    va_list args;
    va_start(args, szFormat);
    // Leave room for the "\r\n" that ends the text.
    int n = std::vsnprintf(buf, sizeof buf - 2, szFormat, args);
    va_end(args);
    if (n < 0) buf[0] = '\0';
  }
  std::strcat(buf, "\r\n");
  return MessageBox(nullptr, buf, "D3DRM Example Message", MB_OK);
}

int ShowErrorMessage(const char* szText) {
  DebugTrace("%s", OrEmpty(szText));
  return MessageBox(nullptr, OrEmpty(szText), "Harnel Error", MB_OK | MB_ICONINFORMATION);
}

void ReportResultError(const char* szName, HRESULT hr, const char* szFile, int nLine) {
  char buf[kMessageBufLen];
  FormatInto(buf, sizeof buf, "%s line %d\n%s-Error 0x%xu: %s\n", OrEmpty(szFile), nLine,
             OrEmpty(szName), static_cast<unsigned>(hr), ErrorToString(hr));
  ShowErrorMessage(buf);
  platform::ReportAssertion("FALSE", __FILE__, __LINE__);
}

void ReportWin32Error(const char* szName, DWORD dwError, const char* szFile, int nLine) {
  char buf[kMessageBufLen];
  FormatInto(buf, sizeof buf, "%s line %d\n%s-Error %lu: %s\n", OrEmpty(szFile), nLine,
             OrEmpty(szName), static_cast<unsigned long>(dwError),
             errstuff::SystemMessageText(dwError));
  ShowErrorMessage(buf);
  platform::ReportAssertion("FALSE", __FILE__, __LINE__);
}

namespace errstuff {

const char* SystemMessageText(DWORD dwError) {
  struct Entry {
    DWORD dwCode;
    const char* szText;
  };
  static constexpr Entry kTexts[] = {
      {ERROR_SUCCESS, "The operation completed successfully."},
      {ERROR_INVALID_FUNCTION, "Incorrect function."},
      {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
      {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
      {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
      {ERROR_ACCESS_DENIED, "Access is denied."},
      {ERROR_INVALID_HANDLE, "The handle is invalid."},
      {ERROR_NOT_ENOUGH_MEMORY, "Not enough storage is available to process this command."},
      {ERROR_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
      {ERROR_NOT_READY, "The device is not ready."},
      {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
      {ERROR_SHARING_VIOLATION,
       "The process cannot access the file because it is being used by another process."},
      {ERROR_HANDLE_EOF, "Reached the end of the file."},
      {ERROR_NOT_SUPPORTED, "The request is not supported."},
      {ERROR_FILE_EXISTS, "The file exists."},
      {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
      {ERROR_BROKEN_PIPE, "The pipe has been ended."},
      {ERROR_DISK_FULL, "There is not enough space on the disk."},
      {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
      {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
      {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
      {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
      {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
      {ERROR_BUSY, "The requested resource is in use."},
      {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
      {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
      {ERROR_MORE_DATA, "More data is available."},
      {ERROR_NO_MORE_ITEMS, "No more data is available."},
      {ERROR_OPERATION_ABORTED, "The I/O operation has been aborted."},
      {ERROR_IO_PENDING, "Overlapped I/O operation is in progress."},
      {ERROR_SERVICE_DEPENDENCY_FAIL, "The dependency service or group failed to start."},
      {ERROR_NOT_INITIALIZED, "The object has not been initialized."},
      {ERROR_FILE_CORRUPT, "The file or directory is corrupted and unreadable."},
      {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle."},
      {ERROR_CLASS_ALREADY_EXISTS, "Class already exists."},
      {ERROR_CLASS_DOES_NOT_EXIST, "Class does not exist."},
      {ERROR_TIMEOUT, "This operation returned because the timeout period expired."},
      {WSAEINTR, "A blocking operation was interrupted."},
      {WSAEACCES, "An attempt was made to access a socket in a forbidden way."},
      {WSAEINVAL, "An invalid argument was supplied."},
      {WSAEWOULDBLOCK, "A non-blocking socket operation could not be completed immediately."},
      {WSAENOTSOCK, "An operation was attempted on something that is not a socket."},
      {WSAEMSGSIZE, "A message sent on a datagram socket was larger than the buffer."},
      {WSAEADDRINUSE, "Only one usage of each socket address is normally permitted."},
      {WSAEADDRNOTAVAIL, "The requested address is not valid in its context."},
      {WSAENETDOWN, "A socket operation encountered a dead network."},
      {WSAENETUNREACH, "A socket operation was attempted to an unreachable network."},
      {WSAENOBUFS, "No buffer space is available for a socket operation."},
      {WSANOTINITIALISED, "The socket layer has not been started."},
      {WSAHOST_NOT_FOUND, "No such host is known."},
  };
  for (const Entry& e : kTexts) {
    if (e.dwCode == dwError) return e.szText;
  }
  return "Unknown error.";
}

}  // namespace errstuff
