// CPresenter: the presenter side of the live show. It keeps the presenter's
// current show state and up to 64 channels, each one audience stream (a
// Korin epoch sender on the live group, a Pelago carousel of the slide master
// on the master group, a send queue and its send thread), and turns each live
// command into state changes, slide files and pen strokes queued on every
// channel.
//
// Thread safety: every operation runs on the host's main thread; each
// channel's send thread touches only its own queue (under the queue's lock)
// and its epoch sender.
#pragma once

#include "orvalo/PacketHandler.h"
#include "orvalo/PelagoFactory.h"
#include "orvalo/SlidePacket.h"
#include "platform/Win32Types.h"

class CPresenterChannel;
class CPtsRequest;
class CRequest;

inline constexpr int kMaxPresenterChannels = 64;

class CPresenter final : public CStopper {
 public:
  // Channels get their master carousels from pelagoFactory (empty: through
  // the component runtime).
  explicit CPresenter(PelagoSndFactory pelagoFactory = {});
  ~CPresenter();  // Disconnect
  CPresenter(const CPresenter&) = delete;
  CPresenter& operator=(const CPresenter&) = delete;

  // Adds a channel (at most 64). FALSE when full or when it cannot connect.
  BOOL AddStream(const char* szMasterAddr, int nMasterPort, const char* szLiveAddr, int nPort,
                 int nTTL, int nBytesPerSec, int nK);
  BOOL Goto(DWORD n);
  BOOL Step(int nWhichway, DWORD nWhich);
  BOOL SetScreen(DWORD n);
  // Sends the done state; blocks for about 2.5 s so that it goes out.
  BOOL End();
  // Queues a pen stroke (a clone) on every channel, as of the current slide.
  BOOL SendPoints(CPtsRequest* pReq);
  BOOL SendState();
  BOOL SendSlide(DWORD n, BOOL fNext);
  BOOL Dispatch(CRequest* pReq, BOOL fNext);
  int FindChannel(const char* szMachineName);
  void MoveProgressDialog(int x, int y);
  // Stops and frees every channel, runs the automation object's cleanup and
  // resets the state. Safe to call repeatedly.
  void Disconnect();
  void Stop() override { Disconnect(); }

  const tSlideInfo& GetState() const { return m_State; }
  DWORD GetNextSlide() const { return m_dwNextSlide; }
  int GetChannelCount() const { return m_nChannels; }
  // Channel i (0 <= i < GetChannelCount()), for tests that watch its queue.
  CPresenterChannel* GetChannel(int i) const;

 private:
  void ResetState();
  // Milliseconds since the show's start (the automation object's), above
  // every earlier state's time: receivers take only a larger time as a newer
  // state.
  DWORD NextStateTime();

  // Everything below: the host's thread only.
  int m_nChannels = 0;
  tSlideInfo m_State{};
  DWORD m_dwNextSlide = 0;
  CPresenterChannel* m_pChannels[kMaxPresenterChannels] = {};  // owned, first m_nChannels used
  DWORD m_dwLastTime = 0;  // kept across Disconnect: audiences stay joined
  PelagoSndFactory m_pelagoFactory;
};
