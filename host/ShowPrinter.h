// What the host prints on standard output: one line per visible change of
// the slide-show window, and the message boxes, beeps and dialogs of the
// window layer, each line flushed at once. Optionally it also rewrites an SVG
// picture of the show on every change.
//
// OnViewChanged runs on the main thread. The observer callbacks may come from
// any thread; every line goes out under m_lock, whole.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "host/HostApplication.h"
#include "ui/UiObserver.h"

namespace host {

class CShowPrinter final : public ui::CUiObserver {
 public:
  explicit CShowPrinter(std::string svgPath) : m_svgPath(std::move(svgPath)) {}

  // Prints the view's line when it differs from the last one printed, and
  // rewrites the picture.
  void OnViewChanged();
  void PrintLine(const std::string& line);

  int OnMessageBox(HWND hOwner, const std::string& text, const std::string& caption,
                   UINT uType) override;
  void OnMessageBeep(UINT uType) override;
  void OnDialogShown(HWND hDlg) override;
  void OnDialogChanged(HWND hDlg) override;
  void OnDialogDestroyed(HWND hDlg) override;

 private:
  void PrintDialog(HWND hDlg, const char* szWhat);

  const std::string m_svgPath;            // empty: no picture
  std::mutex m_lock;                      // guards the output and the fields below
  std::string m_lastView;                 // guarded by m_lock
  std::map<HWND, std::string> m_dialogs;  // last printed text per dialog; guarded by m_lock
};

}  // namespace host
