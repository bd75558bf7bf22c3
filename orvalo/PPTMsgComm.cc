#include "orvalo/PPTMsgComm.h"

#include <new>

#include "ErrStuff/DebugTrace.h"
#include "platform/DebugOutput.h"
#include "platform/Errors.h"
#include "platform/Handle.h"
#include "platform/Thread.h"
#include "platform/Tick.h"
#include "ui/Message.h"
#include "ui/Window.h"

namespace {

constexpr const char* kBridgeClass = "orvolaEventCatcher";
constexpr const char* kBridgeTitle = "orvalo Event Catcher";

}  // namespace

const UINT g_uReadSocketMsg = RegisterWindowMessage("RERireZiruReadSocket");

CPPTMsgComm g_PPTMsgComm;

CPPTMsgComm::CPPTMsgComm() = default;

CPPTMsgComm::~CPPTMsgComm() {
  Clear();
  HWND hWnd = m_hWnd.exchange(nullptr);
  if (hWnd != nullptr) {
    // Messages that still reach the window must not find this object.
    SetWindowLongPtr(hWnd, GWLP_USERDATA, 0);
    DestroyWindow(hWnd);
  }
  if (m_fClassRegistered) UnregisterClass(kBridgeClass, nullptr);
}

BOOL CPPTMsgComm::Init(HWND PPhwnd, CStopper* pStopper) {
  if (!ORV_ASSERT(PPhwnd != nullptr)) return FALSE;
  m_hPPhwnd = PPhwnd;
  if (!ORV_ASSERT(pStopper != nullptr)) return FALSE;
  m_pStopper = pStopper;
  if (m_hWnd.load() == nullptr) {
    WNDCLASS wc{};
    wc.lpfnWndProc = WndProc;
    wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kBridgeClass;
    // The class stays registered when the window went with its parent.
    if (!m_fClassRegistered) {
      if (RegisterClass(&wc) == 0) {
        DebugTrace("CPPTMsgComm: cannot register the window class (%lu)\n",
                   static_cast<unsigned long>(GetLastError()));
        return FALSE;
      }
      m_fClassRegistered = true;
    }
    HWND hWnd =
        CreateWindowEx(0, kBridgeClass, kBridgeTitle, WS_CHILD, CW_USEDEFAULT, CW_USEDEFAULT,
                       CW_USEDEFAULT, CW_USEDEFAULT, PPhwnd, nullptr, nullptr, nullptr);
    if (hWnd == nullptr) {
      DebugTrace("CPPTMsgComm: cannot create the window (%lu)\n",
                 static_cast<unsigned long>(GetLastError()));
      UnregisterClass(kBridgeClass, nullptr);
      m_fClassRegistered = false;
      return FALSE;
    }
    SetWindowLongPtr(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_hWnd = hWnd;
  }
  m_fInitialized = TRUE;
  return TRUE;
}

BOOL CPPTMsgComm::PostPacket(CPacketHandler* pPctHdlr, const void* pPacket, DWORD dwLen,
                             DWORD dwLowWater, DWORD dwSeq, HANDLE hCancel) {
  if (!ORV_ASSERT(pPacket != nullptr) || !ORV_ASSERT(dwLen > 0)) return FALSE;
  return Post(kPacket, pPctHdlr, pPacket, dwLen, dwLowWater, dwSeq, hCancel);
}

BOOL CPPTMsgComm::PostStop() { return Post(kStop, nullptr, nullptr, 0, 0, 0, nullptr); }

BOOL CPPTMsgComm::Post(WPARAM kind, CPacketHandler* pPctHdlr, const void* pPacket, DWORD dwLen,
                       DWORD dwLowWater, DWORD dwSeq, HANDLE hCancel) {
  if (!m_fInitialized.load()) return FALSE;
  const HWND hWnd = m_hWnd.load();
  if (hWnd == nullptr) return FALSE;  // went with PowerPoint's frame
  tQueueEntry* pEntry = nullptr;
  if (pPctHdlr != nullptr) {
    pEntry = new (std::nothrow) tQueueEntry{pPctHdlr, nullptr};
    if (pEntry == nullptr) return FALSE;
    pEntry->pPAI.reset(new (std::nothrow) CPacketAndInfo(pPacket, dwLen, dwSeq, dwLowWater));
    if (!pEntry->pPAI || pEntry->pPAI->GetPacket() == nullptr) {
      delete pEntry;
      return FALSE;
    }
    Push(pEntry);
  }
  if (!PostWithRetry(hWnd, kind, hCancel)) {
    if (pEntry != nullptr) Remove(pEntry);
    return FALSE;
  }
  return TRUE;
}

BOOL CPPTMsgComm::PostWithRetry(HWND hWnd, WPARAM kind, HANDLE hCancel) {
  // A full queue clears as PowerPoint's thread works: retry, but only while
  // that can help. A window that is gone never takes the message; the
  // window's own thread cannot drain its queue while it waits here; and a
  // thread whose owner wants it to stop (the owner may be PowerPoint's
  // thread, waiting for it) must not wait at all.
  const DWORD dwStart = GetTickCount();
  for (BOOL fRetry = FALSE; !PostMessage(hWnd, g_uReadSocketMsg, kind, 0); fRetry = TRUE) {
    if (!fRetry) DebugTrace("CPPTMsgComm: the queue is full - retrying\n");
    if (!IsWindow(hWnd)) {
      DebugTrace("CPPTMsgComm: the bridge window is gone\n");
      return FALSE;
    }
    if (GetWindowThreadProcessId(hWnd, nullptr) == GetCurrentThreadId() ||
        GetTickCount() - dwStart >= kPostGiveUpMs) {
      DebugTrace("CPPTMsgComm: the queue stays full - message dropped\n");
      return FALSE;
    }
    if (hCancel != nullptr) {
      if (WaitForSingleObject(hCancel, kPostRetryMs) != WAIT_TIMEOUT) {
        DebugTrace("CPPTMsgComm: post cancelled - message dropped\n");
        return FALSE;
      }
    } else {
      Sleep(kPostRetryMs);
    }
  }
  return TRUE;
}

void CPPTMsgComm::Clear() {
  CLockGuard guard(&m_lock);
  m_queue.clear();
}

void CPPTMsgComm::ForgetStopper(CStopper* pStopper) {
  if (m_pStopper == pStopper) m_pStopper = nullptr;
}

LRESULT CPPTMsgComm::OnMessage(WPARAM wParam, LPARAM) {
  switch (wParam) {
    case kStop:
      if (m_pStopper != nullptr) m_pStopper->Stop();
      return 1;
    case kPacket: {
      std::unique_ptr<tQueueEntry> pEntry(Pop());
      if (!pEntry) return 1;
      return pEntry->pPctHdlr->HandlePacket(pEntry->pPAI.get()) ? 1 : 0;
    }
    default:
      return 0;
  }
}

void CPPTMsgComm::Push(tQueueEntry* pEntry) {
  CLockGuard guard(&m_lock);
  m_queue.emplace_back(pEntry);
}

CPPTMsgComm::tQueueEntry* CPPTMsgComm::Pop() {
  CLockGuard guard(&m_lock);
  if (m_queue.empty()) return nullptr;
  tQueueEntry* pEntry = m_queue.front().release();
  m_queue.pop_front();
  return pEntry;
}

void CPPTMsgComm::Remove(tQueueEntry* pEntry) {
  CLockGuard guard(&m_lock);
  m_queue.remove_if([&](const std::unique_ptr<tQueueEntry>& p) { return p.get() == pEntry; });
}

LRESULT CPPTMsgComm::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* pBridge = reinterpret_cast<CPPTMsgComm*>(GetWindowLongPtr(hwnd, GWLP_USERDATA));
  if (msg == g_uReadSocketMsg && pBridge != nullptr) return pBridge->OnMessage(wParam, lParam);
  if (msg == WM_DESTROY && pBridge != nullptr) {
    // Gone with PowerPoint's frame: the next Init makes a new one.
    HWND hExpected = hwnd;
    if (pBridge->m_hWnd.compare_exchange_strong(hExpected, nullptr)) pBridge->Clear();
  }
  return DefWindowProc(hwnd, msg, wParam, lParam);
}
