// The audience engine's live side: joining the stream, the listen thread and
// the handling of received packets. The master receive is in
// AudienceMaster.cc.
#include "orvalo/AudienceMember.h"

#include <algorithm>
#include <new>
#include <string>

#include "ErrStuff/DebugTrace.h"
#include "Pelago/PelagoCom.h"
#include "korin/KORINreceiver.h"
#include "orvalo/COA.h"
#include "orvalo/Cabinet.h"
#include "orvalo/Defragger.h"
#include "orvalo/McastAddress.h"
#include "orvalo/PPTMsgComm.h"
#include "orvalo/PtsPacket.h"
#include "orvalo/TempFiles.h"
#include "platform/File.h"
#include "platform/Handle.h"
#include "platform/Thread.h"

namespace {

constexpr DWORD kInitialScreenState = 3;
constexpr char kMasterFileName[] = "_OV_Mast.ppt";

std::size_t PendingCost(const CPacketAndInfo& entry) {
  return entry.GetLen() + CAudienceMember::kPendingEntryOverhead;
}

}  // namespace

CAudienceMember::CAudienceMember(PelagoRcvFactory pelagoFactory)
    : m_pelagoFactory(std::move(pelagoFactory)) {}

CAudienceMember::~CAudienceMember() {
  Disconnect();
  g_PPTMsgComm.ForgetStopper(this);
}

BOOL CAudienceMember::Init(const char* szAddr, WORD nPort, int nTTL, int /*nMaxRate*/,
                           const char* szTitle, const char* szDescription, const char* szStartDate,
                           const char* szStartTime) {
  if (m_pEpochReceiver || m_hListenThread != nullptr) {
    DebugTrace("CAudienceMember::Init - already connected\n");
    return FALSE;
  }
  if (!m_ListenStop.Init()) return FALSE;
  if (!orvalo::IsMulticastAddress(szAddr)) return FALSE;
  std::unique_ptr<CKORINreceiver> pReceiver(
      new (std::nothrow) CKORINreceiver(kNackMinMs, kNackMaxMs, kNackBackoffMax));
  if (!pReceiver) return FALSE;
  if (!pReceiver->Open(kFecK, szAddr, nPort, nTTL)) return FALSE;
  m_pEpochReceiver = std::move(pReceiver);

  g_COA.ShowWaitDialog(szTitle, szDescription, szStartDate, szStartTime);
  g_COA.GoTo(1, 0);

  if (m_fHaveMaster && !OpenMaster()) {
    Disconnect();
    return FALSE;
  }

  m_hListenThread = CreateThread(ThreadListen, this, nullptr);
  if (m_hListenThread == nullptr) {
    Disconnect();
    return FALSE;
  }
  SetThreadPriority(m_hListenThread, THREAD_PRIORITY_ABOVE_NORMAL);  // a failure is ignored

  ResetLiveState();
  return TRUE;
}

void CAudienceMember::ResetLiveState() {
  m_State = tSlideInfo{
      .dwScreenState = kInitialScreenState, .dwSlide = 1, .dwTime = 0, .wStep = 0, .fDone = 0};
  m_dwLowWater = 0;
  m_Pending.clear();
  m_cbPending = 0;
  m_Handled.clear();
}

BOOL CAudienceMember::OpenMaster() {
  char szCab[MAX_PATH + 1];
  char szMaster[MAX_PATH + 1];
  if (!MasterCabName(szCab)) return FALSE;
  // The cabinet came from the network: it must hold the master's own name.
  if (!orvalo::Extract(szCab, nullptr, szMaster, kMasterFileName)) return FALSE;
  const DWORD dwResult = g_COA.OpenMaster(szMaster);
  platform::DeleteFile(szMaster);  // a failed delete is ignored
  return dwResult == COA_E_SUCCESS;
}

void CAudienceMember::Disconnect() {
  g_PPTMsgComm.Clear();
  m_IPelagoRcvPtr.Release();
  StopListenThread();
  // Packets the listen thread posted before it stopped must not reach this
  // object once it is gone.
  g_PPTMsgComm.Clear();
  m_pEpochReceiver.reset();
  m_Pending.clear();
  m_cbPending = 0;
  m_Handled.clear();
  g_COA.Cleanup();
  if (m_fHaveMaster) {
    char szCab[MAX_PATH + 1];
    if (MasterCabName(szCab)) platform::DeleteFile(szCab);  // a failed delete is ignored
    m_fHaveMaster = FALSE;
  }
}

void CAudienceMember::StopListenThread() {
  if (m_hListenThread == nullptr) return;
  if (!m_ListenStop.Replied()) {
    m_ListenStop.Request();
    m_ListenStop.WaitForReplyInfinite();
  }
  WaitForSingleObject(m_hListenThread, INFINITE);
  CloseHandle(m_hListenThread);
  m_hListenThread = nullptr;
  m_ListenStop.Reset();
}

DWORD CAudienceMember::ThreadListen(LPVOID pParam) {
  return static_cast<CAudienceMember*>(pParam)->RunListen();
}

