// COATracker: the mouse tracker that COA installs in the presenter's
// slide-show view. It draws each pen stroke in the view as it is made and
// collects its points into a points request that the presenter engine sends
// when the stroke ends.
//
// COA owns the tracker; the view holds a reference of its own while the
// tracker is installed. COA's cleanup takes it out of the view and detaches
// it (the view, the presenter's sink and the request go), so that a view that
// kept it anyway can reach nothing through it; the object itself goes with
// its last reference. PowerPoint's thread only.
#pragma once

#include <functional>
#include <memory>

#include "host/PowerPoint.h"
#include "orvalo/Request.h"

class COATracker final : public MouseTracker {
 public:
  // Where each finished stroke goes: the presenter engine's SendPoints, which
  // copies what it keeps. FALSE when it could not take the stroke.
  using StrokeSink = std::function<BOOL(CPtsRequest* pRequest)>;

  // Holds a reference to pView; strokes go to sink. Starts with one
  // reference, the owner's.
  COATracker(SlideShowView* pView, StrokeSink sink);
  COATracker(const COATracker&) = delete;
  COATracker& operator=(const COATracker&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG AddRef() override;
  ULONG Release() override;
  // Draws the line from the stroke's last point and adds the point: S_OK, or
  // E_FAIL when detached, when the line cannot be drawn or the point kept.
  HRESULT OnTrack(float X, float Y) override;
  // Hands the stroke, in the pen's colour, to the presenter and starts a new
  // one. The end point itself is neither drawn nor added. S_OK.
  HRESULT EndTrack(float X, float Y) override;

  // Lets go of the view, the sink and the request; afterwards OnTrack
  // fails and EndTrack does nothing.
  void Detach();

  SlideShowView* GetView() const { return m_pView; }

 private:
  ~COATracker();

  StrokeSink m_sink;
  SlideShowView* m_pView;  // one reference
  float m_fLastX = 0;
  float m_fLastY = 0;
  BOOL m_fHaveLast = FALSE;
  ULONG m_cRef = 1;
  std::shared_ptr<CPtsRequest> m_pRequest;  // the stroke being made
};
