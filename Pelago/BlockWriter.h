// CBlockWriter: writes a file's staged blocks on a thread of its own, so that
// the receive thread goes on taking datagrams while the file system works.
// One write is in flight at a time; its buffer is swapped with the caller's,
// so nothing is copied. Used by one receive thread (the owner).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/File.h"
#include "platform/Win32Types.h"

class CBlockWriter {
 public:
  CBlockWriter() = default;
  ~CBlockWriter();  // waits for the write in flight
  CBlockWriter(const CBlockWriter&) = delete;
  CBlockWriter& operator=(const CBlockWriter&) = delete;

  // Waits for the write in flight, then writes the first nBytes of *pBuf at
  // qwOffset of *pFile on the writer's thread, handing the caller a buffer of
  // the same size back in *pBuf. 0, or the error of the write before (its
  // own error comes with the next call or Wait). Where no thread can be
  // started the write is done here, and its error returned at once.
  // REQUIRES: *pFile stays open until Wait has returned.
  DWORD Write(platform::File* pFile, std::uint64_t qwOffset, std::vector<BYTE>* pBuf,
              std::size_t nBytes);
  // Whether a write is in flight.
  bool IsBusy();
  // Waits for the write in flight: 0, or the error of the last write not yet
  // returned.
  DWORD Wait();

 private:
  void Run();

  std::mutex m_mutex;
  std::condition_variable m_cv;
  // Guarded by m_mutex: the job and its outcome.
  platform::File* m_pFile = nullptr;
  std::uint64_t m_qwOffset = 0;
  std::size_t m_nBytes = 0;
  std::vector<BYTE> m_Buf;
  bool m_fBusy = false;
  bool m_fStop = false;
  DWORD m_dwError = 0;
  std::thread m_thread;  // owner only; started by the first Write
};
