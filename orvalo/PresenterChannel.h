// CPresenterChannel: one audience stream of the presenter. It owns a Korin
// epoch sender on the live group, a "Pelago.PelagoSnd" carousel that sends the
// slide master's cabinet on the master group for the whole show, and the send
// thread that empties the channel's send queue (its base) onto the sender.
//
// Threads: Connect, Cleanup and the queue's feeding run on the host's thread;
// the send thread touches the channel only through the queue's GetNextPacket
// and the epoch sender. Cleanup stops the send thread through the queue's
// request/reply pair before anything it uses goes.
#pragma once

#include <memory>

#include "Pelago/PelagoCom.h"
#include "com/ComPtr.h"
#include "orvalo/PelagoFactory.h"
#include "orvalo/SlideQueue.h"
#include "platform/Win32Types.h"

class CEpochSender;
class CProgressDialog;

class CPresenterChannel final : public CSlideQueue {
 public:
  static constexpr DWORD kResendHoldOffMs = 4400;
  static constexpr int kMaxMachineName = 15;

  // pDialog (may be null) is the channel's progress dialog; the queue owns it.
  // An empty factory creates "Pelago.PelagoSnd" through the component runtime.
  explicit CPresenterChannel(std::unique_ptr<CProgressDialog> pDialog,
                             PelagoSndFactory pelagoFactory = {});
  ~CPresenterChannel();  // Cleanup

  // Opens the live sender, starts the master carousel on the master cabinet
  // and the send thread. FALSE for a live address outside 224.0.0.0/4 (before
  // anything is made) or any failed step; the destructor then frees the rest.
  BOOL Connect(const char* szMasterAddr, int nMasterPort, const char* szLiveAddr, int nPort,
               int nTTL, int nBytesPerSec, int nK);
  // Releases the carousel, stops the send thread, empties the queue and
  // closes the sender. Safe to call repeatedly.
  void Cleanup();

  // Keeps up to 15 characters of the name, without two leading backslashes.
  BOOL SetMachineName(const char* pMachineName);
  const char* GetMachineName() const { return m_szMachineName; }
  CProgressDialog* GetProgressDialog() const { return m_pDialog; }
  // The live sender while connected, for tests that watch the wire.
  CEpochSender* GetEpochSender() const { return m_pEpochSender.get(); }

 private:
  static DWORD SendThread(LPVOID pParam);
  DWORD RunSendThread();

  // Made and freed by the host's thread while no send thread runs; in between
  // the send thread sends through it.
  std::unique_ptr<CEpochSender> m_pEpochSender;
  com::CComPtr<IPelagoSnd> m_IPelagoSndPtr;  // host's thread only
  HANDLE m_hSendThread = nullptr;            // host's thread only
  char m_szMachineName[kMaxMachineName + 1] = {};
  CProgressDialog* m_pDialog;  // owned by the queue; host's thread only
  PelagoSndFactory m_pelagoFactory;
};
