#include "orvalo/TempFiles.h"

#include <cstring>

namespace {

// The temporary folder followed directly by szName.
BOOL BuildName(char* szBuffer, const std::string& name) {
  const std::string path = platform::GetTempPath() + name;
  if (path.size() > MAX_PATH) {
    szBuffer[0] = '\0';
    return FALSE;
  }
  std::memcpy(szBuffer, path.c_str(), path.size() + 1);
  return TRUE;
}

std::string SlideName(DWORD dwSlide) { return "_OV_sld" + std::to_string(dwSlide) + ".ppt"; }

}  // namespace

BOOL MasterFileName(char* szBuffer) { return BuildName(szBuffer, "_OV_Mast.ppt"); }
BOOL MasterCabName(char* szBuffer) { return BuildName(szBuffer, "_OV_Mast.ppt.cab"); }
BOOL SlideFileName(DWORD dwSlide, char* szBuffer) { return BuildName(szBuffer, SlideName(dwSlide)); }
BOOL SlideCabName(DWORD dwSlide, char* szBuffer) {
  return BuildName(szBuffer, SlideName(dwSlide) + ".cab");
}

BOOL CTempFile::Create() {
  Delete();
  const std::string dir = platform::GetTempPath();
  if (dir.empty()) return FALSE;
  std::string path;
  if (platform::CreateTempFile(dir, "ov", &path) != ERROR_SUCCESS) return FALSE;
  if (path.size() > MAX_PATH) {
    platform::DeleteFile(path);
    return FALSE;
  }
  std::memcpy(m_szPath, path.c_str(), path.size() + 1);
  if (m_file.Open(path, platform::OpenMode::kCreateAlways) != ERROR_SUCCESS) {
    platform::DeleteFile(path);
    m_szPath[0] = '\0';
    return FALSE;
  }
  m_fExists = TRUE;
  return TRUE;
}

void CTempFile::Delete() {
  if (!m_fExists) return;
  m_file.Close();
  platform::DeleteFile(m_szPath);
  m_fExists = FALSE;
}
