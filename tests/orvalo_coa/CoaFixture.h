// A fresh presentation application per test with a private temporary folder
// (TMPDIR, where COA writes its fixed file names), presentation files made to
// order, and what the slide-show window shows.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "host/HostApplication.h"
#include "host/PresentationFile.h"
#include "orvalo/COA.h"
#include "platform/File.h"
#include "tests/orvalo_slides/ScopedTmpDir.h"
#include "ui/Message.h"

namespace coatest {

// Slide n of the made files is titled "Slide n" and has n % 3 steps.
inline host::SlideContent MadeSlide(int n) {
  host::SlideContent s;
  s.title = "Slide " + std::to_string(n);
  s.body = "Body " + std::to_string(n);
  s.nSteps = n % 3;
  return s;
}

class CoaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_src = m_tmp.path() + "src/";
    ASSERT_EQ(platform::CreateDirectory(m_src), 0u);
    ASSERT_EQ(host::CreateApplication(m_app.Out()), S_OK);
  }
  void TearDown() override {
    m_coa.Cleanup();
    m_app.Release();
    PumpMessages();
  }

  // A presentation file of slides 1..n (or of the numbers given), "Ocean".
  std::string MakeFile(const std::string& name, int n) {
    std::vector<int> numbers;
    for (int i = 1; i <= n; ++i) numbers.push_back(i);
    return MakeFileOf(name, numbers);
  }
  std::string MakeFileOf(const std::string& name, const std::vector<int>& numbers) {
    host::PresentationContent c;
    c.design = "Ocean";
    for (int i : numbers) c.slides.push_back(MadeSlide(i));
    const std::string path = m_src + name;
    EXPECT_EQ(host::WritePresentationFile(path, c), 0u);
    return path;
  }
  // What the presenter sends: the master (design only) and slide n alone.
  std::string MasterFile() { return MakeFileOf("_OV_Mast.ppt", {}); }
  std::string SlideFile(int n) { return MakeFileOf("_OV_sld" + std::to_string(n) + ".ppt", {n}); }

  com::CComPtr<_Presentation> Open(const std::string& path, MsoTriState withWindow = msoTrue) {
    com::CComPtr<Presentations> pres;
    EXPECT_EQ(m_app->get_Presentations(pres.Out()), S_OK);
    com::CComPtr<_Presentation> p;
    EXPECT_EQ(pres->Open(com::CComBSTR(path), msoFalse, msoFalse, withWindow, p.Out()), S_OK);
    return p;
  }
  com::CComPtr<SlideShowWindow> Run(_Presentation* p) {
    com::CComPtr<SlideShowSettings> settings;
    EXPECT_EQ(p->get_SlideShowSettings(settings.Out()), S_OK);
    com::CComPtr<SlideShowWindow> wnd;
    EXPECT_EQ(settings->Run(wnd.Out()), S_OK);
    return wnd;
  }

  // The files in the temporary folder itself, sorted (src/ is a folder).
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_tmp.path())) {
      if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static void PumpMessages() {
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  }

  ScopedTmpDir m_tmp;
  std::string m_src;
  com::CComPtr<_Application> m_app;
  COA m_coa;
};

inline host::ShowView Shown() { return host::GetShowView(); }

}  // namespace coatest
