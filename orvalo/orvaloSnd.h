// CorvaloSnd: the presenter control "Orvalo.orvaloSnd", a thin dispatch layer
// over its own presenter engine and the automation object (IorvaloSnd in
// orvalo/orvaloCom.h). Apartment-threaded: every method runs on the host's
// main thread, so the control needs no lock; the engine's send threads reach
// it only through their queues.
#pragma once

#include <span>

#include "com/DispatchImpl.h"
#include "orvalo/Presenter.h"
#include "orvalo/orvaloCom.h"
#include "orvalo/orvaloDispTables.h"
#include "ui/Surface.h"

class CorvaloSnd final : public com::CDualObject<CorvaloSnd, IorvaloSnd> {
 public:
  CorvaloSnd() = default;
  CorvaloSnd(const CorvaloSnd&) = delete;
  CorvaloSnd& operator=(const CorvaloSnd&) = delete;

  static std::span<const com::DispMember> DispTable() { return orvalo::OrvaloSndDispTable(); }

  HRESULT Test() override;
  HRESULT SetApp(IUnknown* pUnkApp) override;
  HRESULT Terminate() override;
  HRESULT SetSlideShowWindow() override;
  HRESULT InstallTracker() override;
  HRESULT Init() override;
  HRESULT AddStream(BSTR bstrMasterAddr, LONG nMasterPort, BSTR bstrLiveAddr, LONG nPort, LONG nTTL,
                    LONG nBytesPerSec) override;
  HRESULT Command(BSTR bstrCommand) override;

  // Draws the control: its bounds and "ATL 3.0 : orvaloSnd" centred in them.
  void OnDraw(ui::CSurface* pSurface, const RECT& rcBounds);

 private:
  ~CorvaloSnd() override = default;

  CPresenter m_Presenter;  // the control's own engine
};
