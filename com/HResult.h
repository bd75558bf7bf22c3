// HRESULT parts and the result codes of the component runtime. The general
// ones (S_OK, E_FAIL, E_NOINTERFACE, HRESULT_FROM_WIN32, ...) live with the
// other Win32 codes in platform/Win32Types.h.
#pragma once

#include "platform/Win32Types.h"

using SCODE = LONG;

inline constexpr DWORD SEVERITY_SUCCESS = 0;
inline constexpr DWORD SEVERITY_ERROR = 1;
inline constexpr DWORD FACILITY_NULL = 0;
inline constexpr DWORD FACILITY_DISPATCH = 2;
inline constexpr DWORD FACILITY_ITF = 4;
inline constexpr DWORD FACILITY_WIN32 = 7;

constexpr HRESULT MAKE_HRESULT(DWORD sev, DWORD fac, DWORD code) {
  return static_cast<HRESULT>((sev << 31) | ((fac & 0x1FFFu) << 16) | (code & 0xFFFFu));
}
constexpr DWORD HRESULT_CODE(HRESULT hr) { return static_cast<DWORD>(hr) & 0xFFFFu; }
constexpr DWORD HRESULT_FACILITY(HRESULT hr) { return (static_cast<DWORD>(hr) >> 16) & 0x1FFFu; }
constexpr DWORD HRESULT_SEVERITY(HRESULT hr) { return static_cast<DWORD>(hr) >> 31; }

constexpr HRESULT MakeFailure(DWORD code) { return static_cast<HRESULT>(code); }

inline constexpr HRESULT NOERROR = S_OK;

// Class registration and activation.
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeFailure(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeFailure(0x80040111u);
inline constexpr HRESULT REGDB_E_READREGDB = MakeFailure(0x80040150u);
inline constexpr HRESULT REGDB_E_WRITEREGDB = MakeFailure(0x80040151u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeFailure(0x80040154u);
inline constexpr HRESULT SELFREG_E_TYPELIB = MakeFailure(0x80040200u);
inline constexpr HRESULT SELFREG_E_CLASS = MakeFailure(0x80040201u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeFailure(0x800401F0u);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeFailure(0x800401F3u);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeFailure(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeFailure(0x800401F9u);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeFailure(0x80010106u);

// Late binding.
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeFailure(0x80020001u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeFailure(0x80020003u);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeFailure(0x80020004u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeFailure(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeFailure(0x80020006u);
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeFailure(0x80020007u);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeFailure(0x80020008u);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeFailure(0x80020009u);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeFailure(0x8002000Au);
inline constexpr HRESULT DISP_E_BADINDEX = MakeFailure(0x8002000Bu);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeFailure(0x8002000Eu);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeFailure(0x8002000Fu);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeFailure(0x8002802Bu);
