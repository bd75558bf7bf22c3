#include "Pelago/PelagoEvent.h"

#include <cstring>
#include <new>

#include "platform/DebugOutput.h"

CPelagoEvent::CPelagoEvent()
    : m_EventType(PELAGORE_INVALID), m_dwFileIdOrError(0), m_dwFileLen(0), m_szFileName{},
      m_Stats{} {}

DWORD CPelagoEvent::GetErrorCode() const {
  ORV_ASSERT(m_EventType == PELAGORE_ERROR || m_EventType == PELAGORE_FATAL_ERROR);
  return m_dwFileIdOrError;
}

DWORD CPelagoEvent::GetFileId() const {
  ORV_ASSERT(m_EventType == PELAGORE_FILE_START || m_EventType == PELAGORE_FILE_COMPLETE);
  return m_dwFileIdOrError;
}

DWORD CPelagoEvent::GetFileLen() const {
  ORV_ASSERT(m_EventType == PELAGORE_FILE_START || m_EventType == PELAGORE_FILE_COMPLETE);
  return m_dwFileLen;
}

const char* CPelagoEvent::GetFileName() const {
  ORV_ASSERT(m_EventType == PELAGORE_FILE_COMPLETE);
  return m_szFileName;
}

void CPelagoEvent::SetFile(DWORD dwFileId, DWORD dwFileLen, const char* szName) {
  m_dwFileIdOrError = dwFileId;
  m_dwFileLen = dwFileLen;
  std::size_t n = szName == nullptr ? 0 : ::strnlen(szName, sizeof m_szFileName - 1);
  if (n != 0) std::memcpy(m_szFileName, szName, n);
  m_szFileName[n] = '\0';
}

namespace {

BOOL Post(CPelagoEventQueue* pQueue, const CPelagoEvent& event) {
  if (!ORV_ASSERT(pQueue != NULL)) return FALSE;
  auto* pCopy = new (std::nothrow) CPelagoEvent(event);
  if (pCopy == nullptr) return FALSE;
  if (!pQueue->Enqueue(pCopy)) {
    delete pCopy;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BOOL PostFatalError(CPelagoEventQueue* pQueue, DWORD dwCode) {
  CPelagoEvent event;
  event.SetEventType(PELAGORE_FATAL_ERROR);
  event.SetErrorCode(dwCode);
  return Post(pQueue, event);
}

BOOL PostError(CPelagoEventQueue* pQueue, DWORD dwCode) {
  CPelagoEvent event;
  event.SetEventType(PELAGORE_ERROR);
  event.SetErrorCode(dwCode);
  return Post(pQueue, event);
}

BOOL PostFileStart(CPelagoEventQueue* pQueue, DWORD dwFileId, DWORD dwFileLen) {
  CPelagoEvent event;
  event.SetEventType(PELAGORE_FILE_START);
  event.SetFile(dwFileId, dwFileLen, nullptr);
  return Post(pQueue, event);
}

BOOL PostFileComplete(CPelagoEventQueue* pQueue, DWORD dwFileId, const CPelagoFile& file) {
  CPelagoEvent event;
  event.SetEventType(PELAGORE_FILE_COMPLETE);
  event.SetFile(dwFileId, file.GetSize(), file.GetName());
  return Post(pQueue, event);
}

BOOL PostComplete(CPelagoEventQueue* pQueue) {
  CPelagoEvent event;
  event.SetEventType(PELAGORE_COMPLETE);
  return Post(pQueue, event);
}
