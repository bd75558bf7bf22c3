#include "ErrStuff/DebugTrace.h"

#include <cstdarg>
#include <cstdio>

#include "platform/DebugOutput.h"
#include "platform/Thread.h"

void DebugTrace(const char* szFormat, ...) {
  // Two debugger strings: the thread id and a blank, then the text. Text past
  // the buffer is cut.
  char buf[256];
  std::snprintf(buf, sizeof buf, "%lu ", static_cast<unsigned long>(GetCurrentThreadId()));
  OutputDebugString(buf);
  va_list args;
  va_start(args, szFormat);
  std::vsnprintf(buf, sizeof buf, szFormat, args);
  va_end(args);
  OutputDebugString(buf);
}
