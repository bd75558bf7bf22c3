// The COM face of the add-in library orvalo.so: the presenter control
// "Orvalo.orvaloSnd" (IorvaloSnd), the audience control "Orvalo.orvaloRcv"
// (IorvaloRcv) and their type library. Clients (the macro add-ins) create the
// controls through the component runtime by ProgID or class identifier and
// call them early- or late-bound; they never link orvalo.so.
//
// Both interfaces are dual; their methods carry DISPIDs 1 upward in the order
// below. Every method returns an HRESULT: S_OK, or E_FAIL when the engine or
// the automation object it calls fails; S_FALSE only from IorvaloRcv::Pelago
// for a master receive the user cancelled. No error information object.
// Strings are converted to the system's text (UTF-8) on entry.
#pragma once

#include "com/Dispatch.h"

inline constexpr GUID LIBID_ORVALOLib = com::MakeGuid("{36CA2BE0-5019-11D3-A3CD-00A0C9AF07ED}");
inline constexpr CLSID CLSID_orvaloSnd = com::MakeGuid("{B29546A9-5422-11D3-A3CE-00A0C9AF07ED}");
inline constexpr CLSID CLSID_orvaloRcv = com::MakeGuid("{456A9ECC-5114-11D3-A3CD-00A0C9AF07ED}");

inline constexpr const char* kOrvaloSndProgId = "Orvalo.orvaloSnd.1";
inline constexpr const char* kOrvaloSndViProgId = "Orvalo.orvaloSnd";
inline constexpr const char* kOrvaloRcvProgId = "Orvalo.orvaloRcv.1";
inline constexpr const char* kOrvaloRcvViProgId = "Orvalo.orvaloRcv";

// The presenter control. Call order: SetApp, SetSlideShowWindow, Init,
// AddStream (once per stream), InstallTracker, any number of Commands,
// Terminate.
struct IorvaloSnd : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{8EB663F0-5424-11D3-A3CE-00A0C9AF07ED}");

  // 1: a message box "VuruvadEva::Test", caption "orvalo".
  virtual HRESULT Test() = 0;
  // 2: hands over the presentation application (an object that answers its
  // _Application interface; anything else, or null, is E_FAIL).
  virtual HRESULT SetApp(IUnknown* pUnkApp) = 0;
  // 3: stops every stream.
  virtual HRESULT Terminate() = 0;
  // 4: picks the slide-show window whose presentation's tag "ReriRudo" is "1".
  virtual HRESULT SetSlideShowWindow() = 0;
  // 5: installs the pen tracker on that window's view.
  virtual HRESULT InstallTracker() = 0;
  // 6: saves the master and every slide to temporary files and cabinets.
  virtual HRESULT Init() = 0;
  // 7: adds a stream: the master carousel on bstrMasterAddr:nMasterPort, the
  // live packets on bstrLiveAddr:nPort, with nTTL and nBytesPerSec.
  virtual HRESULT AddStream(BSTR bstrMasterAddr, LONG nMasterPort, BSTR bstrLiveAddr, LONG nPort,
                            LONG nTTL, LONG nBytesPerSec) = 0;
  // 8: a live command, fields separated by "~": "gotoslide~N", "step~D~N",
  // "setscreen~S" (0 running, 1 erase, 2 paused, 3 black), "exitshow"
  // (blocks about 2.5 s while the end goes out), "writeproblem" (ignored).
  // E_FAIL for more than 255 characters and for a verb without the numbers it
  // needs; S_OK for an empty command and for verbs it does not know.
  virtual HRESULT Command(BSTR bstrCommand) = 0;

 protected:
  ~IorvaloSnd() = default;
};

// The audience control. Call order: SetApp, Pelago or DoPelagoRcv (the
// master), Init (the live stream), Terminate.
struct IorvaloRcv : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{3C075C6C-5114-11D3-A3CD-00A0C9AF07ED}");

  // 1: receives the slide master from bstrMasterAddr:nPort under a progress
  // dialog; S_FALSE when the user cancelled.
  virtual HRESULT Pelago(BSTR bstrMasterAddr, LONG nPort) = 0;
  // 2: joins the live stream on Addr:nPort, opens the received master and
  // follows the presenter. MaxRate and the four texts have no effect.
  virtual HRESULT Init(BSTR Addr, LONG nPort, LONG nTTL, LONG MaxRate, BSTR Title, BSTR Description,
                       BSTR StartDate, BSTR StartTime) = 0;
  // 3: leaves the live stream.
  virtual HRESULT Terminate() = 0;
  // 4: as IorvaloSnd::SetApp.
  virtual HRESULT SetApp(IUnknown* pUnkApp) = 0;
  // 5: as Pelago, with the cancel flag (0 or 1) in *pfAbort ([out, retval])
  // and S_OK for a cancelled receive.
  virtual HRESULT DoPelagoRcv(BSTR bstrMasterAddr, LONG nPort, LONG* pfAbort) = 0;

 protected:
  ~IorvaloRcv() = default;
};
