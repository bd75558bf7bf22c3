// How the engines get their file-carousel objects: by default through the
// component runtime ("Pelago.PelagoSnd", "Pelago.PelagoRcv" by class
// identifier); a test may hand an engine a factory of its own instead.
#pragma once

#include <functional>

#include "platform/Win32Types.h"

struct IPelagoSnd;
struct IPelagoRcv;
namespace com {
template <class T>
class CComPtr;
}  // namespace com

// Each stores a new object in *pOut and returns S_OK, or a failure HRESULT.
using PelagoSndFactory = std::function<HRESULT(com::CComPtr<IPelagoSnd>* pOut)>;
using PelagoRcvFactory = std::function<HRESULT(com::CComPtr<IPelagoRcv>* pOut)>;
