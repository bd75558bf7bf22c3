// CPelagoSndObj: the "Pelago.PelagoSnd" object, IPelagoSnd over one
// CPelagoSend. Apartment-threaded: its methods run on the creating thread
// only, so its fields need no lock; the send thread belongs to the
// CPelagoSend, which stops it when the object goes.
#pragma once

#include <span>

#include "Pelago/PelagoCom.h"
// The engine keeps the default visibility: its classes are exported.
#pragma GCC visibility push(default)
#include "Pelago/PelagoSend.h"
#include "Pelago/PelagoSession.h"
#pragma GCC visibility pop
#include "com/DispatchImpl.h"

class CPelagoSndObj final : public com::CDualObject<CPelagoSndObj, IPelagoSnd> {
 public:
  CPelagoSndObj() = default;
  ~CPelagoSndObj() override;
  CPelagoSndObj(const CPelagoSndObj&) = delete;
  CPelagoSndObj& operator=(const CPelagoSndObj&) = delete;

  static std::span<const com::DispMember> DispTable();

  HRESULT Init(BSTR bstrAddr, LONG nPort, LONG nTTL, LONG nBytesPerSec) override;
  HRESULT Start(BSTR bstrFileName) override;
  HRESULT Stop() override;
  HRESULT Test() override;

 private:
  CPelagoSession m_Session;        // the session of the last Init
  CPelagoSend* m_pSend = nullptr;  // owned; non-null once initialised
};
