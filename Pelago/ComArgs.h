// Checks and conversions of the COM objects' arguments: BSTRs to bounded
// UTF-8 text, port numbers, and Win32 codes to HRESULTs.
#pragma once

#include <cstddef>
#include <string>

#include "com/Bstr.h"
#include "com/HResult.h"
#include "platform/Win32Types.h"

namespace pelago_com {

// 0 with the text of bstr in *pText; ERROR_INVALID_PARAMETER when it is
// empty, ERROR_FILENAME_EXCED_RANGE when it is longer than nMaxChars bytes.
inline DWORD TextArg(BSTR bstr, std::size_t nMaxChars, std::string* pText) {
  *pText = com::Utf8FromBstr(bstr);
  if (pText->empty()) return ERROR_INVALID_PARAMETER;
  if (pText->size() > nMaxChars) return ERROR_FILENAME_EXCED_RANGE;
  return 0;
}

inline bool IsPort(LONG nPort) { return nPort > 0 && nPort <= 0xFFFF; }

// S_OK for 0, else the code wrapped.
inline HRESULT FromWin32(unsigned long dwCode) {
  return dwCode == 0 ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(dwCode));
}

inline constexpr HRESULT kNotInitialised = HRESULT_FROM_WIN32(ERROR_NOT_INITIALIZED);
// The longest group address a session holds ("255.255.255.255").
inline constexpr std::size_t kMaxAddrChars = 15;

}  // namespace pelago_com
