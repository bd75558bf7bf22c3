// PelagoRcvEvent: the kinds of event a file multicast receive reports, both
// through the engine's CPelagoEvent and through IPelagoRcv::GetEvent. Public:
// clients of the COM objects see it through Pelago/PelagoCom.h.
#pragma once

enum PelagoRcvEvent {
  PELAGORE_INVALID = 0,
  PELAGORE_FILE_START = 1,
  PELAGORE_FILE_COMPLETE = 2,
  PELAGORE_COMPLETE = 3,
  PELAGORE_SESSION = 4,
  PELAGORE_TERMINATION = 5,
  PELAGORE_CONTINUE = 6,
  PELAGORE_ERROR = 60,
  PELAGORE_FATAL_ERROR = 61,
};
