// The two callbacks the message bridge delivers on PowerPoint's thread: a
// handler for received slide packets and a stopper for the stop request.
#pragma once

#include "platform/Win32Types.h"

class CPacketAndInfo;

// Implemented by the audience engine.
class CPacketHandler {
 public:
  virtual ~CPacketHandler() = default;
  // pPAI is valid for the call only; a handler that keeps the packet copies
  // it. Returns whether the packet was handled.
  virtual BOOL HandlePacket(CPacketAndInfo* pPAI) = 0;
};

// Implemented by the audience and the presenter engine.
class CStopper {
 public:
  virtual void Stop() = 0;

 protected:
  ~CStopper() = default;
};