DWORD CAudienceMember::RunListen() {
  DebugTrace("CAudienceMember::ThreadListen - thread started\n");
  IReliableReceiver* pReceiver = m_pEpochReceiver.get();
  const int nSize = pReceiver->GetMaxPacketSize();
  std::unique_ptr<BYTE[]> pBuffer(nSize > 0 ? new (std::nothrow) BYTE[nSize] : nullptr);
  if (!pBuffer) {
    g_PPTMsgComm.PostStop();
  } else {
    const DWORD dwSize = static_cast<DWORD>(nSize);
    for (;;) {
      if (m_ListenStop.Requested()) {
        DebugTrace("Listen thread received request to die.\n");
        break;
      }
      if (pReceiver->Wait(0, kListenWaitUs) < 1) continue;
      DWORD dwLen = 0, dwSequence = 0, dwLowWater = 0;
      BOOL fReliable = FALSE;
      if (pReceiver->Receive(pBuffer.get(), dwSize, &dwLen, &dwSequence, &dwLowWater, &fReliable) ==
          SOCKET_ERROR) {
        DebugTrace("Listen thread: SOCKET_ERROR\n");
        break;
      }
      // Bytes beyond the buffer were dropped; dwLen is the whole length.
      dwLen = std::min(dwLen, dwSize);
      if (dwLen > 0) {
        g_PPTMsgComm.PostPacket(this, pBuffer.get(), dwLen, dwLowWater, dwSequence,
                                m_ListenStop.GetReqHandle());
      }
    }
  }
  pBuffer.reset();
  DebugTrace("CAudienceMember::ThreadListen - thread exiting\n");
  m_ListenStop.Reply();
  return 1;
}

BOOL CAudienceMember::HandlePacket(CPacketAndInfo* pPAI) {
  if (!m_pEpochReceiver) return TRUE;
  if (pPAI == nullptr || !pPAI->IsValid()) return FALSE;
  const BYTE* pPacket = pPAI->GetPacket();
  const DWORD dwLen = pPAI->GetLen();
  DWORD dwType = 0;
  if (!orvalo::CheckSlidePacket(pPacket, dwLen, &dwType)) {
    DebugTrace("Packet %lu bytes Seq:%lu refused\n", static_cast<unsigned long>(dwLen),
               static_cast<unsigned long>(pPAI->GetSeq()));
    return FALSE;
  }
  const tPacketHeader& header = *tPacketHeader::Of(pPacket);
  DebugTrace("Packet %lu bytes LowWater %lu Seq:%lu Type:%lu", static_cast<unsigned long>(dwLen),
             static_cast<unsigned long>(pPAI->GetLowWater()),
             static_cast<unsigned long>(pPAI->GetSeq()), static_cast<unsigned long>(dwType));
  DebugTrace(" (%s)", header.GetTag().c_str());
  DebugTrace(" 1st:%d More:%d Time %lu Slide %lu Step %u\n", header.IsFirst() ? -1 : 0,
             header.IsMore() ? -1 : 0, static_cast<unsigned long>(header.GetTime()),
             static_cast<unsigned long>(header.GetSlide()),
             static_cast<unsigned>(header.GetStep()));

  if (pPAI->GetLowWater() > m_dwLowWater) {
    m_dwLowWater = pPAI->GetLowWater();
    PurgeBelow(m_dwLowWater);
  }

  tSlideInfo info{};
  UnpackSlideInfo(header, &info);
  if (info.dwTime > m_State.dwTime) {
    m_State.dwTime = info.dwTime;
    if (info.fDone) {
      DebugTrace("Received 'done' packet - quitting\n");
      g_COA.Quit();
      return TRUE;
    }
    if (info.wStep != m_State.wStep || info.dwSlide != m_State.dwSlide) {
      m_State.wStep = info.wStep;
      m_State.dwSlide = info.dwSlide;
      g_COA.GoTo(static_cast<int>(info.dwSlide), info.wStep);
    }
    if (info.dwScreenState != m_State.dwScreenState) {
      m_State.dwScreenState = info.dwScreenState;
      g_COA.SetScreen(static_cast<int>(info.dwScreenState));
    }
  } else if (dwType == orvalo::kPacketTypePoints && info.dwTime < m_State.dwTime &&
             info.dwSlide != m_State.dwSlide) {
    // A repaired stroke can arrive after the next slide is shown: it
    // belongs to the slide it was drawn on, not to this one.
    DebugTrace("Stale points of slide %lu dropped\n", static_cast<unsigned long>(info.dwSlide));
    return TRUE;
  }
  return HandleItem(*pPAI, dwType);
}

void CAudienceMember::PurgeBelow(DWORD dwLowWater) {
  for (auto it = m_Pending.begin(); it != m_Pending.end();) {
    auto next = std::next(it);
    // By sequence: a run's first packet may have come with a lower low
    // water than the rest, and is still wanted.
    if ((*it)->GetSeq() < dwLowWater) ErasePending(it);
    it = next;
  }
}

void CAudienceMember::RecordHandled(DWORD dwSeq) {
  try {
    m_Handled.insert(dwSeq);
  } catch (const std::bad_alloc&) {
    return;  // a repeat of it may be handled again, nothing worse
  }
  if (m_Handled.size() > kMaxHandled) m_Handled.erase(m_Handled.begin());
}

