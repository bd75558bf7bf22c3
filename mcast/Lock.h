// CLock owns one (recursive) critical section; CLockGuard enters it for the
// life of a scope, so that every exit of the scope leaves it.
#pragma once

#include "platform/Sync.h"

class CLock {
 public:
  CLock() { InitializeCriticalSection(&m_cs); }
  virtual ~CLock() { DeleteCriticalSection(&m_cs); }
  CLock(const CLock&) = delete;
  CLock& operator=(const CLock&) = delete;

  void Enter() { EnterCriticalSection(&m_cs); }
  void Leave() { LeaveCriticalSection(&m_cs); }

 private:
  CRITICAL_SECTION m_cs;
};

class CLockGuard {
 public:
  explicit CLockGuard(CLock* pLock) : m_pLock(pLock) { m_pLock->Enter(); }
  virtual ~CLockGuard() { m_pLock->Leave(); }
  CLockGuard(const CLockGuard&) = delete;
  CLockGuard& operator=(const CLockGuard&) = delete;

 private:
  CLock* m_pLock;
};
