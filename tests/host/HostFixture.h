// A fresh application per test, a private temporary folder, and helpers to
// make presentation files and pump the frame window's messages.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "com/ComPtr.h"
#include "host/HostApplication.h"
#include "host/PresentationFile.h"
#include "platform/File.h"
#include "ui/Message.h"

namespace hosttest {

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::CreateTempDirectory("host-test-", &m_dir), 0u);
    ASSERT_EQ(host::CreateApplication(m_app.Out()), S_OK);
  }
  void TearDown() override {
    host::ShutdownAddins();
    host::SetViewChangeHandler(nullptr);
    m_app.Release();
    PumpMessages();
    platform::DeleteTree(m_dir);
  }

  std::string Path(const std::string& name) const { return m_dir + "/" + name; }

  // A file of `n` slides titled "Slide 1" .. with bodies and i % 3 steps.
  std::string MakeFile(const std::string& name, int n, const std::string& design = "Ocean") {
    host::PresentationContent c;
    c.design = design;
    c.tags = {{"Author", "Ann"}};
    for (int i = 1; i <= n; ++i) {
      host::SlideContent s;
      s.title = "Slide " + std::to_string(i);
      s.body = "Body " + std::to_string(i);
      s.nSteps = i % 3;
      c.slides.push_back(s);
    }
    std::string path = Path(name);
    EXPECT_EQ(host::WritePresentationFile(path, c), 0u);
    return path;
  }

  com::CComPtr<_Presentation> Open(const std::string& path, MsoTriState withWindow = msoTrue) {
    com::CComPtr<Presentations> pres;
    EXPECT_EQ(m_app->get_Presentations(pres.Out()), S_OK);
    com::CComPtr<_Presentation> p;
    com::CComBSTR name(path);
    EXPECT_EQ(pres->Open(name, msoFalse, msoFalse, withWindow, p.Out()), S_OK);
    return p;
  }

  com::CComPtr<SlideShowView> Run(_Presentation* p) {
    com::CComPtr<SlideShowSettings> settings;
    EXPECT_EQ(p->get_SlideShowSettings(settings.Out()), S_OK);
    com::CComPtr<SlideShowWindow> wnd;
    EXPECT_EQ(settings->Run(wnd.Out()), S_OK);
    com::CComPtr<SlideShowView> view;
    if (wnd) {
      EXPECT_EQ(wnd->get_View(view.Out()), S_OK);
    }
    return view;
  }

  static void PumpMessages() {
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  }

  std::string m_dir;
  com::CComPtr<_Application> m_app;
};

inline std::string Text(BSTR b) { return com::Utf8FromBstr(b); }

}  // namespace hosttest
