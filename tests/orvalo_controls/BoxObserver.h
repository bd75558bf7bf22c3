// Test helper: a UI observer that answers every message box with OK and keeps
// their texts.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "ui/UiObserver.h"

namespace controlstest {

class CBoxObserver : public ui::CUiObserver {
 public:
  int OnMessageBox(HWND, const std::string& text, const std::string&, UINT) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_boxes.push_back(text);
    return IDOK;
  }
  std::vector<std::string> Boxes() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boxes;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_boxes;  // guarded by m_mutex
};

}  // namespace controlstest
