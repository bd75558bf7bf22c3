// The observer through which the headless window stand-in is seen and used.
//
// There is no screen: message boxes, beeps and dialogs are reported to one
// process-wide observer. The host program prints them as text; tests record
// them. To press a dialog's button, call ui::ClickDlgButton (ui/Dialog.h).
//
// Thread safety: callbacks run on whichever thread made the change (a dialog's
// values change on its own thread, a move may come from any thread), never
// under a lock of the stand-in, so they may call back into it. An observer
// must therefore be thread-safe. It is held by shared_ptr, so replacing it
// while a callback runs is safe.
#pragma once

#include <memory>
#include <string>

#include "ui/UiTypes.h"

namespace ui {

class CUiObserver {
 public:
  virtual ~CUiObserver() = default;

  // A message box is shown; the result is the button pressed (IDOK, ...).
  virtual int OnMessageBox(HWND hOwner, const std::string& text, const std::string& caption,
                           UINT uType) = 0;
  virtual void OnMessageBeep(UINT uType) { (void)uType; }

  // A dialog became visible, a value, text or place of it changed, or it is
  // about to go. ui::DescribeDialog gives its current contents as text.
  virtual void OnDialogShown(HWND hDlg) { (void)hDlg; }
  virtual void OnDialogChanged(HWND hDlg) { (void)hDlg; }
  virtual void OnDialogDestroyed(HWND hDlg) { (void)hDlg; }
};

// Installs `observer` (null: none) and returns the previous one. Without an
// observer a message box prints one line to standard error and gives IDOK.
std::shared_ptr<CUiObserver> SetUiObserver(std::shared_ptr<CUiObserver> observer);
std::shared_ptr<CUiObserver> GetUiObserver();

}  // namespace ui

// A message box, answered at once by the observer (there is no modal loop).
int MessageBox(HWND hOwner, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
BOOL MessageBeep(UINT uType);
