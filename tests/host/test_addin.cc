// An add-in for the program's tests: appends what the host tells it to the
// file named by $HOST_TEST_ADDIN_LOG, one line per call.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "com/ComPtr.h"
#include "host/HostAddin.h"
#include "platform/File.h"

namespace {

void Log(const std::string& line) {
  const char* path = std::getenv("HOST_TEST_ADDIN_LOG");
  if (path == nullptr) return;
  if (std::FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

class CTestAddin final : public IHostAddin {
 public:
  void OnStartup(_Application* pApp) override {
    const char* tmp = std::getenv("TMPDIR");
    Log(std::string("startup tmpdir-private=") +
        (tmp != nullptr && std::string(tmp).find("/Powerpnt-") != std::string::npos &&
                 platform::DirectoryExists(tmp)
             ? "yes"
             : "no"));
    if (tmp != nullptr) Log(std::string("tmpdir ") + tmp);
    com::CComPtr<Presentations> all;
    LONG n = -1;
    if (SUCCEEDED(pApp->get_Presentations(all.Out()))) all->get_Count(&n);
    Log("presentations " + std::to_string(n));
  }
  void OnSlideShowBegin(SlideShowWindow*) override { Log("begin"); }
  void OnSlideShowNextSlide(SlideShowWindow*) override { Log("next slide"); }
  void OnSlideShowStep(SlideShowWindow*, LONG d) override { Log("step " + std::to_string(d)); }
  void OnSlideShowScreen(SlideShowWindow*, PpSlideShowState s) override {
    Log("screen " + std::to_string(s));
  }
  void OnSlideShowErase(SlideShowWindow*) override { Log("erase"); }
  void OnSlideShowEnd(_Presentation*) override { Log("end"); }
  void OnShutdown() override {
    Log("shutdown");
    delete this;
  }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) IHostAddin* HostAddinCreate() {
  return new CTestAddin;
}
