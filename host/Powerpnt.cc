// Powerpnt: the presentation application the add-ins run in. It opens the
// presentation named on its command line, loads the registered add-ins, runs
// the message loop on its main thread and takes a person's or a script's
// commands from standard input; what its slide-show window shows is printed
// one line per change (and drawn as SVG when asked).
//
//   Powerpnt [--svg FILE] [PRESENTATION | ADDIN ...]
//   Powerpnt --install
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Runtime.h"
#include "host/CommandReader.h"
#include "host/HostApplication.h"
#include "host/HostRegistry.h"
#include "host/ShowPrinter.h"
#include "platform/File.h"
#include "platform/Module.h"
#include "ui/Message.h"
#include "ui/Window.h"

namespace {

constexpr UINT kMsgStartup = 0x8000 + 0x2B2;
constexpr const char* kTargetClass = "PowerpntCommandTarget";

std::shared_ptr<host::CShowPrinter> g_printer;  // main thread sets it up before any use

std::string Canonical(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : p.string();
}

std::string OwnFolder() {
  char buf[4096] = {};
  DWORD n = GetModuleFileName(nullptr, buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return ".";
  return platform::DirName(buf);
}

void HandleLine(const std::string& line) {
  host::UserCommand cmd;
  std::string why;
  if (!host::ParseUserCommand(line, &cmd, &why)) {
    if (line.find_first_not_of(" \t") != std::string::npos)
      std::fprintf(stderr, "Powerpnt: %s\n", why.c_str());
    return;
  }
  HRESULT hr = host::PerformUserAction(cmd);
  if (cmd.action == host::UserAction::kQuit) {
    // The loop ends on the flag; the quit message ends any nested loop under way.
    PostQuitMessage(0);
  } else if (hr == S_FALSE) {
    std::fprintf(stderr, "Powerpnt: %s: nothing to do\n", line.c_str());
  } else if (FAILED(hr)) {
    std::fprintf(stderr, "Powerpnt: %s: failed (0x%08X)\n", line.c_str(),
                 static_cast<unsigned>(hr));
  }
}

LRESULT TargetProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case host::CCommandReader::kMsgLine: {
      std::unique_ptr<std::string> line(reinterpret_cast<std::string*>(lParam));
      HandleLine(*line);
      return 0;
    }
    case host::CCommandReader::kMsgInputEnded:
      return 0;  // end of input is no quit: the show goes on
    case kMsgStartup:
      host::StartAddins();
      return 0;
    default:
      return DefWindowProc(hWnd, msg, wParam, lParam);
  }
}

// A temporary folder of this process's own inside $TMPDIR (or /tmp), which
// becomes its TMPDIR, removed at exit.
class CPrivateTemp {
 public:
  bool Make() {
    if (platform::CreateTempDirectory("Powerpnt-", &m_dir) != 0) return false;
    return setenv("TMPDIR", m_dir.c_str(), 1) == 0;
  }
  ~CPrivateTemp() {
    if (!m_dir.empty()) platform::DeleteTree(m_dir);
  }

 private:
  std::string m_dir;
};

int Install() {
  std::string folder = OwnFolder();
  LONG rc = host::WriteInstallRoot(folder);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "Powerpnt: cannot write the install root (error %ld)\n",
                 static_cast<long>(rc));
    return 1;
  }
  std::printf("installed %s\n", folder.c_str());
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: Powerpnt [--svg FILE] [PRESENTATION | ADDIN ...]\n"
               "       Powerpnt --install\n");
  return 2;
}

int Run(const std::string& svg, const std::vector<std::string>& files) {
  CPrivateTemp temp;
  if (!temp.Make()) {
    std::fprintf(stderr, "Powerpnt: cannot make a temporary folder\n");
    return 1;
  }
  if (FAILED(CoInitialize(nullptr))) return 1;
  com::CComPtr<_Application> app;
  if (FAILED(host::CreateApplication(app.Out()))) {
    std::fprintf(stderr, "Powerpnt: cannot create the application\n");
    return 1;
  }
  g_printer = std::make_shared<host::CShowPrinter>(svg);
  ui::SetUiObserver(g_printer);
  host::SetViewChangeHandler([] { g_printer->OnViewChanged(); });
  g_printer->OnViewChanged();

  WNDCLASS wc{};
  wc.lpfnWndProc = TargetProc;
  wc.lpszClassName = kTargetClass;
  RegisterClass(&wc);
  HWND hTarget =
      CreateWindowEx(0, kTargetClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);

  // Registered add-ins first; a file named on the command line that is one
  // is not opened as a presentation.
  std::vector<std::string> registered;
  for (const std::string& path : host::RegisteredAddins()) {
    registered.push_back(Canonical(path));
    HRESULT hr = host::LoadAddin(path);
    if (FAILED(hr))
      std::fprintf(stderr, "Powerpnt: cannot load add-in %s (0x%08X)\n", path.c_str(),
                   static_cast<unsigned>(hr));
  }
  com::CComPtr<Presentations> presentations;
  app->get_Presentations(presentations.Out());
  for (const std::string& file : files) {
    const std::string canonical = Canonical(file);
    bool fAddin = false;
    for (const std::string& r : registered) fAddin = fAddin || r == canonical;
    if (fAddin) continue;
    if (file.size() > 4 && file.compare(file.size() - 4, 4, ".ppa") == 0) {
      HRESULT hr = host::LoadAddin(canonical);
      if (FAILED(hr))
        std::fprintf(stderr, "Powerpnt: cannot load add-in %s (0x%08X)\n", file.c_str(),
                     static_cast<unsigned>(hr));
      continue;
    }
    com::CComPtr<_Presentation> pres;
    com::CComBSTR name(file);
    HRESULT hr = presentations->Open(name, msoFalse, msoFalse, msoTrue, pres.Out());
    if (FAILED(hr)) {
      g_printer->PrintLine("cannot open " + file + " (0x" + [&] {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(hr));
        return std::string(buf);
      }() + ")");
    }
  }

  // The add-ins start before any command is handled: posted first.
  PostMessage(hTarget, kMsgStartup, 0, 0);
  host::CCommandReader reader;
  if (!reader.Start(0, hTarget)) std::fprintf(stderr, "Powerpnt: cannot read standard input\n");
  MSG msg;
  while (!host::IsQuitRequested()) {
    BOOL got = GetMessage(&msg, nullptr, 0, 0);
    if (got == 0) break;  // a quit message of someone else's
    if (got < 0) continue;
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }

  reader.Stop();
  host::ShutdownAddins();
  // Lines posted but not handled are freed.
  while (PeekMessage(&msg, hTarget, host::CCommandReader::kMsgLine, host::CCommandReader::kMsgLine,
                     PM_REMOVE))
    delete reinterpret_cast<std::string*>(msg.lParam);
  DestroyWindow(hTarget);
  host::SetViewChangeHandler(nullptr);
  presentations.Release();
  app.Release();
  ui::SetUiObserver(nullptr);
  CoUninitialize();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string svg;
  if (const char* env = std::getenv("POWERPNT_SVG"); env != nullptr) svg = env;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--install") return argc == 2 ? Install() : Usage();
    if (arg == "--svg") {
      if (++i == argc) return Usage();
      svg = argv[i];
    } else if (arg.rfind("--", 0) == 0) {
      return Usage();
    } else {
      files.push_back(arg);
    }
  }
  return Run(svg, files);
}
