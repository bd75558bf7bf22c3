// Extract: a received cabinet back into a folder. The cabinet is hostile
// input: only a cabinet of exactly one file under a bare name is extracted,
// first into a private folder inside the destination, then moved into place.
#include <cstdint>
#include <cstring>
#include <string>

#include "ErrStuff/DebugTrace.h"
#include "orvalo/Cabinet.h"
#include "orvalo/CabinetGlib.h"  // last: GLib defines TRUE and FALSE
#include "platform/DebugOutput.h"
#include "platform/File.h"

namespace orvalo {
namespace {

using cab::GDateTimePtr;
using cab::GErrorPtr;
using cab::GObjectPtr;

constexpr DWORD kAttrMask = 0x27;

BOOL Fail(const char* szStep, int nCode) {
  DebugTrace("%s() failed: code %d [%s]\n", szStep, nCode, ExtractErrorName(nCode));
  return FALSE;
}

// A name that stays inside the folder it is extracted to.
bool IsBareFileName(const char* szName) {
  if (szName == nullptr || *szName == '\0') return false;
  if (std::strcmp(szName, ".") == 0 || std::strcmp(szName, "..") == 0) return false;
  return std::strpbrk(szName, "/\\:") == nullptr;
}

// The cabinet's one file, or null (traced) when it holds anything else.
GCabFile* TheOneFile(GCabCabinet* pCabinet) {
  GPtrArray* pFolders = gcab_cabinet_get_folders(pCabinet);
  const guint nFolders = pFolders ? pFolders->len : 0;
  guint nFiles = 0;
  GCabFile* pFile = nullptr;
  for (guint i = 0; i < nFolders; ++i) {
    GCabFolder* pFolder = GCAB_FOLDER(g_ptr_array_index(pFolders, i));
    nFiles += gcab_folder_get_nfiles(pFolder);
    GSList* pList = gcab_folder_get_files(pFolder);
    if (pList) pFile = GCAB_FILE(pList->data);
    g_slist_free(pList);
  }
  DebugTrace("Cabinet: length %u, %u folder(s), %u file(s)\n", gcab_cabinet_get_size(pCabinet),
             nFolders, nFiles);
  if (nFolders != 1) {
    DebugTrace("Cabinet refused: it has %u folders, not one\n", nFolders);
    return nullptr;
  }
  if (nFiles != 1 || pFile == nullptr) {
    DebugTrace("Cabinet refused: it holds %u files, not one\n", nFiles);
    return nullptr;
  }
  if (!IsBareFileName(gcab_file_get_name(pFile))) {
    DebugTrace("Cabinet refused: '%s' is not a bare file name\n", gcab_file_get_name(pFile));
    return nullptr;
  }
  return pFile;
}

std::uint32_t Le16(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 1])) << 8;
}
std::uint32_t Le32(const std::string& b, std::size_t at) {
  return Le16(b, at) | Le16(b, at + 2) << 16;
}

// Whether the cabinet's one folder holds exactly the one file's bytes: the
// file starts the folder and its declared size is the sum of the data
// blocks' uncompressed sizes. The library cuts a file to its declared size,
// so a file declared short would be extracted cut short. Reads only within
// the cabinet's bytes.
bool FolderHoldsExactlyTheFile(const std::string& cab) {
  constexpr std::size_t kHeaderLen = 36;
  constexpr std::uint32_t kPrevNext = 0x0003, kReserve = 0x0004;
  if (cab.size() < kHeaderLen) return false;
  const std::uint32_t dwFlags = Le16(cab, 30);
  if (Le16(cab, 26) != 1 || Le16(cab, 28) != 1 || (dwFlags & kPrevNext) != 0) return false;
  std::size_t folderAt = kHeaderLen;
  std::uint32_t cbFolderReserve = 0, cbDataReserve = 0;
  if (dwFlags & kReserve) {
    if (cab.size() < kHeaderLen + 4) return false;
    folderAt += 4 + Le16(cab, kHeaderLen);
    cbFolderReserve = static_cast<std::uint8_t>(cab[kHeaderLen + 2]);
    cbDataReserve = static_cast<std::uint8_t>(cab[kHeaderLen + 3]);
  }
  if (folderAt + 8 + cbFolderReserve > cab.size()) return false;
  std::uint64_t pos = Le32(cab, folderAt);
  const std::uint32_t nBlocks = Le16(cab, folderAt + 4);
  std::uint64_t cbData = 0;
  for (std::uint32_t i = 0; i < nBlocks; ++i) {
    if (pos + 8 + cbDataReserve > cab.size()) return false;
    cbData += Le16(cab, pos + 6);
    pos += 8 + cbDataReserve + Le16(cab, pos + 4);
  }
  if (pos > cab.size()) return false;
  const std::size_t fileAt = Le32(cab, 16);
  if (fileAt > cab.size() || cab.size() - fileAt < 16) return false;
  // The file: its size, its offset in the folder, its folder.
  return Le32(cab, fileAt) == cbData && Le32(cab, fileAt + 4) == 0 && Le16(cab, fileAt + 8) == 0;
}

gboolean ExtractOnly(GCabFile* pFile, gpointer pWanted) { return pFile == pWanted; }

