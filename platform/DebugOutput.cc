#include "platform/DebugOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace platform {
namespace {

struct Sink {
  std::mutex mu;
  DebugOutputHook hook;  // guarded by mu
  int fd = -1;           // set once from ORVALO_DEBUG
};

Sink& GetSink() {
  static Sink* sink = [] {
    auto* s = new Sink;
    const char* where = std::getenv("ORVALO_DEBUG");
    if (where != nullptr && *where != '\0') {
      if (std::strcmp(where, "stderr") == 0) {
        s->fd = STDERR_FILENO;
      } else {
        s->fd = ::open(where, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      }
    }
    return s;
  }();
  return *sink;
}

}  // namespace

DebugOutputHook SetDebugOutputHook(DebugOutputHook hook) {
  Sink& sink = GetSink();
  std::lock_guard<std::mutex> lock(sink.mu);
  std::swap(sink.hook, hook);
  return hook;
}

void ReportAssertion(const char* szExpr, const char* szFile, int nLine) {
  std::string text = "Assertion failed: ";
  text += szExpr;
  text += ", file ";
  text += szFile;
  text += ", line ";
  text += std::to_string(nLine);
  text += "\n";
  OutputDebugString(text.c_str());
}

}  // namespace platform

void OutputDebugString(LPCSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  platform::Sink& sink = platform::GetSink();
  platform::DebugOutputHook hook;
  {
    std::lock_guard<std::mutex> lock(sink.mu);
    hook = sink.hook;
  }
  if (hook) {
    hook(lpOutputString);
    return;
  }
  if (sink.fd >= 0) {
    ssize_t n = ::write(sink.fd, lpOutputString, std::strlen(lpOutputString));
    (void)n;
  }
}
