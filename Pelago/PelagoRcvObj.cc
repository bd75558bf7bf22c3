#include "Pelago/PelagoRcvObj.h"

#include <new>
#include <string>

#include "Pelago/ComArgs.h"

using pelago_com::FromWin32;
using pelago_com::kNotInitialised;

namespace {

// The receiver keeps 259 characters of its save folder and the NUL.
constexpr std::size_t kMaxSaveDirChars = 259;

LONG AsLong(DWORD dw) { return static_cast<LONG>(dw); }

}  // namespace

std::span<const com::DispMember> CPelagoRcvObj::DispTable() {
  static constexpr com::DispMember kTable[] = {
      com::DispMethod<&IPelagoRcv::Init>("Init", 1),
      com::DispMethod<&IPelagoRcv::Start>("Start", 2),
      com::DispMethod<&IPelagoRcv::Stop>("Stop", 3),
      com::DispMethod<&IPelagoRcv::GetEvent>("GetEvent", 4),
      com::DispMethod<&IPelagoRcv::GetStats>("GetStats", 5),
      com::DispMethod<&IPelagoRcv::Test>("Test", 6),
  };
  return kTable;
}

CPelagoRcvObj::~CPelagoRcvObj() {
  delete m_pRecv;  // stops the receive threads
}

HRESULT CPelagoRcvObj::Init(BSTR bstrAddr, LONG nPort, BSTR bstrSaveDir) {
  std::string addr, dir;
  if (pelago_com::TextArg(bstrAddr, pelago_com::kMaxAddrChars, &addr) != 0 ||
      !pelago_com::IsPort(nPort))
    return FromWin32(ERROR_INVALID_PARAMETER);
  DWORD dwErr = pelago_com::TextArg(bstrSaveDir, kMaxSaveDirChars, &dir);
  if (dwErr != 0) return FromWin32(dwErr);
  CPelagoSession session;
  dwErr = static_cast<DWORD>(
      session.SessionInit(addr.c_str(), static_cast<unsigned short>(nPort), kPelagoComSourceId));
  if (dwErr != 0) return FromWin32(dwErr);
  // A new session replaces the old one and ends its receive.
  delete m_pRecv;
  m_pRecv = new (std::nothrow) CPelagoRecv;
  if (m_pRecv == nullptr) return E_OUTOFMEMORY;
  m_Session = session;
  m_SaveDir = dir;
  m_fStopped = false;
  dwErr = static_cast<DWORD>(m_pRecv->Init(&m_Session, m_SaveDir.c_str(), TRUE));
  if (dwErr != 0) {
    delete m_pRecv;
    m_pRecv = nullptr;
  }
  return FromWin32(dwErr);
}

HRESULT CPelagoRcvObj::Start() {
  if (m_pRecv == nullptr) return kNotInitialised;
  if (m_fStopped) {
    // A stopped receive has let go of its socket: a fresh one on the same
    // session and folder, with its counters and events anew.
    DWORD dwErr = static_cast<DWORD>(m_pRecv->Init(&m_Session, m_SaveDir.c_str(), TRUE));
    if (dwErr != 0) return FromWin32(dwErr);
    m_fStopped = false;
  }
  return FromWin32(m_pRecv->StartPelagoRecv());
}

HRESULT CPelagoRcvObj::Stop() {
  if (m_pRecv == nullptr) return kNotInitialised;
  m_pRecv->StopPelagoRecv();
  m_fStopped = true;
  return S_OK;
}

HRESULT CPelagoRcvObj::GetEvent(LONG nTimeoutMs, LONG* pnType, LONG* pnError, LONG* pnFileId,
                                LONG* pnFileLen, BSTR* pbstrFileName, LONG* pfGot) {
  if (m_pRecv == nullptr) return kNotInitialised;
  if (pnType == nullptr || pnError == nullptr || pnFileId == nullptr || pnFileLen == nullptr ||
      pbstrFileName == nullptr || pfGot == nullptr)
    return E_POINTER;
  *pnType = PELAGORE_INVALID;
  *pnError = *pnFileId = *pnFileLen = *pfGot = 0;
  *pbstrFileName = nullptr;
  // A negative time-out would be an endless wait.
  if (nTimeoutMs < 0) return FromWin32(ERROR_INVALID_PARAMETER);
  CPelagoEvent ev;
  // A failing queue still gives an event (PELAGORE_FATAL_ERROR with its
  // code), which the caller is to see; so the call itself succeeds.
  (void)m_pRecv->GetNextRecvEvent(&ev, static_cast<DWORD>(nTimeoutMs));
  const PelagoRcvEvent type = ev.GetEventType();
  *pnType = type;
  *pfGot = type == PELAGORE_CONTINUE ? 0 : 1;
  switch (type) {
    case PELAGORE_FILE_COMPLETE:
      *pbstrFileName = com::BstrFromUtf8(ev.GetFileName());
      if (*pbstrFileName == nullptr) return E_OUTOFMEMORY;
      [[fallthrough]];
    case PELAGORE_FILE_START:
      *pnFileId = AsLong(ev.GetFileId());
      *pnFileLen = AsLong(ev.GetFileLen());
      break;
    case PELAGORE_ERROR:
    case PELAGORE_FATAL_ERROR:
      *pnError = AsLong(ev.GetErrorCode());
      break;
    default:
      break;
  }
  return S_OK;
}

HRESULT CPelagoRcvObj::GetStats(LONG* pnRecvdCount, LONG* pnLostPackets, LONG* pnRedundantCount,
                                LONG* pnOutOfOrderCount, LONG* pnStrayCount, LONG* pnDropped,
                                LONG* pnDecoded, LONG* pnFilesDone, LONG* pnFilesRcvd,
                                LONG* pnFilesStarted, LONG* pnPayloadLen) {
  if (m_pRecv == nullptr) return kNotInitialised;
  LONG* const out[] = {pnRecvdCount, pnLostPackets, pnRedundantCount, pnOutOfOrderCount,
                       pnStrayCount, pnDropped,     pnDecoded,        pnFilesDone,
                       pnFilesRcvd,  pnFilesStarted, pnPayloadLen};
  for (LONG* p : out) {
    if (p == nullptr) return E_POINTER;
  }
  tPelagoRecvStats st{};
  m_pRecv->GetRecvStats(&st);
  const DWORD in[] = {st.RecvdCount, st.LostPackets, st.RedundantCount, st.OutOfOrderCount,
                      st.StrayCount, st.Dropped,     st.Decoded,        st.FilesDone,
                      st.FilesRcvd,  st.FilesStarted, st.PayloadLen};
  static_assert(sizeof in / sizeof in[0] == sizeof out / sizeof out[0]);
  static_assert(sizeof(tPelagoRecvStats) == sizeof in, "every counter handed out");
  for (std::size_t i = 0; i < sizeof in / sizeof in[0]; ++i) *out[i] = AsLong(in[i]);
  return S_OK;
}

HRESULT CPelagoRcvObj::Test() { return S_OK; }
