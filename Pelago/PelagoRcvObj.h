// CPelagoRcvObj: the "Pelago.PelagoRcv" object, IPelagoRcv over one
// CPelagoRecv in stop-after-file mode. Apartment-threaded: its methods run on
// the creating thread only, so its fields need no lock; the receive threads
// belong to the CPelagoRecv, which stops them when the object goes.
#pragma once

#include <span>
#include <string>

#include "Pelago/PelagoCom.h"
// The engine keeps the default visibility: its classes are exported.
#pragma GCC visibility push(default)
#include "Pelago/PelagoRecv.h"
#include "Pelago/PelagoSession.h"
#pragma GCC visibility pop
#include "com/DispatchImpl.h"

class CPelagoRcvObj final : public com::CDualObject<CPelagoRcvObj, IPelagoRcv> {
 public:
  CPelagoRcvObj() = default;
  ~CPelagoRcvObj() override;
  CPelagoRcvObj(const CPelagoRcvObj&) = delete;
  CPelagoRcvObj& operator=(const CPelagoRcvObj&) = delete;

  static std::span<const com::DispMember> DispTable();

  HRESULT Init(BSTR bstrAddr, LONG nPort, BSTR bstrSaveDir) override;
  HRESULT Start() override;
  HRESULT Stop() override;
  HRESULT GetEvent(LONG nTimeoutMs, LONG* pnType, LONG* pnError, LONG* pnFileId, LONG* pnFileLen,
                   BSTR* pbstrFileName, LONG* pfGot) override;
  HRESULT GetStats(LONG* pnRecvdCount, LONG* pnLostPackets, LONG* pnRedundantCount,
                   LONG* pnOutOfOrderCount, LONG* pnStrayCount, LONG* pnDropped, LONG* pnDecoded,
                   LONG* pnFilesDone, LONG* pnFilesRcvd, LONG* pnFilesStarted,
                   LONG* pnPayloadLen) override;
  HRESULT Test() override;

 private:
  CPelagoSession m_Session;        // the session of the last Init
  std::string m_SaveDir;           // its save folder
  CPelagoRecv* m_pRecv = nullptr;  // owned; non-null once initialised
  bool m_fStopped = false;         // Stop ended the receive: Start makes a new one
};
