// The thrown error for a failed HRESULT, for code that checks every call of
// an interface and handles all failures in one place.
#pragma once

#include <exception>

#include "com/HResult.h"

namespace com {

class CComError : public std::exception {
 public:
  explicit CComError(HRESULT hr);
  HRESULT Error() const { return m_hr; }
  // "HRESULT 0x80004005".
  const char* what() const noexcept override { return m_szWhat; }

 private:
  HRESULT m_hr;
  char m_szWhat[32];
};

// Throws CComError when `hr` failed; returns it otherwise.
inline HRESULT ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw CComError(hr);
  return hr;
}

}  // namespace com
