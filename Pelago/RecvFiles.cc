#include "Pelago/RecvFiles.h"

#include <algorithm>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "platform/DebugOutput.h"

CRecvFiles::CRecvFiles(const std::string& saveDir, DWORD dwGroupsPerCrowd)
    : m_SaveDir(saveDir), m_dwGroupsPerCrowd(dwGroupsPerCrowd), m_dwPayloadLen(0) {}

CRecvFiles::~CRecvFiles() = default;

bool CRecvFiles::IsRemembered(const std::deque<DWORD>& ids, DWORD dwFileId) const {
  return std::find(ids.begin(), ids.end(), dwFileId) != ids.end();
}

void CRecvFiles::Remember(std::deque<DWORD>* pIds, DWORD dwFileId) {
  pIds->push_back(dwFileId);
  if (pIds->size() > kMaxRemembered) pIds->pop_front();
}

CRecvFiles::tEntry* CRecvFiles::Find(DWORD dwFileId) {
  for (tEntry& e : m_Files)
    if (e.pFile->GetFileId() == dwFileId) return &e;
  return nullptr;
}

void CRecvFiles::Remove(DWORD dwFileId) {
  m_Files.erase(std::remove_if(m_Files.begin(), m_Files.end(),
                               [&](const tEntry& e) { return e.pFile->GetFileId() == dwFileId; }),
                m_Files.end());
}

CRecvFiles::tOutcome CRecvFiles::OnDatagram(const tPacketHeader& header, const BYTE* pPayload,
                                            DWORD dwLen) {
  tOutcome out;
  out.dwFileId = header.GetFileId();
  out.dwTotalLen = header.GetTotalLen();
  const DWORD dwK = header.GetK();
  if (m_dwPayloadLen == 0) {
    DebugTrace("CRecvFiles: Setting k to %d PayloadSz to %lu\n", static_cast<int>(dwK),
               static_cast<unsigned long>(dwLen));
    m_dwPayloadLen = dwLen;
  }
  if (!ORV_ASSERT(dwK <= 256) || dwLen != m_dwPayloadLen) {
    out.fRefused = true;
    return out;
  }
  if (IsRemembered(m_Done, out.dwFileId)) {
    out.fRedundant = true;
    return out;
  }
  if (IsRemembered(m_Refused, out.dwFileId)) {
    out.fRefused = true;
    return out;
  }
  tEntry* pEntry = Find(out.dwFileId);
  if (pEntry == nullptr) {
    if (!CRecvFile::IsValidStream(out.dwTotalLen, dwLen, dwK) ||
        header.GetGroupId() >= out.dwTotalLen / (std::uint64_t{dwK} * dwLen)) {
      out.fRefused = true;
      return out;
    }
    if (m_Files.size() >= kMaxFiles) {
      auto oldest = std::min_element(m_Files.begin(), m_Files.end(),
                                     [](const tEntry& a, const tEntry& b) {
                                       return a.qwLastUse < b.qwLastUse;
                                     });
      DebugTrace("CRecvFiles: dropping FILE %lu\n",
                 static_cast<unsigned long>(oldest->pFile->GetFileId()));
      m_Files.erase(oldest);
    }
    std::unique_ptr<CRecvFile> pFile(new (std::nothrow) CRecvFile);
    DWORD dwErr = pFile == nullptr ? ERROR_NOT_ENOUGH_MEMORY
                                   : pFile->Init(m_SaveDir, m_dwGroupsPerCrowd, out.dwFileId,
                                                 out.dwTotalLen, dwLen, dwK);
    if (dwErr != 0) {
      // A file that cannot start is not tried again in this session.
      Remember(&m_Refused, out.dwFileId);
      out.fRefused = true;
      out.dwError = dwErr;
      return out;
    }
    try {
      m_Files.push_back(tEntry{std::move(pFile), 0});
    } catch (const std::bad_alloc&) {
      out.fRefused = true;
      out.dwError = ERROR_NOT_ENOUGH_MEMORY;
      return out;
    }
    pEntry = &m_Files.back();
    out.fStarted = true;
  } else if (!pEntry->pFile->Fits(out.dwTotalLen, dwK, header.GetGroupId())) {
    out.fRefused = true;
    return out;
  }
  pEntry->qwLastUse = ++m_qwUseCounter;
  CRecvFile* pFile = pEntry->pFile.get();
  DWORD dwErr = 0;
  CRecvFile::BlockResult r =
      pFile->AddBlock(header.GetGroupId(), header.GetBlockIndex(), pPayload, dwLen, &dwErr);
  if (dwErr != 0) {
    // The file is given up; the carousel brings it again.
    out.dwError = dwErr;
    Remove(out.dwFileId);
    return out;
  }
  if (r == CRecvFile::BlockResult::kRedundant) out.fRedundant = true;
  if (r != CRecvFile::BlockResult::kComplete) return out;
  out.fFinished = true;
  out.dwError = pFile->Finish(&out.file, &out.dwDecoded);
  if (out.dwError == 0) Remember(&m_Done, out.dwFileId);
  Remove(out.dwFileId);
  return out;
}
