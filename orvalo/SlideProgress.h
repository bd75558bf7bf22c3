// ISlideProgress: where a send queue shows its channel's transmission
// progress (the presenter's progress dialog). Called from the channel's send
// thread; implementations only post, never wait.
#pragma once

#include "platform/Win32Types.h"

class ISlideProgress {
 public:
  virtual ~ISlideProgress() = default;
  virtual void SetThisSlide(int nPercent) = 0;
  virtual void SetNextSlide(int nPercent) = 0;
  virtual void SetRepairs(DWORD dwRepairsQueued) = 0;
};
