// CProgressDialog: the presenter's "Transmission progress" dialog of one
// channel, with a docking thread that moves it just below the presenter's
// slide-show form once that form appears.
//
// Threads: Create, Destroy and the destructor run on PowerPoint's thread,
// which owns the dialog. SetThisSlide, SetNextSlide and SetRepairs only post
// and may come from the send threads; MoveTo may come from any thread.
// Destroy stops and joins the docking thread before the window goes, so the
// thread never touches a destroyed dialog. A channel's send queue holds it as
// its progress display.
#pragma once

#include <atomic>

#include "orvalo/SlideProgress.h"
#include "ui/UiTypes.h"

class CProgressDialog : public ISlideProgress {
 public:
  // Where the dialog opens, and the slide-show form it docks to.
  static constexpr int kHomeX = 580;
  static constexpr int kHomeY = 350;
  static constexpr DWORD kDockPollMs = 200;
  static constexpr const char* kFormClass = "ThunderXFrame";
  static constexpr const char* kFormTitle = "Vovavoraz Ozedu Rozu";

  CProgressDialog() = default;
  ~CProgressDialog() override;  // Destroy
  CProgressDialog(const CProgressDialog&) = delete;
  CProgressDialog& operator=(const CProgressDialog&) = delete;

  // Creates and shows the dialog and starts the docking thread. On failure the
  // handles stay null and every later call does nothing.
  void Create(HWND hParent);
  // Percentages outside 0..100 show as the nearer end.
  void SetThisSlide(int nPercent) override;
  void SetNextSlide(int nPercent) override;
  void SetRepairs(DWORD dwCount) override;
  // Places the dialog at (x, y) on the screen, topmost, size unchanged.
  void MoveTo(int x, int y);
  void Destroy();

  HWND GetHwnd() const { return m_hDlg.load(); }

 private:
  static DWORD DockThread(LPVOID pParam);
  static LONG_PTR DlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
  void StopDocking();

  // The handles are written on PowerPoint's thread and read by the send and
  // docking threads.
  std::atomic<HWND> m_hDlg{nullptr};
  std::atomic<HWND> m_hThisSlide{nullptr};
  std::atomic<HWND> m_hNextSlide{nullptr};
  HANDLE m_hDockThread = nullptr;  // PowerPoint's thread only
  HANDLE m_hDockStop = nullptr;    // manual-reset; set by Destroy. PowerPoint's thread only
};
