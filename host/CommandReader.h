// Reads the host's standard input on a thread of its own and hands each
// line to the main thread as a posted message, so that commands arrive as a
// user's actions would: from the main thread's message loop.
//
// Owned by the main thread, which starts and stops it. End of input ends the
// thread after posting kMsgInputEnded (it is not a quit).
#pragma once

#include <string>
#include <thread>

#include "platform/Handle.h"
#include "ui/UiTypes.h"

namespace host {

class CCommandReader {
 public:
  // Posted to the target window: a line (lParam: a std::string* the handler
  // deletes), and the end of input.
  static constexpr UINT kMsgLine = 0x8000 + 0x2B0;
  static constexpr UINT kMsgInputEnded = 0x8000 + 0x2B1;
  // Longer lines are cut to this many bytes.
  static constexpr std::size_t kMaxLineBytes = 65536;

  CCommandReader() = default;
  ~CCommandReader() { Stop(); }
  CCommandReader(const CCommandReader&) = delete;
  CCommandReader& operator=(const CCommandReader&) = delete;

  // Starts reading file descriptor `fd`, posting to hTarget. False when the
  // thread or its events cannot be made.
  bool Start(int fd, HWND hTarget);
  // Asks the thread to end and waits for it; prompt even while no input comes.
  void Stop();

 private:
  void Run();
  void Post(std::string line);

  int m_fd = -1;              // set before the thread starts
  HWND m_hTarget = nullptr;   // set before the thread starts
  HANDLE m_hStop = nullptr;   // set before the thread starts; signalled by Stop
  HANDLE m_hInput = nullptr;  // the thread's own after start
  std::thread m_thread;       // owned and joined by the main thread
};

}  // namespace host
