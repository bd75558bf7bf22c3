#include "ui/UiObserver.h"

#include <cstdio>
#include <mutex>

namespace ui {
namespace {

std::mutex& ObserverMutex() {
  static std::mutex* m = new std::mutex;  // never destroyed: usable at exit
  return *m;
}

// Guarded by ObserverMutex().
std::shared_ptr<CUiObserver>& ObserverSlot() {
  static auto* p = new std::shared_ptr<CUiObserver>;
  return *p;
}

}  // namespace

std::shared_ptr<CUiObserver> SetUiObserver(std::shared_ptr<CUiObserver> observer) {
  std::lock_guard<std::mutex> lock(ObserverMutex());
  ObserverSlot().swap(observer);
  return observer;
}

std::shared_ptr<CUiObserver> GetUiObserver() {
  std::lock_guard<std::mutex> lock(ObserverMutex());
  return ObserverSlot();
}

}  // namespace ui

int MessageBox(HWND hOwner, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  const char* szText = lpText != nullptr ? lpText : "";
  const char* szCaption = lpCaption != nullptr ? lpCaption : "Error";
  if (auto observer = ui::GetUiObserver()) {
    return observer->OnMessageBox(hOwner, szText, szCaption, uType);
  }
  // One line: line breaks of the text become blanks.
  std::string line = std::string(szCaption) + ": " + szText;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(stderr, "%s\n", line.c_str());
  return IDOK;
}

BOOL MessageBeep(UINT uType) {
  if (auto observer = ui::GetUiObserver()) observer->OnMessageBeep(uType);
  return TRUE;
}
