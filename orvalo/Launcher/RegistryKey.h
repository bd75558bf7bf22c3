// CRegistryKey: one registry key of the launcher, closed on every exit path.
#pragma once

#include "platform/Registry.h"

class CRegistryKey {
 public:
  CRegistryKey() = default;
  ~CRegistryKey() { Close(); }
  CRegistryKey(const CRegistryKey&) = delete;
  CRegistryKey& operator=(const CRegistryKey&) = delete;

  // Opens `szSubKey` below `hRoot` with all access when `fWrite`, else for
  // reading; if that fails and `fCreate`, creates it. TRUE if either worked.
  BOOL Open(HKEY hRoot, LPCSTR szSubKey, BOOL fWrite, BOOL fCreate);
  // FALSE when the key is not open or the registry refuses.
  BOOL SetValue(LPCSTR szName, DWORD dwType, const BYTE* pData, DWORD cbData);
  // *pcbData holds the buffer's size and receives the length read; FALSE
  // when the key is not open, the value is missing or the buffer too small.
  BOOL QueryValue(LPCSTR szName, DWORD* pdwType, BYTE* pData, DWORD* pcbData);
  void Close();

 private:
  HKEY m_hKey = nullptr;
};
