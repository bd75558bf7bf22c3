#include <cstring>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "orvalo/Request.h"
#include "orvalo/TempFiles.h"

BOOL CFileRequest::SetSlide(DWORD dwSlide) {
  m_dwSlide = dwSlide;
  if (!SlideCabName(dwSlide, m_szFileName) || !platform::FileExists(m_szFileName)) return FALSE;
  DebugTrace("Sending slide %lu from file %s\n", static_cast<unsigned long>(dwSlide),
             m_szFileName);
  return TRUE;
}

BOOL CFileRequest::Start() {
  m_fStarted = TRUE;
  if (m_file.Open(m_szFileName, platform::OpenMode::kRead) != ERROR_SUCCESS) return FALSE;
  std::uint64_t cbSize = 0;
  if (m_file.Size(&cbSize) != ERROR_SUCCESS || cbSize > 0xFFFFFFFFu) return FALSE;
  m_dwRemaining = m_dwTotal = static_cast<DWORD>(cbSize);
  DebugTrace("Size of slide to send: %d\n", static_cast<int>(m_dwTotal));
  return TRUE;
}

BOOL CFileRequest::GetNextPacket(BYTE* pPacket, DWORD dwMaxLen, DWORD* pdwLen, BOOL* pfMore) {
  constexpr DWORD kHdr = tSlidePacketHeader::kSize;
  if (pPacket == nullptr || dwMaxLen <= kHdr) return FALSE;
  const BOOL fFirst = !m_fStarted;
  if (fFirst && !Start()) return FALSE;
  if (!m_file.IsOpen()) return FALSE;

  tSlidePacketHeader* pHeader = tSlidePacketHeader::Of(pPacket);
  pHeader->Header.Clear();
  pHeader->Header.SetTag(orvalo::kTagFileData);
  pHeader->Header.SetType(orvalo::kPacketTypeFileData);
  pHeader->Header.SetFirst(fFirst);
  pHeader->SetFileSlide(m_dwSlide);

  const DWORD dwRoom = dwMaxLen - kHdr;
  if (m_dwRemaining == 0) {
    *pdwLen = 0;
  } else {
    const DWORD dwWant = dwRoom < m_dwRemaining ? dwRoom : m_dwRemaining;
    pHeader->Header.SetMore(dwRoom < m_dwRemaining);
    DWORD dwRead = 0;
    // A file that shrank under us is as broken as one that fails to read.
    if (m_file.Read(pPacket + kHdr, dwWant, &dwRead) != ERROR_SUCCESS || dwRead != dwWant) {
      return FALSE;
    }
    *pdwLen = dwRead + kHdr;
    m_dwRemaining -= dwRead;
  }
  *pfMore = m_dwRemaining != 0;
  return TRUE;
}

int CFileRequest::PercentSent() const {
  if (m_dwTotal == 0) return -1;
  return 100 - static_cast<int>(m_dwRemaining * 100.0 / m_dwTotal);
}

std::unique_ptr<CRequest> CFileRequest::Clone() const {
  std::unique_ptr<CFileRequest> pCopy(new (std::nothrow) CFileRequest);
  if (!pCopy) return nullptr;
  std::memcpy(pCopy->m_szFileName, m_szFileName, sizeof m_szFileName);
  pCopy->m_dwSlide = m_dwSlide;
  pCopy->m_fStarted = m_fStarted;
  pCopy->m_dwRemaining = m_dwRemaining;
  pCopy->m_dwTotal = m_dwTotal;
  // A started copy gets its own descriptor at the same place in the file.
  if (m_fStarted && m_file.IsOpen()) {
    if (pCopy->m_file.Open(m_szFileName, platform::OpenMode::kRead) != ERROR_SUCCESS ||
        pCopy->m_file.Seek(std::uint64_t{m_dwTotal} - m_dwRemaining) != ERROR_SUCCESS) {
      return nullptr;
    }
  }
  return pCopy;
}
