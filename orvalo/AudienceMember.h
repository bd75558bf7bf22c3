// CAudienceMember: the audience side of a live show. Before the show it
// receives the slide master over the file carousel (a "Pelago.PelagoRcv"
// object) under a progress dialog; during the show it listens on the live
// group with a Korin receiver, hands every packet through the message bridge
// to the host's main thread, and there follows the presenter through the
// automation object: slide and step, screen state, the end of the show, pen
// strokes, and slide files reassembled from several packets.
//
// Thread safety: Init, Disconnect, HandlePacket and the master receive run on
// the host's main thread, which alone touches the state, the pending list,
// the sequences handled, the low water and the have-master flag; the listen
// thread only waits, receives and posts to the bridge.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <set>

#include "com/ComPtr.h"
#include "mcast/ReqReply.h"
#include "orvalo/PacketAndInfo.h"
#include "orvalo/PacketHandler.h"
#include "orvalo/PelagoFactory.h"
#include "orvalo/SlidePacket.h"
#include "platform/Win32Types.h"

struct IPelagoRcv;
class CKORINreceiver;
class CMasterRecvDialog;

class CAudienceMember : public CPacketHandler, public CStopper {
 public:
  // Korin receiver parameters.
  static constexpr DWORD kNackMinMs = 100;
  static constexpr DWORD kNackMaxMs = 4500;
  static constexpr int kNackBackoffMax = 3;
  static constexpr int kFecK = 4;
  static constexpr long kListenWaitUs = 250000;
  // The pending list's own bound, besides the low-water purge: a sender that
  // never completes a run cannot take more than this. Each entry counts its
  // length plus kPendingEntryOverhead.
  static constexpr std::size_t kMaxPendingBytes = std::size_t{32} << 20;
  static constexpr std::size_t kPendingEntryOverhead = 64;
  // Master receive.
  static constexpr UINT_PTR kMasterTimerId = 1;
  static constexpr UINT kMasterTimerMs = 200;

  // The master receive gets its carousel object from pelagoFactory (empty:
  // through the component runtime).
  explicit CAudienceMember(PelagoRcvFactory pelagoFactory = {});
  ~CAudienceMember() override;  // Disconnect
  CAudienceMember(const CAudienceMember&) = delete;
  CAudienceMember& operator=(const CAudienceMember&) = delete;

  // Joins the live stream on szAddr:nPort, opens the received master and
  // starts the listen thread. nMaxRate and the four texts have no effect.
  BOOL Init(const char* szAddr, WORD nPort, int nTTL, int nMaxRate, const char* szTitle,
            const char* szDescription, const char* szStartDate, const char* szStartTime);
  // Leaves the live stream and tidies up; safe to call repeatedly.
  void Disconnect();
  void Stop() override { Disconnect(); }
  BOOL HandlePacket(CPacketAndInfo* pPAI) override;

  BOOL StartPelagoRcv(const char* szMasterAddr, WORD nPort);
  // Receives the master cabinet under the progress dialog: 0 when it arrived
  // or the user cancelled (*pfAbort 1), -1 on failure.
  int DoPelagoRcv(const char* szMasterAddr, WORD nPort, int nUnused, long* pfAbort);

  // Observers and knobs for tests.
  const tSlideInfo& GetState() const { return m_State; }
  DWORD GetLowWater() const { return m_dwLowWater; }
  std::size_t GetPendingCount() const { return m_Pending.size(); }
  std::size_t GetPendingBytes() const { return m_cbPending; }
  std::size_t GetHandledCount() const { return m_Handled.size(); }
  BOOL HaveMaster() const { return m_fHaveMaster; }
  BOOL IsConnected() const { return m_pEpochReceiver != nullptr; }
  void SetMaxPendingBytes(std::size_t cbMax) { m_cbMaxPending = cbMax; }
  static constexpr std::size_t kMaxHandled = 4096;
  // Forgets the pending list, the low water and the state (as Init leaves
  // them), so that a fuzzer starts each input afresh without reconnecting.
  void ResetLiveStateForTesting() { ResetLiveState(); }

 private:
  using PendingList = std::list<std::unique_ptr<CPacketAndInfo>>;

  void ResetLiveState();
  static DWORD ThreadListen(LPVOID pParam);
  DWORD RunListen();
  void StopListenThread();
  BOOL OpenMaster();
  void PurgeBelow(DWORD dwLowWater);
  void TrimPending();
  void ErasePending(PendingList::iterator it);
  // Whether a data packet of this sequence was handled already (Korin
  // delivers a decoded group's packets again); RecordHandled notes one.
  bool WasHandled(DWORD dwSeq) const { return m_Handled.count(dwSeq) != 0; }
  void RecordHandled(DWORD dwSeq);
  BOOL HandleItem(const CPacketAndInfo& packet, DWORD dwType);
  BOOL HandleSingle(const BYTE* pPacket, DWORD dwLen, DWORD dwType);
  BOOL Reassemble(PendingList::iterator itStart);
  // Master receive: one timer tick's events and progress. 1 = done, 0 = go
  // on, -1 = failure.
  int OnMasterTimer(CMasterRecvDialog* pDialog, DWORD* pdwFileLen);
  BOOL UpdateMasterProgress(CMasterRecvDialog* pDialog, DWORD dwFileLen);

  // All below but the listen thread's use of the receiver: the host's thread
  // only. The listen thread uses m_pEpochReceiver and m_ListenStop between its
  // start in Init and its reply, while the host's thread leaves both alone.
  tSlideInfo m_State{};
  std::unique_ptr<CKORINreceiver> m_pEpochReceiver;
  com::CComPtr<IPelagoRcv> m_IPelagoRcvPtr;
  HANDLE m_hListenThread = nullptr;
  CReqReply m_ListenStop;
  PendingList m_Pending;  // ascending Korin sequence
  std::size_t m_cbPending = 0;
  std::size_t m_cbMaxPending = kMaxPendingBytes;
  DWORD m_dwLowWater = 0;
  // Sequences of the data packets handled, the newest kMaxHandled of them:
  // far more than can still be delivered again.
  std::set<DWORD> m_Handled;
  BOOL m_fHaveMaster = FALSE;
  PelagoRcvFactory m_pelagoFactory;
};
