// The late-bound member tables of the controls' interfaces: names and
// DISPIDs in slot order, for every object that implements them.
#pragma once

#include <span>

#include "com/DispatchImpl.h"
#include "orvalo/orvaloCom.h"

namespace orvalo {

inline std::span<const com::DispMember> OrvaloSndDispTable() {
  static constexpr com::DispMember kTable[] = {
      com::DispMethod<&IorvaloSnd::Test>("Test", 1),
      com::DispMethod<&IorvaloSnd::SetApp>("SetApp", 2),
      com::DispMethod<&IorvaloSnd::Terminate>("Terminate", 3),
      com::DispMethod<&IorvaloSnd::SetSlideShowWindow>("SetSlideShowWindow", 4),
      com::DispMethod<&IorvaloSnd::InstallTracker>("InstallTracker", 5),
      com::DispMethod<&IorvaloSnd::Init>("Init", 6),
      com::DispMethod<&IorvaloSnd::AddStream>("AddStream", 7),
      com::DispMethod<&IorvaloSnd::Command>("Command", 8),
  };
  return kTable;
}

inline std::span<const com::DispMember> OrvaloRcvDispTable() {
  static constexpr com::DispMember kTable[] = {
      com::DispMethod<&IorvaloRcv::Pelago>("Pelago", 1),
      com::DispMethod<&IorvaloRcv::Init>("Init", 2),
      com::DispMethod<&IorvaloRcv::Terminate>("Terminate", 3),
      com::DispMethod<&IorvaloRcv::SetApp>("SetApp", 4),
      com::DispMethod<&IorvaloRcv::DoPelagoRcv>("DoPelagoRcv", 5),
  };
  return kTable;
}

}  // namespace orvalo
