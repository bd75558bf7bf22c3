// The fixed names of the presenter's temporary files, which both sides rely
// on, and CTempFile, a uniquely named temporary file that deletes itself.
#pragma once

#include <string>

#include "platform/File.h"
#include "platform/Win32Types.h"

// Each builder writes a full path into szBuffer (at least MAX_PATH + 1
// characters): GetTempPath() followed by the name. FALSE (and an empty
// buffer) when the path does not fit.
BOOL MasterFileName(char* szBuffer);           // "_OV_Mast.ppt"
BOOL MasterCabName(char* szBuffer);            // "_OV_Mast.ppt.cab"
BOOL SlideFileName(DWORD dwSlide, char* szBuffer);  // "_OV_sld<n>.ppt"
BOOL SlideCabName(DWORD dwSlide, char* szBuffer);   // "_OV_sld<n>.ppt.cab"

// A new, empty temporary file "ov<unique>" in the temporary folder, open for
// reading and writing. Not thread-safe; one owner.
class CTempFile {
 public:
  CTempFile() = default;
  ~CTempFile() { Delete(); }
  CTempFile(const CTempFile&) = delete;
  CTempFile& operator=(const CTempFile&) = delete;

  // Deletes any file this object holds, then makes a new one. FALSE when the
  // temporary folder, a unique name or the file cannot be had.
  BOOL Create();
  // Closes the file; it stays on disk.
  void Close() { m_file.Close(); }
  // Closes and deletes the file if this object created it.
  void Delete();

  const char* GetPath() const { return m_szPath; }
  platform::File* GetHandle() { return m_file.IsOpen() ? &m_file : nullptr; }
  BOOL Exists() const { return m_fExists; }

 private:
  char m_szPath[MAX_PATH + 1] = {};
  platform::File m_file;
  BOOL m_fExists = FALSE;
};
