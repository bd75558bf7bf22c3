// Stand-in for the debugger output and the system's assertion convention.
//
// Off by default, as with no debugger attached. ORVALO_DEBUG=stderr sends each
// string to standard error, any other value names a file to append to; one
// write per call. Tests install a hook that receives every string instead.
// Thread-safe.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/Win32Types.h"

void OutputDebugString(LPCSTR lpOutputString);

namespace platform {

using DebugOutputHook = std::function<void(std::string_view)>;

// Installs `hook` (empty: none) and returns the previous one. While a hook is
// installed, strings go only to it.
DebugOutputHook SetDebugOutputHook(DebugOutputHook hook);

// For tests: collects every debugger string for its own life (the previous
// hook is put back after it).
class ScopedDebugCapture {
 public:
  ScopedDebugCapture()
      : m_previous(SetDebugOutputHook([this](std::string_view s) { m_text.append(s); })) {}
  ~ScopedDebugCapture() { SetDebugOutputHook(std::move(m_previous)); }
  ScopedDebugCapture(const ScopedDebugCapture&) = delete;
  ScopedDebugCapture& operator=(const ScopedDebugCapture&) = delete;

  // Everything written so far, in order. Read it on the writing thread or
  // after the writers have stopped.
  const std::string& Text() const { return m_text; }

 private:
  std::string m_text;
  DebugOutputHook m_previous;
};

// Reports "Assertion failed: <expr>, file <file>, line <line>\n" through the
// debugger output.
void ReportAssertion(const char* szExpr, const char* szFile, int nLine);

}  // namespace platform

// Evaluates to true when `expr` holds; otherwise reports it and gives false, so
// that the caller takes its failure path:  if (!ORV_ASSERT(p != nullptr)) return FALSE;
#define ORV_ASSERT(expr) \
  ((expr) ? true : (::platform::ReportAssertion(#expr, __FILE__, __LINE__), false))
