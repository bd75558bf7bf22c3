// The COM face of the file multicast library: the classes "Pelago.PelagoSnd"
// and "Pelago.PelagoRcv" that Pelago.so serves, their dual interfaces
// IPelagoSnd and IPelagoRcv, the event interfaces and the type library.
// Clients create the objects through the component runtime by class
// identifier or ProgID; they never link Pelago.so for this.
//
// Every method returns an HRESULT; library errors come back as
// HRESULT_FROM_WIN32(code), and every method but Init and Test gives
// HRESULT_FROM_WIN32(ERROR_NOT_INITIALIZED) (0x800704D9) before Init.
// Out parameters are [out]: the callee overwrites them without freeing.
//
// This header and the two it includes are all a client needs: none of the
// engine's own headers comes with it.
#pragma once

#include "Pelago/PelagoRcvEvent.h"  // enum PelagoRcvEvent (PELAGORE_...)
#include "com/Dispatch.h"

inline constexpr CLSID CLSID_PelagoSnd = com::MakeGuid("{3B033897-AAEA-4BA5-B3DB-CE1543367C7C}");
inline constexpr CLSID CLSID_PelagoRcv = com::MakeGuid("{BD07C439-6417-4D97-836E-51698D32E81D}");
inline constexpr GUID LIBID_PelagoLib = com::MakeGuid("{B804C39A-0A9F-4A6F-BF4B-F4CFB1416DFE}");

inline constexpr const char* kPelagoSndProgId = "Pelago.PelagoSnd.1";
inline constexpr const char* kPelagoSndViProgId = "Pelago.PelagoSnd";
inline constexpr const char* kPelagoRcvProgId = "Pelago.PelagoRcv.1";
inline constexpr const char* kPelagoRcvViProgId = "Pelago.PelagoRcv";

// The source id every session of the objects carries.
inline constexpr unsigned long kPelagoComSourceId = 193894;

// Sends one file again and again (a carousel) on a multicast group until
// Stop or until the object's last reference goes.
struct IPelagoSnd : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{FE147878-E022-4558-9A63-91EE41C090C5}");

  // DISPID 1: a send session on group bstrAddr:nPort with nTTL (0-255) and
  // nBytesPerSec (> 0); K 16, N 255, payload 1024 bytes. Again: a new session
  // (a running send ends).
  virtual HRESULT Init(BSTR bstrAddr, LONG nPort, LONG nTTL, LONG nBytesPerSec) = 0;
  // DISPID 2: starts sending the file (at most 260 characters) in endless
  // rounds; a send that runs ends first. HRESULT_FROM_WIN32 of 206 for a
  // longer name, of the file's error (2: missing) or of 87 for an empty one.
  virtual HRESULT Start(BSTR bstrFileName) = 0;
  // DISPID 3: ends the send; Start may follow.
  virtual HRESULT Stop() = 0;
  // DISPID 4: S_OK; the object answers.
  virtual HRESULT Test() = 0;

 protected:
  ~IPelagoSnd() = default;
};

// Receives one file from a multicast group into a save folder under the
// sender's base name, and hands out the receive's events and counters.
struct IPelagoRcv : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{73B42159-6CD7-4C32-B7D7-5788394EEFCB}");

  // DISPID 1: a receive session on group bstrAddr:nPort into bstrSaveDir (at
  // most 259 characters) that ends after the first file. Again: a new one.
  virtual HRESULT Init(BSTR bstrAddr, LONG nPort, BSTR bstrSaveDir) = 0;
  // DISPID 2, 3: start and stop the receive.
  virtual HRESULT Start() = 0;
  virtual HRESULT Stop() = 0;
  // DISPID 4: the next event within nTimeoutMs. *pnType is a PelagoRcvEvent;
  // *pnFileId and *pnFileLen are set for PELAGORE_FILE_START and
  // PELAGORE_FILE_COMPLETE, *pbstrFileName (a new string, else null) for
  // PELAGORE_FILE_COMPLETE, *pnError for PELAGORE_ERROR and
  // PELAGORE_FATAL_ERROR; the rest are 0. *pfGot is 0 for PELAGORE_CONTINUE
  // (nothing within the time-out), else 1.
  virtual HRESULT GetEvent(LONG nTimeoutMs, LONG* pnType, LONG* pnError, LONG* pnFileId,
                           LONG* pnFileLen, BSTR* pbstrFileName, LONG* pfGot) = 0;
  // DISPID 5: the receive's eleven counters, in the order of tPelagoRecvStats.
  virtual HRESULT GetStats(LONG* pnRecvdCount, LONG* pnLostPackets, LONG* pnRedundantCount,
                           LONG* pnOutOfOrderCount, LONG* pnStrayCount, LONG* pnDropped,
                           LONG* pnDecoded, LONG* pnFilesDone, LONG* pnFilesRcvd,
                           LONG* pnFilesStarted, LONG* pnPayloadLen) = 0;
  // DISPID 6: S_OK; the object answers.
  virtual HRESULT Test() = 0;

 protected:
  ~IPelagoRcv() = default;
};

// The objects' outgoing (event) interfaces, declared for clients and the
// type library; neither object fires events, and connection points do not
// exist on this platform.
struct _IPelagoSndEvents : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{A66C36A1-E27C-4DDD-B881-C45EFAE67D62}");

 protected:
  ~_IPelagoSndEvents() = default;
};

struct _IPelagoRcvEvents : IDispatch {
  static constexpr IID kIID = com::MakeGuid("{B4A9DBFD-193A-4AFB-B073-F41A2E95BC40}");

 protected:
  ~_IPelagoRcvEvents() = default;
};
