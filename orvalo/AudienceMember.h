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
// the low water and the have-master flag; the listen thread only waits,
// receives and posts to the bridge.
#pragma once

#include "orvalo/PacketHandler.h"
#include "platform/Win32Types.h"

class CAudienceMember : public CPacketHandler, public CStopper {
 public:
  CAudienceMember();
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

};
