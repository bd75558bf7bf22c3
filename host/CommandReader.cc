#include "host/CommandReader.h"

#include <unistd.h>  // read() of the standard input

#include <cerrno>

#include "ui/Message.h"

namespace host {

bool CCommandReader::Start(int fd, HWND hTarget) {
  if (m_thread.joinable()) return false;
  m_fd = fd;
  m_hTarget = hTarget;
  m_hStop = CreateEvent(platform::ResetPolicy::Manual, platform::InitialState::NotSignaled);
  m_hInput = WSACreateEvent();
  if (m_hStop == nullptr || m_hInput == nullptr ||
      WSAEventSelect(fd, m_hInput, platform::FD_READ) != 0) {
    Stop();
    return false;
  }
  m_thread = std::thread([this] { Run(); });
  return true;
}

void CCommandReader::Stop() {
  if (m_hStop != nullptr) SetEvent(m_hStop);
  if (m_thread.joinable()) m_thread.join();
  if (m_hInput != nullptr) {
    WSAEventSelect(m_fd, m_hInput, 0);
    WSACloseEvent(m_hInput);
  }
  if (m_hStop != nullptr) CloseHandle(m_hStop);
  m_hInput = m_hStop = nullptr;
}

void CCommandReader::Post(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  auto* p = new std::string(std::move(line));
  if (!PostMessage(m_hTarget, kMsgLine, 0, reinterpret_cast<LPARAM>(p))) delete p;
}

void CCommandReader::Run() {
  std::string pending;
  bool fCut = false;  // the line under way is too long: the rest is dropped
  char buf[4096];
  const HANDLE handles[] = {m_hStop, m_hInput};
  for (;;) {
    DWORD w = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (w != WAIT_OBJECT_0 + 1) break;  // stop, or a failed wait
    ssize_t n = ::read(m_fd, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      if (!pending.empty() && !fCut) Post(std::move(pending));
      PostMessage(m_hTarget, kMsgInputEnded, 0, 0);
      break;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] == '\n') {
        if (!fCut) Post(std::move(pending));
        pending.clear();
        fCut = false;
      } else if (pending.size() < kMaxLineBytes) {
        pending.push_back(buf[i]);
      } else if (!fCut) {
        Post(std::move(pending));  // handled as what it is: a bad command
        pending.clear();
        fCut = true;
      }
    }
  }
}

}  // namespace host
