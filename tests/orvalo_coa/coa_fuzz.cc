// Feeds COA what the audience engine hands it from the network: positions
// (slide and step), screen states, slide numbers of received files and
// points packets, against a running audience show.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "com/ComPtr.h"
#include "host/HostApplication.h"
#include "host/PresentationFile.h"
#include "orvalo/COA.h"
#include "orvalo/PtsPacket.h"
#include "platform/File.h"

namespace {

constexpr int kFiles = 3;

struct Audience {
  std::string dir;
  com::CComPtr<_Application> app;
  COA* pCoa = nullptr;

  Audience() {
    platform::CreateTempDirectory("coa-fuzz", &dir);
    dir += '/';
    setenv("TMPDIR", dir.c_str(), 1);
    host::CreateApplication(app.Out());
    host::PresentationContent master;
    host::WritePresentationFile(dir + "master.ppt", master);
    for (int n = 1; n <= kFiles; ++n) {
      host::PresentationContent c;
      host::SlideContent s;
      s.title = "Slide " + std::to_string(n);
      s.nSteps = n;
      c.slides.push_back(s);
      host::WritePresentationFile(File(n), c);
    }
    Restart();
  }

  std::string File(int n) const { return dir + "s" + std::to_string(n) + ".ppt"; }

  // A new show of the master and slide 1, with the old one closed.
  void Restart() {
    if (pCoa != nullptr) {
      pCoa->Cleanup();
      delete pCoa;
    }
    com::CComPtr<Presentations> pres;
    if (SUCCEEDED(app->get_Presentations(pres.Out()))) {
      LONG n = 0;
      pres->get_Count(&n);
      for (; n > 0; --n) {
        com::CComPtr<_Presentation> p;
        if (SUCCEEDED(pres->Item(com::CComVariant(n), p.Out()))) p->Close();
      }
    }
    pCoa = new COA;
    pCoa->SetApp(app.get());
    pCoa->ShowWaitDialog("", "", "", "");
    pCoa->OpenMaster((dir + "master.ppt").c_str());
    pCoa->AddSlideFromFile(File(1).c_str(), 1);
  }
};

int32_t Int(const uint8_t* data, size_t size, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= size) std::memcpy(&v, data + at, 4);
  return static_cast<int32_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Audience audience;
  if (size < 1) return 0;
  const host::ShowView view = host::GetShowView();
  if (!view.fShowing || view.nSlides > 40) audience.Restart();
  COA& coa = *audience.pCoa;
  const int32_t a = Int(data, size, 1);
  const int32_t b = Int(data, size, 5);
  switch (data[0] % 6) {
    case 0:
      coa.GoTo(a, b);
      break;
    case 1:
      coa.AddSlideFromFile(audience.File(1 + (b & 0x7FFFFFFF) % kFiles).c_str(), a);
      break;
    case 2: {
      // The rest is a points packet as received.
      const CPtsPacket packet(static_cast<const void*>(data + 1), static_cast<DWORD>(size - 1));
      coa.DrawPoints(packet);
      break;
    }
    case 3:
      coa.SetScreen(a);
      break;
    case 4:
      coa.GotoSlide(a);
      break;
    default:
      coa.Advance(b, a);
      break;
  }
  if (host::GetShowView().lines.size() > 10000) coa.SetScreen(1);
  return 0;
}
