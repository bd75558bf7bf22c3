// Compress: one file into a one-file MSZIP cabinet beside it.
#include <cstdint>
#include <string>

#include "ErrStuff/DebugTrace.h"
#include "orvalo/Cabinet.h"
#include "orvalo/CabinetGlib.h"  // last: GLib defines TRUE and FALSE
#include "platform/File.h"

namespace orvalo {
namespace {

using cab::GBytesPtr;
using cab::GDateTimePtr;
using cab::GErrorPtr;
using cab::GObjectPtr;

constexpr DWORD kAttrMask = 0x27;

BOOL Fail(const char* szStep, int nCode) {
  DebugTrace("%s() failed: code %d [%s]\n", szStep, nCode, CompressErrorName(nCode));
  return FALSE;
}

// "Copying folder to cabinet" trace from the writer's progress.
void OnProgress(goffset current, goffset total, gpointer) {
  std::uint64_t cb1 = static_cast<std::uint64_t>(current);
  std::uint64_t cb2 = static_cast<std::uint64_t>(total);
  while (cb1 > 10000000) {
    cb1 >>= 3;
    cb2 >>= 3;
  }
  const int nPercent = cb2 == 0 ? 0 : static_cast<int>(cb1 * 100 / cb2);
  DebugTrace("Copying folder to cabinet: %d%%      \n", nPercent);
}

// The file's last-write time as a local date and time (DOS time is local).
GDateTimePtr LocalWriteTime(const std::string& path) {
  FILETIME ftWrite{};
  std::int64_t sec = 0, nsec = 0;
  if (platform::GetFileTimes(path, nullptr, nullptr, &ftWrite) == ERROR_SUCCESS) {
    platform::UnixFromFileTime(ftWrite, &sec, &nsec);
  }
  return GDateTimePtr(g_date_time_new_from_unix_local(sec));
}

}  // namespace

BOOL Compress(const char* szSourcePath) {
  if (szSourcePath == nullptr || *szSourcePath == '\0') return Fail("FCIAddFile", kFciErrOpenSrc);
  const std::string source = szSourcePath;
  const std::size_t slash = source.rfind('/');
  const std::string dir = slash == std::string::npos ? "./" : source.substr(0, slash + 1);
  const std::string name = source.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::string cabName = name + ".cab";
  const std::string cabPath = dir + cabName;
  if (name.empty()) return Fail("FCIAddFile", kFciErrOpenSrc);

  std::string contents;
  if (DWORD err = platform::ReadWholeFile(source, &contents)) {
    return Fail("FCIAddFile", err == ERROR_FILE_NOT_FOUND || err == ERROR_ACCESS_DENIED
                                  ? kFciErrOpenSrc
                                  : kFciErrReadSrc);
  }
  DWORD dwAttrs = 0;
  if (platform::GetFileAttributes(source, &dwAttrs) != ERROR_SUCCESS) dwAttrs = 0;

  GBytesPtr bytes(g_bytes_new(contents.data(), contents.size()));
  GObjectPtr<GCabFile> file(gcab_file_new_with_bytes(name.c_str(), bytes.get()));
  GDateTimePtr when = LocalWriteTime(source);
  if (when) gcab_file_set_date_time(file.get(), when.get());
  gcab_file_set_attributes(file.get(), dwAttrs & kAttrMask);

  GObjectPtr<GCabFolder> folder(gcab_folder_new(GCAB_COMPRESSION_MSZIP));
  GObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
  GError* pRaw = nullptr;
  if (!gcab_folder_add_file(folder.get(), file.get(), FALSE, nullptr, &pRaw) ||
      !gcab_cabinet_add_folder(cabinet.get(), folder.get(), &pRaw)) {
    GErrorPtr error(pRaw);
    DebugTrace("Cabinet set-up: %s\n", cab::Message(error.get()));
    return Fail("FCIAddFile", kFciErrMszipFailure);
  }
  DebugTrace("   placed file '%s' (size %d) on cabinet '%s'\n", name.c_str(),
             static_cast<int>(contents.size()), cabName.c_str());

  // Built in memory and written in one go, so a failure leaves no partial cabinet.
  GObjectPtr<GOutputStream> out(g_memory_output_stream_new_resizable());
  if (!gcab_cabinet_write(cabinet.get(), out.get(), nullptr, OnProgress, nullptr, nullptr,
                          &pRaw) ||
      !g_output_stream_close(out.get(), nullptr, &pRaw)) {
    GErrorPtr error(pRaw);
    DebugTrace("Cabinet write: %s\n", cab::Message(error.get()));
    return Fail("FCIFlushCabinet", kFciErrMszipFailure);
  }
  auto* pMem = G_MEMORY_OUTPUT_STREAM(out.get());
  const gsize cbCab = g_memory_output_stream_get_data_size(pMem);
  DebugTrace("Compressing: %9ld -> %9ld             \n", static_cast<long>(contents.size()),
             static_cast<long>(cbCab));
  if (platform::WriteWholeFile(cabPath, g_memory_output_stream_get_data(pMem), cbCab) !=
      ERROR_SUCCESS) {
    platform::DeleteFile(cabPath);
    return Fail("FCIFlushCabinet", kFciErrCabFile);
  }
  return TRUE;
}

}  // namespace orvalo
