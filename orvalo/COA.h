// COA: the add-in's one automation object for the presentation application.
// It holds the application, the running slide-show window and the slide map,
// and makes every call of the add-in into the application's object model:
// saving the presenter's slides into files and cabinets, building the
// audience's presentation from received slide files, moving the slide show,
// its screen state, the pen and the mouse tracker.
//
// Thread safety: none. Every operation runs on the thread that owns the
// application's windows (COM calls of the controls and packets handed over by
// the message bridge). Operations return COA_E_SUCCESS (0), COA_E_PPTCALL (1)
// when a call of the object model failed, or COA_E_NOSLIDE (5) when a slide
// is not present or could not be inserted; no failure of the object model
// escapes an operation.
#pragma once

#include "host/PowerPoint.h"
#include "platform/Win32Types.h"
#include "ui/UiTypes.h"

class CPresenter;
class CPtsPacket;
class CWaitDialog;
class COATracker;
struct tPtsPoint;

inline constexpr DWORD COA_E_SUCCESS = 0;
inline constexpr DWORD COA_E_PPTCALL = 1;
inline constexpr DWORD COA_E_NOSLIDE = 5;

// Owner slide numbers run from 1 to MAX_SLIDES (index 0 exists, unused).
inline constexpr int MAX_SLIDES = 500;

class COA {
 public:
  COA();
  ~COA();
  COA(const COA&) = delete;
  COA& operator=(const COA&) = delete;

  // Keeps pApp (with a reference of its own) unless one is held already.
  void SetApp(_Application* pApp);
  // The presenter's preparation: SaveSlides(0), then ResetSlideMap(1).
  DWORD Init();
  // The audience's preparation: empty slide map and the waiting dialog.
  // The four texts are not used. TRUE if the dialog object was created.
  BOOL ShowWaitDialog(const char* szTitle, const char* szDescription, const char* szStartDate,
                      const char* szStartTime);
  void ResetSlideMap(int nHave);
  // The application's frame window (cached), or null.
  HWND GetPPHWND();
  // Saves the master (no slides) and each slide alone into the temporary
  // folder, and compresses each into its cabinet. 0 or 1.
  DWORD SaveSlides(int nKeepMaster);
  // Opens the audience's presentation from the master file. 0, or 1 when
  // it cannot be opened.
  DWORD OpenMaster(const char* szFileName);
  // Appends the first slide of szFileName as owner slide nSlide; the first
  // slide received also starts the show. 0, 1, or 5 when nSlide is no owner
  // slide (1 .. MAX_SLIDES) or the slide cannot be inserted.
  DWORD AddSlideFromFile(const char* szFileName, int nSlide);
  // Deletes exactly the temporary files SaveSlides wrote. 0.
  DWORD DeleteTempFiles();
  // Wait dialog, temporary files, slide-show window, tracker, application.
  void Cleanup();

  // The slide-show window whose presentation's tag "ReriRudo" is "1": 0
  // (found and kept), 1 (none qualifies), 2 (a call failed).
  DWORD SetSlideShowWindow();
  // Keeps pSSWin with a reference: 0, or 2 for null.
  DWORD SetSlideShowWindow(SlideShowWindow* pSSWin);
  // Installs the mouse tracker, bound to pPresenter, on the show's view
  // (replacing one installed before). 0, or 1 when there is no view or it
  // refuses the tracker.
  DWORD InstallTracker(CPresenter* pPresenter);
  // Moves the show to owner slide nWhich at step nStep. 0; 1 when nWhich is
  // beyond the tables, nStep beyond 0 .. 65535 or a call failed; 5 when the
  // slide is not present (the position stays).
  DWORD GoTo(int nWhich, int nStep);
  DWORD GotoSlide(int nWhich);
  DWORD Advance(int nDirection, int nOwnerCurSlide);
  DWORD SetPointerType(PpSlideShowPointerType type);
  // Screen state of the slide protocol: 1 erase, 2 paused, 3 black, else running.
  DWORD SetScreen(int nState);
  // Records the end in the tag "ConferenceServer" and ends the show. 0 or 1.
  DWORD Quit();
  // Draws the points, joined by lines, in colour dwColor (RGB); restores the
  // pen colour. Draws through the tracker's view, or the slide-show window's
  // when no tracker is installed. A point that is not a finite number breaks
  // the line. 0, or 1 when there is no view or a line cannot be drawn.
  DWORD DrawPoints(const tPtsPoint* pPoints, DWORD dwCount, DWORD dwColor);
  // The same for a received points packet: exactly the points it holds.
  DWORD DrawPoints(const CPtsPacket& packet);

  // The show position as COA last moved it (owner slide and step), and where
  // the presenter last asked it to be.
  int GetCurSlide() const { return m_nCurSlide; }
  int GetCurStep() const { return m_nCurStep; }
  int GetTargetSlide() const { return m_nTargetSlide; }
  int GetTargetStep() const { return m_nTargetStep; }
  // The number of slide files the last SaveSlides wrote (until deleted).
  int GetSlideCounter() const { return m_nSlideCounter; }

 private:
  static bool IsOwnerSlide(int n) { return n >= 1 && n <= MAX_SLIDES; }
  // The view of the slide-show window (null and 1 when there is none).
  DWORD GetView(SlideShowView** ppView);
  // Adds the "Will synch on next slide..." slide at nSlideNum of the active
  // presentation. 0 or 1.
  DWORD InsertPlaceholder(int nSlideNum);
  // Runs the active presentation's show, speaker-style and advanced only by
  // COA, and makes its window the slide-show window. 0 or 1.
  DWORD StartShow();
  void DestroyWaitDialog();
  // Detaches the tracker from its view and presenter and lets go of it, so
  // that a view still holding it can no longer reach either.
  void DestroyTracker();

  _Application* m_pApp = nullptr;       // one reference
  SlideShowWindow* m_pSSWin = nullptr;  // one reference
  COATracker* m_pTracker = nullptr;     // owned (one reference)
  HWND m_hWndPP = nullptr;              // cached frame window
  int m_fShowStarted = 0;
  int m_Have[MAX_SLIDES + 1] = {};        // by owner slide: present locally
  int m_LocalIndex[MAX_SLIDES + 1] = {};  // by owner slide: local slide index
  int m_nCurSlide = 0;
  int m_nCurStep = 0;
  int m_nTargetSlide = 1;
  int m_nTargetStep = 0;
  int m_fMasterOpened = 0;
  CWaitDialog* m_pWaitDialog = nullptr;  // owned
  int m_nSlideCounter = 0;
  int m_fTempFiles = 0;
};

// The one instance of the add-in library.
extern COA g_COA;
