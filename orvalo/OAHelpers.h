// Small routines of the automation code: the show's start time and the
// milliseconds since it, the check that turns a failed HRESULT into an
// exception, and the text converters between the system's 8-bit text (UTF-8)
// and the object model's wide strings.
#pragma once

#include "com/Bstr.h"
#include "com/ComError.h"
#include "com/ComPtr.h"
#include "platform/Win32Types.h"

namespace orvalo {

// Records GetTickCount() as the start of the show. Thread-safe.
void TickStart();
// Milliseconds since TickStart, (now - start) modulo 2^32, so that the wrap
// of the tick counter still gives the true elapsed time. Thread-safe.
DWORD TickElapsedMs();

// Throws com::CComError carrying hr when hr is a failure; otherwise nothing.
inline void CheckHR(HRESULT hr) {
  if (FAILED(hr)) throw com::CComError(hr);
}
// CheckHR for a call that hands out an interface into p:
//   CheckGot(pApp->get_Presentations(pPresCollection.Out()), pPresCollection);
// a success that leaves p null is thrown as E_POINTER.
template <class T>
void CheckGot(HRESULT hr, const com::CComPtr<T>& p) {
  CheckHR(hr);
  if (!p) throw com::CComError(E_POINTER);
}

// The largest text the converters to wide take, in bytes with the final NUL;
// longer text is cut at a character boundary.
inline constexpr std::size_t kConvertBufferBytes = 1024;

// Converts szAnsi (null: "") into a buffer of this thread that is shaped as a
// BSTR (length prefix, final NUL), so that the result may be passed where a
// BSTR argument is expected. The two converters keep separate buffers; each
// result is valid until the same converter runs again on this thread. Never
// null; a caller must not free or keep the result.
BSTR AnsiToWide(const char* szAnsi);
BSTR AnsiToWide2(const char* szAnsi);
// Converts bstr (null: "") into a buffer of this thread, valid until the next
// call on this thread. Never null.
const char* WideToAnsi(BSTR bstr);

}  // namespace orvalo
