#include "mcast/xThread.h"

#include "platform/DebugOutput.h"
#include "platform/Errors.h"
#include "platform/Handle.h"
#include "platform/Thread.h"

CxThread::CxThread()
    : m_fRunning(FALSE), m_dwExitCode(0), m_hThread(nullptr), m_dwThreadId(0) {}

CxThread::~CxThread() { Stop(5000); }

DWORD CxThread::Start() {
  if (m_fRunning) return 0;
  // Held until the handle is stored: a body that sets its own priority at
  // once must find it.
  CLockGuard guard(&m_Lock);
  DWORD dwId = 0;
  HANDLE h = CreateThread(&CxThread::StartRoutine, this, &dwId);
  if (h == nullptr) return GetLastError();
  m_hThread = h;
  m_dwThreadId = dwId;
  m_fRunning = TRUE;
  return 0;
}

DWORD CxThread::Stop(DWORD dwTimeoutMs) {
  if (!m_fRunning) return 0;
  m_ReqReply.Request();
  if (!m_ReqReply.WaitForReply(dwTimeoutMs)) {
    m_ReqReply.Reply();  // the pair reads as ended from here on
    if (!ORV_ASSERT(m_hThread != NULL)) return ERROR_INVALID_HANDLE;
    if (!TerminateThread(m_hThread, 0)) return GetLastError();
  } else {
    // The reply is the body's last act; let the thread finish leaving.
    WaitForSingleObject(m_hThread, INFINITE);
  }
  CLockGuard guard(&m_Lock);
  CloseHandle(m_hThread);
  m_fRunning = FALSE;
  m_hThread = nullptr;
  m_dwThreadId = 0;
  m_ReqReply.Reset();
  return 0;
}

DWORD CxThread::SetPriority(int nPriority) {
  HANDLE hThread;
  {
    CLockGuard guard(&m_Lock);
    hThread = m_hThread;
  }
  if (SetThreadPriority(hThread, nPriority)) return 0;
  ORV_ASSERT(FALSE);
  return GetLastError();
}

DWORD CxThread::StartRoutine(LPVOID pParam) {
  if (pParam == nullptr) {
    ORV_ASSERT(FALSE);
    return 0;
  }
  auto* pThis = static_cast<CxThread*>(pParam);
  pThis->m_dwExitCode = pThis->ThreadProc();
  DWORD dwCode = pThis->m_dwExitCode;
  pThis->m_ReqReply.Reply();
  return dwCode;
}
