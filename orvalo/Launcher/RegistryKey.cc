#include "orvalo/Launcher/RegistryKey.h"

BOOL CRegistryKey::Open(HKEY hRoot, LPCSTR szSubKey, BOOL fWrite, BOOL fCreate) {
  Close();
  if (RegOpenKeyEx(hRoot, szSubKey, 0, fWrite ? KEY_ALL_ACCESS : KEY_READ, &m_hKey) ==
      ERROR_SUCCESS) {
    return TRUE;
  }
  m_hKey = nullptr;
  if (fCreate && RegCreateKeyEx(hRoot, szSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &m_hKey, nullptr) == ERROR_SUCCESS) {
    return TRUE;
  }
  m_hKey = nullptr;
  return FALSE;
}

BOOL CRegistryKey::SetValue(LPCSTR szName, DWORD dwType, const BYTE* pData, DWORD cbData) {
  return m_hKey != nullptr &&
         RegSetValueEx(m_hKey, szName, 0, dwType, pData, cbData) == ERROR_SUCCESS;
}

BOOL CRegistryKey::QueryValue(LPCSTR szName, DWORD* pdwType, BYTE* pData, DWORD* pcbData) {
  return m_hKey != nullptr &&
         RegQueryValueEx(m_hKey, szName, nullptr, pdwType, pData, pcbData) == ERROR_SUCCESS;
}

void CRegistryKey::Close() {
  if (m_hKey != nullptr) RegCloseKey(m_hKey);
  m_hKey = nullptr;
}
