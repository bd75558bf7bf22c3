// CorvaloRcv: the audience control "Orvalo.orvaloRcv", a thin dispatch layer
// over its own audience engine, the automation object and the message bridge
// (IorvaloRcv in orvalo/orvaloCom.h). Apartment-threaded: every method runs
// on the host's main thread, so the control needs no lock; the engine's
// listen thread reaches the engine only through the bridge.
#pragma once

#include <span>

#include "com/DispatchImpl.h"
#include "orvalo/AudienceMember.h"
#include "orvalo/orvaloCom.h"
#include "orvalo/orvaloDispTables.h"
#include "ui/Surface.h"

class CorvaloRcv final : public com::CDualObject<CorvaloRcv, IorvaloRcv> {
 public:
  CorvaloRcv() = default;
  CorvaloRcv(const CorvaloRcv&) = delete;
  CorvaloRcv& operator=(const CorvaloRcv&) = delete;

  static std::span<const com::DispMember> DispTable() { return orvalo::OrvaloRcvDispTable(); }

  HRESULT Pelago(BSTR bstrMasterAddr, LONG nPort) override;
  HRESULT Init(BSTR Addr, LONG nPort, LONG nTTL, LONG MaxRate, BSTR Title, BSTR Description,
               BSTR StartDate, BSTR StartTime) override;
  HRESULT Terminate() override;
  HRESULT SetApp(IUnknown* pUnkApp) override;
  HRESULT DoPelagoRcv(BSTR bstrMasterAddr, LONG nPort, LONG* pfAbort) override;

  // Draws the control: its bounds and "ATL 3.0 : orvaloRcv" centred in them.
  void OnDraw(ui::CSurface* pSurface, const RECT& rcBounds);

 private:
  ~CorvaloRcv() override = default;

  // The master receive: -1 on failure, else 0 with the cancel flag in *pfAbort.
  int ReceiveMaster(BSTR bstrMasterAddr, LONG nPort, LONG* pfAbort);

  CAudienceMember m_Audience;  // the control's own engine
};
