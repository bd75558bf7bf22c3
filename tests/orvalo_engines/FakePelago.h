// Test stand-ins for the carousel's COM objects: a receive object that hands
// out scripted events and counters, and a send object that records its calls.
// Both live on the test's stack; their reference counts only count.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "Pelago/PelagoCom.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"

namespace engines_test {

// The IDispatch part neither engine calls.
template <class I>
class CFakeDispatch : public I {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == I::kIID) {
      *ppv = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++m_nRefs); }
  ULONG Release() override { return static_cast<ULONG>(--m_nRefs); }
  HRESULT GetTypeInfoCount(UINT* pctinfo) override {
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  int Refs() const { return m_nRefs.load(); }

 private:
  std::atomic<int> m_nRefs{0};
};

struct tPelagoEvent {
  LONG nType;
  LONG nError = 0;
  LONG nFileLen = 0;
  std::string sFileName;
};

class CFakePelagoRcv final : public CFakeDispatch<IPelagoRcv> {
 public:
  HRESULT Init(BSTR bstrAddr, LONG nPort, BSTR bstrSaveDir) override {
    m_sAddr = com::Utf8FromBstr(bstrAddr);
    m_nPort = nPort;
    m_sSaveDir = com::Utf8FromBstr(bstrSaveDir);
    return m_hrInit;
  }
  HRESULT Start() override {
    ++m_nStarts;
    return S_OK;
  }
  HRESULT Stop() override {
    ++m_nStops;
    return S_OK;
  }
  // One scripted event per call; then PELAGORE_CONTINUE with nothing got.
  HRESULT GetEvent(LONG, LONG* pnType, LONG* pnError, LONG* pnFileId, LONG* pnFileLen,
                   BSTR* pbstrFileName, LONG* pfGot) override {
    *pnType = PELAGORE_CONTINUE;
    *pnError = *pnFileId = *pnFileLen = *pfGot = 0;
    *pbstrFileName = nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_events.empty()) return S_OK;
    const tPelagoEvent e = m_events.front();
    m_events.pop_front();
    *pnType = e.nType;
    *pnError = e.nError;
    *pnFileId = 7;
    *pnFileLen = e.nFileLen;
    if (!e.sFileName.empty()) *pbstrFileName = com::BstrFromUtf8(e.sFileName);
    *pfGot = e.nType != PELAGORE_CONTINUE;
    return S_OK;
  }
  HRESULT GetStats(LONG* pnRecvdCount, LONG* p1, LONG* p2, LONG* p3, LONG* p4, LONG* p5, LONG* p6,
                   LONG* p7, LONG* p8, LONG* p9, LONG* pnPayloadLen) override {
    *p1 = *p2 = *p3 = *p4 = *p5 = *p6 = *p7 = *p8 = *p9 = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    *pnRecvdCount = m_nRecvdCount;
    *pnPayloadLen = m_nPayloadLen;
    return S_OK;
  }
  HRESULT Test() override { return S_OK; }

  void Script(std::vector<tPelagoEvent> events) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.assign(events.begin(), events.end());
  }
  void SetStats(LONG nRecvdCount, LONG nPayloadLen) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nRecvdCount = nRecvdCount;
    m_nPayloadLen = nPayloadLen;
  }
  // A factory for the audience engine that hands out this object.
  PelagoRcvFactory Factory() {
    return [this](com::CComPtr<IPelagoRcv>* pOut) {
      *pOut = com::CComPtr<IPelagoRcv>(this);
      return S_OK;
    };
  }

  HRESULT m_hrInit = S_OK;
  std::string m_sAddr, m_sSaveDir;
  LONG m_nPort = 0;
  int m_nStarts = 0, m_nStops = 0;

 private:
  std::mutex m_mutex;
  std::deque<tPelagoEvent> m_events;  // guarded by m_mutex
  LONG m_nRecvdCount = 0;             // guarded by m_mutex
  LONG m_nPayloadLen = 1024;          // guarded by m_mutex
};

class CFakePelagoSnd final : public CFakeDispatch<IPelagoSnd> {
 public:
  HRESULT Init(BSTR bstrAddr, LONG nPort, LONG nTTL, LONG nBytesPerSec) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back("Init " + com::Utf8FromBstr(bstrAddr) + " " + std::to_string(nPort) + " " +
                      std::to_string(nTTL) + " " + std::to_string(nBytesPerSec));
    return m_hrInit;
  }
  HRESULT Start(BSTR bstrFileName) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back("Start " + com::Utf8FromBstr(bstrFileName));
    return m_hrStart;
  }
  HRESULT Stop() override { return S_OK; }
  HRESULT Test() override { return S_OK; }

  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }
  PelagoSndFactory Factory() {
    return [this](com::CComPtr<IPelagoSnd>* pOut) {
      ++m_nCreated;
      *pOut = com::CComPtr<IPelagoSnd>(this);
      return S_OK;
    };
  }

  HRESULT m_hrInit = S_OK;
  HRESULT m_hrStart = S_OK;
  std::atomic<int> m_nCreated{0};

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_calls;  // guarded by m_mutex
};

}  // namespace engines_test
