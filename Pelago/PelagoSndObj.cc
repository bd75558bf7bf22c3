#include "Pelago/PelagoSndObj.h"

#include <new>
#include <string>

#include "Pelago/ComArgs.h"

using pelago_com::FromWin32;
using pelago_com::kNotInitialised;

namespace {

constexpr int kK = 16;
constexpr int kN = 255;
constexpr unsigned long kPayloadLen = 1024;
constexpr std::size_t kMaxFileNameChars = 260;

}  // namespace

std::span<const com::DispMember> CPelagoSndObj::DispTable() {
  static constexpr com::DispMember kTable[] = {
      com::DispMethod<&IPelagoSnd::Init>("Init", 1),
      com::DispMethod<&IPelagoSnd::Start>("Start", 2),
      com::DispMethod<&IPelagoSnd::Stop>("Stop", 3),
      com::DispMethod<&IPelagoSnd::Test>("Test", 4),
  };
  return kTable;
}

CPelagoSndObj::~CPelagoSndObj() {
  delete m_pSend;  // stops the carousel
}

HRESULT CPelagoSndObj::Init(BSTR bstrAddr, LONG nPort, LONG nTTL, LONG nBytesPerSec) {
  std::string addr;
  DWORD dwErr = pelago_com::TextArg(bstrAddr, pelago_com::kMaxAddrChars, &addr);
  if (dwErr != 0) return FromWin32(ERROR_INVALID_PARAMETER);
  if (!pelago_com::IsPort(nPort) || nTTL < 0 || nTTL > 255 || nBytesPerSec <= 0)
    return FromWin32(ERROR_INVALID_PARAMETER);
  CPelagoSession session;
  dwErr = static_cast<DWORD>(session.SessionInit(
      addr.c_str(), static_cast<unsigned short>(nPort), static_cast<unsigned short>(nTTL),
      static_cast<unsigned long>(nBytesPerSec), kPelagoComSourceId, kK, kN, kPayloadLen));
  if (dwErr != 0) return FromWin32(dwErr);
  // A new session replaces the old one and ends its send.
  delete m_pSend;
  m_pSend = new (std::nothrow) CPelagoSend;
  if (m_pSend == nullptr) return E_OUTOFMEMORY;
  m_Session = session;
  dwErr = static_cast<DWORD>(m_pSend->Init(&m_Session));
  if (dwErr != 0) {
    delete m_pSend;
    m_pSend = nullptr;
  }
  return FromWin32(dwErr);
}

HRESULT CPelagoSndObj::Start(BSTR bstrFileName) {
  if (m_pSend == nullptr) return kNotInitialised;
  std::string name;
  DWORD dwErr = pelago_com::TextArg(bstrFileName, kMaxFileNameChars, &name);
  if (dwErr != 0) return FromWin32(dwErr);
  // A fresh transfer each time (this also ends a running one), so that
  // Start works again after Stop.
  dwErr = static_cast<DWORD>(m_pSend->Init(&m_Session));
  if (dwErr != 0) return FromWin32(dwErr);
  return FromWin32(m_pSend->Start(name.data(), 0));
}

HRESULT CPelagoSndObj::Stop() {
  if (m_pSend == nullptr) return kNotInitialised;
  m_pSend->StopPelagoSend();
  return S_OK;
}

HRESULT CPelagoSndObj::Test() { return S_OK; }