void CAudienceMember::ErasePending(PendingList::iterator it) {
  m_cbPending -= PendingCost(**it);
  m_Pending.erase(it);
}

// Drops the oldest entries (lowest sequences: runs the sender abandoned long
// ago) until the list fits its bound again.
void CAudienceMember::TrimPending() {
  while (m_cbPending > m_cbMaxPending && !m_Pending.empty()) {
    DebugTrace("CAudienceMember: pending list full - dropping Seq:%lu\n",
               static_cast<unsigned long>(m_Pending.front()->GetSeq()));
    ErasePending(m_Pending.begin());
  }
}

BOOL CAudienceMember::HandleItem(const CPacketAndInfo& packet, DWORD dwType) {
  const tPacketHeader& header = *tPacketHeader::Of(packet.GetPacket());
  // Data packets go reliably, each under a sequence of its own; one seen
  // again is a repeat and must not draw a stroke or insert a slide twice.
  // (State packets go unreliably under the last reliable sequence.)
  const bool fData = dwType == orvalo::kPacketTypePoints || dwType == orvalo::kPacketTypeFileData;
  if (fData && WasHandled(packet.GetSeq())) {
    DebugTrace("Duplicate\n");
    return TRUE;
  }
  if (header.IsFirst() && !header.IsMore()) {
    if (fData) RecordHandled(packet.GetSeq());
    return HandleSingle(packet.GetPacket(), packet.GetLen(), dwType);
  }

  std::unique_ptr<CPacketAndInfo> pCopy(new (std::nothrow) CPacketAndInfo(
      packet.GetPacket(), packet.GetLen(), packet.GetSeq(), packet.GetLowWater()));
  if (!pCopy || !pCopy->IsValid()) return FALSE;
  auto itInsert = m_Pending.begin();
  for (; itInsert != m_Pending.end(); ++itInsert) {
    if ((*itInsert)->GetSeq() > pCopy->GetSeq()) break;
    if ((*itInsert)->GetSeq() == pCopy->GetSeq()) {
      DebugTrace("Duplicate\n");
      return TRUE;
    }
  }
  const std::size_t cbCost = PendingCost(*pCopy);
  try {
    m_Pending.insert(itInsert, std::move(pCopy));
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  m_cbPending += cbCost;

  BOOL fInRun = FALSE;
  DWORD dwPrevious = 0;
  PendingList::iterator itStart = m_Pending.end();
  for (auto it = m_Pending.begin(); it != m_Pending.end(); ++it) {
    const CPacketAndInfo& entry = **it;
    const tPacketHeader& h = *tPacketHeader::Of(entry.GetPacket());
    if (entry.GetSeq() != dwPrevious + 1) fInRun = FALSE;
    if (h.IsFirst()) {
      fInRun = TRUE;
      itStart = it;
    } else if (fInRun && !h.IsMore()) {
      // A complete run of another type stays until the low water passes
      // it; it must not hide the slide files behind it.
      if (tPacketHeader::Of((*itStart)->GetPacket())->GetType() == orvalo::kPacketTypeFileData) {
        return Reassemble(itStart);
      }
      fInRun = FALSE;
    }
    dwPrevious = entry.GetSeq();
  }
  TrimPending();
  return TRUE;
}

BOOL CAudienceMember::HandleSingle(const BYTE* pPacket, DWORD dwLen, DWORD dwType) {
  switch (dwType) {
    case orvalo::kPacketTypePoints: {
      DebugTrace("POINTS\n");
      CPtsPacket view(static_cast<const void*>(pPacket), dwLen);
      if (!view.HasBuffer()) return FALSE;
      g_COA.DrawPoints(view);
      return TRUE;
    }
    case orvalo::kPacketTypeFileData: {
      CFileDefragger defragger;
      if (!defragger.AddPacket(pPacket, dwLen)) return FALSE;
      return defragger.Complete();
    }
    default:  // state: taken already
      return TRUE;
  }
}

// The run from itStart (a slide file's first packet) to the first packet
// without fMore is complete and consecutive.
BOOL CAudienceMember::Reassemble(PendingList::iterator itStart) {
  std::unique_ptr<CFileDefragger> pDefragger(new (std::nothrow) CFileDefragger);
  if (!pDefragger) return FALSE;
  BOOL fMore = TRUE;
  BOOL fAdded = TRUE;
  auto it = itStart;
  while (it != m_Pending.end() && fMore) {
    const CPacketAndInfo& entry = **it;
    fMore = tPacketHeader::Of(entry.GetPacket())->IsMore();
    // Once a slice fails the item is lost: the rest of its run goes too, so
    // that no orphan of it waits in the list.
    if (fAdded) fAdded = pDefragger->AddPacket(entry.GetPacket(), entry.GetLen());
    RecordHandled(entry.GetSeq());
    auto next = std::next(it);
    ErasePending(it);
    it = next;
  }
  if (!fAdded) return FALSE;
  return pDefragger->Complete();
}
