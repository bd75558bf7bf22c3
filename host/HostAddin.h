// The plug-in interface through which the presentation application hands
// its start-up and the user's slide-show actions to its macro add-ins.
//
// An add-in is a shared library whose path is registered as value "Path" of
// a key under the application's add-in key (for example
// HKEY_LOCAL_MACHINE\Software\Microsoft\Office\9.0\PowerPoint\Addins\Dazirezo).
// The host loads each one once at start-up (a file named on its command line
// that is a registered add-in is not opened as a presentation), calls its
// export HostAddinCreate, and unloads it after OnShutdown.
//
// Every call comes on the host's main thread, from its message loop, never
// from inside a call of the object model: an add-in may call the object
// model and run nested message loops from here. Events report what the user
// did (standard-input commands), after the view changed; changes made through
// the object model raise no events.
#pragma once

#include "host/PowerPoint.h"

struct IHostAddin {
  // Once the frame window exists and the message loop runs, with the
  // presentation named on the command line open (if any).
  virtual void OnStartup(_Application* pApp) = 0;
  // A slide show started (by the user or through SlideShowSettings::Run).
  virtual void OnSlideShowBegin(SlideShowWindow* pWnd) = 0;
  // The user moved the show to another slide (next past the last step,
  // previous from step 0, or go to slide N).
  virtual void OnSlideShowNextSlide(SlideShowWindow* pWnd) = 0;
  // The user moved one animation step within the slide: +1 or -1.
  virtual void OnSlideShowStep(SlideShowWindow* pWnd, LONG nDirection) = 0;
  // The user changed the screen: running, paused (shown white) or black.
  virtual void OnSlideShowScreen(SlideShowWindow* pWnd, PpSlideShowState state) = 0;
  // The user erased the pen drawing.
  virtual void OnSlideShowErase(SlideShowWindow* pWnd) = 0;
  // The show ended (the user's end, or Next past the last slide).
  virtual void OnSlideShowEnd(_Presentation* pPres) = 0;
  // The application is quitting; the add-in releases what it holds.
  virtual void OnShutdown() = 0;

 protected:
  ~IHostAddin() = default;
};

// The export of an add-in: a new add-in object, owned by the add-in itself
// and valid until OnShutdown has returned.
extern "C" {
using PFN_HostAddinCreate = IHostAddin* (*)();
IHostAddin* HostAddinCreate();
}
