#include "Pelago/BlockWriter.h"

#include <new>
#include <system_error>
#include <utility>

#include "platform/Errors.h"

CBlockWriter::~CBlockWriter() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fStop = true;
  }
  m_cv.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

DWORD CBlockWriter::Write(platform::File* pFile, std::uint64_t qwOffset, std::vector<BYTE>* pBuf,
                          std::size_t nBytes) {
  if (!m_thread.joinable()) {
    try {
      m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      return pFile->WriteAt(qwOffset, pBuf->data(), static_cast<DWORD>(nBytes));
    }
  }
  std::unique_lock<std::mutex> lock(m_mutex);
  m_cv.wait(lock, [this] { return !m_fBusy; });
  const DWORD dwBefore = std::exchange(m_dwError, 0);
  m_Buf.swap(*pBuf);
  if (pBuf->size() < m_Buf.size()) {
    try {
      pBuf->resize(m_Buf.size());
    } catch (const std::bad_alloc&) {
      // Keep the caller's buffer; this write is done here.
      m_Buf.swap(*pBuf);
      lock.unlock();
      const DWORD dwErr = pFile->WriteAt(qwOffset, pBuf->data(), static_cast<DWORD>(nBytes));
      return dwBefore != 0 ? dwBefore : dwErr;
    }
  }
  m_pFile = pFile;
  m_qwOffset = qwOffset;
  m_nBytes = nBytes;
  m_fBusy = true;
  lock.unlock();
  m_cv.notify_all();
  return dwBefore;
}

bool CBlockWriter::IsBusy() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_fBusy;
}

DWORD CBlockWriter::Wait() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_cv.wait(lock, [this] { return !m_fBusy; });
  return std::exchange(m_dwError, 0);
}

void CBlockWriter::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_cv.wait(lock, [this] { return m_fBusy || m_fStop; });
    if (m_fBusy) {
      platform::File* pFile = m_pFile;
      const std::uint64_t qwOffset = m_qwOffset;
      const std::size_t nBytes = m_nBytes;
      const BYTE* pData = m_Buf.data();
      // The buffer is the writer's until m_fBusy drops.
      lock.unlock();
      const DWORD dwErr = pFile->WriteAt(qwOffset, pData, static_cast<DWORD>(nBytes));
      lock.lock();
      if (m_dwError == 0) m_dwError = dwErr;
      m_fBusy = false;
      m_cv.notify_all();
      continue;
    }
    if (m_fStop) return;
  }
}
