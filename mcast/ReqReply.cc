#include "mcast/ReqReply.h"

#include "platform/DebugOutput.h"
#include "platform/Handle.h"

using platform::InitialState;
using platform::ResetPolicy;

CReqReply::CReqReply() : m_hReq(nullptr), m_hReply(nullptr) { (void)Init(); }

CReqReply::~CReqReply() {
  if (m_hReq != nullptr) CloseHandle(m_hReq);
  if (m_hReply != nullptr) CloseHandle(m_hReply);
}

BOOL CReqReply::Init() {
  if (m_hReq == nullptr) {
    m_hReq = CreateEvent(ResetPolicy::Manual, InitialState::NotSignaled);
    if (m_hReq == nullptr) return FALSE;
  }
  if (m_hReply == nullptr) {
    m_hReply = CreateEvent(ResetPolicy::Manual, InitialState::NotSignaled);
    if (m_hReply == nullptr) return FALSE;
  }
  return TRUE;
}

void CReqReply::Request() {
  if (ORV_ASSERT(m_hReq != NULL)) SetEvent(m_hReq);
}

void CReqReply::Reply() {
  if (ORV_ASSERT(m_hReply != NULL)) SetEvent(m_hReply);
}

BOOL CReqReply::Requested() {
  if (!ORV_ASSERT(m_hReq != NULL)) return FALSE;
  return WaitForSingleObject(m_hReq, 0) != WAIT_TIMEOUT;
}

BOOL CReqReply::Replied() {
  if (!ORV_ASSERT(m_hReply != NULL)) return FALSE;
  return WaitForSingleObject(m_hReply, 0) != WAIT_TIMEOUT;
}

void CReqReply::Reset() {
  if (ORV_ASSERT(m_hReq != NULL)) ResetEvent(m_hReq);
  if (ORV_ASSERT(m_hReply != NULL)) ResetEvent(m_hReply);
}

BOOL CReqReply::WaitForReply(DWORD dwMilliseconds) {
  if (!ORV_ASSERT(m_hReply != NULL)) return FALSE;
  DWORD r = WaitForSingleObject(m_hReply, dwMilliseconds);
  if (r == WAIT_OBJECT_0) return TRUE;
  ORV_ASSERT(r == WAIT_TIMEOUT);
  return FALSE;
}

void CReqReply::WaitForReplyInfinite() {
  if (!ORV_ASSERT(m_hReply != NULL)) return;
  DWORD r = WaitForSingleObject(m_hReply, INFINITE);
  ORV_ASSERT(r == WAIT_OBJECT_0);
}

void CReqReply::StopWorker() {
  if (Replied()) return;
  Request();
  WaitForReplyInfinite();
  Reset();
}