// Gives the extracted file the cabinet's local DOS time and masked attributes.
void ApplyCabinetInfo(GCabFile* pFile, const std::string& path) {
  GDateTimePtr when(gcab_file_get_date_time(pFile));
  if (when) {
    // The DOS fields are local time, whatever zone the library put them in.
    GDateTimePtr local(g_date_time_new_local(
        g_date_time_get_year(when.get()), g_date_time_get_month(when.get()),
        g_date_time_get_day_of_month(when.get()), g_date_time_get_hour(when.get()),
        g_date_time_get_minute(when.get()), g_date_time_get_second(when.get())));
    if (local) {
      const FILETIME ft = platform::FileTimeFromUnix(g_date_time_to_unix(local.get()), 0);
      platform::SetFileTimes(path, nullptr, &ft);
    }
  }
  platform::SetFileAttributes(path, gcab_file_get_attributes(pFile) & kAttrMask);
}

}  // namespace

BOOL Extract(const char* szCabinetPath, const char* szDestDir, char* szOutPath,
             const char* szRequiredName) {
  if (!ORV_ASSERT(szCabinetPath != nullptr) || !ORV_ASSERT(szOutPath != nullptr)) return FALSE;
  const std::string cabPath = szCabinetPath;
  std::string dest;
  if (szDestDir != nullptr) {
    dest = szDestDir;
    if (dest.empty() || dest.back() != '/') dest += '/';
  } else {
    const std::size_t slash = cabPath.rfind('/');
    dest = slash == std::string::npos ? "./" : cabPath.substr(0, slash + 1);
  }

  std::string contents;
  if (platform::ReadWholeFile(cabPath, &contents) != ERROR_SUCCESS) {
    DebugTrace("Unable to open '%s' for input\n", szCabinetPath);
    return FALSE;
  }
  GObjectPtr<GInputStream> in(g_memory_input_stream_new_from_data(contents.data(),
                                                                  contents.size(), nullptr));
  GObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
  GError* pRaw = nullptr;
  if (!gcab_cabinet_load(cabinet.get(), in.get(), nullptr, &pRaw)) {
    GErrorPtr error(pRaw);
    DebugTrace("FDIIsCabinet() failed: '%s' is not a cabinet\n", szCabinetPath);
    DebugTrace("   (%s)\n", cab::Message(error.get()));
    return FALSE;
  }
  GCabFile* pFile = TheOneFile(cabinet.get());
  if (pFile == nullptr) return Fail("FDICopy", kFdiErrCorruptCabinet);
  if (!FolderHoldsExactlyTheFile(contents)) {
    DebugTrace("Cabinet refused: its file is not the whole of its folder's data\n");
    return Fail("FDICopy", kFdiErrCorruptCabinet);
  }
  const std::string name = gcab_file_get_name(pFile);
  if (szRequiredName != nullptr && name != szRequiredName) {
    DebugTrace("Cabinet refused: it holds '%s', not '%s'\n", name.c_str(), szRequiredName);
    return Fail("FDICopy", kFdiErrCorruptCabinet);
  }
  const std::string outPath = dest + name;
  if (outPath.size() > MAX_PATH) return Fail("FDICopy", kFdiErrTarget);
  // A small cabinet may claim a huge file; never fill the disk for it.
  std::uint64_t cbFree = 0;
  if (platform::GetDiskFreeSpace(dest, &cbFree) != ERROR_SUCCESS ||
      gcab_file_get_size(pFile) > cbFree) {
    DebugTrace("Cabinet refused: %u bytes do not fit in '%s'\n", gcab_file_get_size(pFile),
               dest.c_str());
    return Fail("FDICopy", kFdiErrTarget);
  }

  // A private folder inside the destination, so that whatever the library
  // writes stays there and only the checked file is moved out of it.
  std::string work = dest + ".ovcab-XXXXXX";
  if (g_mkdtemp(work.data()) == nullptr) return Fail("FDICopy", kFdiErrTarget);
  work += '/';
  GObjectPtr<GFile> workDir(g_file_new_for_path(work.c_str()));
  const std::string staged = work + name;
  DebugTrace("COPY_FILE: %s\n", outPath.c_str());
  BOOL fOk = gcab_cabinet_extract(cabinet.get(), workDir.get(), ExtractOnly, nullptr, pFile,
                                  nullptr, &pRaw);
  if (!fOk) {
    GErrorPtr error(pRaw);
    DebugTrace("   (%s)\n", cab::Message(error.get()));
    Fail("FDICopy", error && error->domain == GCAB_ERROR ? kFdiErrDecompress : kFdiErrTarget);
  } else if (!platform::FileExists(staged)) {
    fOk = Fail("FDICopy", kFdiErrTarget);
  } else {
    DebugTrace("fdintCLOSE_FILE_INFO\n   file name in cabinet = %s\n\n", name.c_str());
    ApplyCabinetInfo(pFile, staged);
    if (platform::MoveFile(staged, outPath, true) != ERROR_SUCCESS) {
      fOk = Fail("FDICopy", kFdiErrTarget);
    }
  }
  platform::DeleteTree(work);
  if (!fOk) return FALSE;
  std::memcpy(szOutPath, outPath.c_str(), outPath.size() + 1);
  return TRUE;
}

}  // namespace orvalo
