#include "Pelago/RecvFiles.h"

#include <algorithm>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "platform/DebugOutput.h"

CRecvFiles::CRecvFiles(const std::string& saveDir) : m_SaveDir(saveDir), m_dwPayloadLen(0) {}

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

DWORD CRecvFiles::CountCandidate(DWORD dwFileId) {
  for (auto it = m_Candidates.begin(); it != m_Candidates.end(); ++it) {
    if (it->dwFileId != dwFileId) continue;
    const DWORD dwSeen = it->dwSeen + 1;
    m_Candidates.erase(it);
    m_Candidates.push_back(tCandidate{dwFileId, dwSeen});
    return dwSeen;
  }
  if (m_Candidates.size() >= kMaxCandidates) m_Candidates.pop_front();
  m_Candidates.push_back(tCandidate{dwFileId, 1});
  return 1;
}

bool CRecvFiles::MakeRoom(DWORD dwSeen) {
  if (m_Files.size() < kMaxFiles) return true;
  // The victim: an idle file, else the one that has shown least (of those
  // that have shown no more than the newcomer), the least recent of equals.
  // A newcomer of one datagram takes only the place of an idle file; a
  // whole file that waits to be finished gives way to none.
  auto victim = m_Files.end();
  for (auto it = m_Files.begin(); it != m_Files.end(); ++it) {
    if (it->pFile->IsComplete()) continue;  // waits to be finished
    const bool fIdle = m_qwUseCounter - it->qwLastUse > kIdleDatagrams;
    if (!fIdle && (dwSeen < 2 || it->dwSeen > dwSeen)) continue;
    if (victim == m_Files.end()) {
      victim = it;
      continue;
    }
    const bool fVictimIdle = m_qwUseCounter - victim->qwLastUse > kIdleDatagrams;
    if (fIdle != fVictimIdle) {
      if (fIdle) victim = it;
      continue;
    }
    if (it->dwSeen < victim->dwSeen ||
        (it->dwSeen == victim->dwSeen && it->qwLastUse < victim->qwLastUse))
      victim = it;
  }
  if (victim == m_Files.end()) return false;
  DebugTrace("CRecvFiles: dropping FILE %lu\n",
             static_cast<unsigned long>(victim->pFile->GetFileId()));
  // Its count stays, should it come back.
  if (m_Candidates.size() >= kMaxCandidates) m_Candidates.pop_front();
  m_Candidates.push_back(tCandidate{victim->pFile->GetFileId(), victim->dwSeen});
  m_Files.erase(victim);
  return true;
}

CRecvFiles::tOutcome CRecvFiles::OnDatagram(const tPacketHeader& header, const BYTE* pPayload,
                                            DWORD dwLen) {
  tOutcome out = TakeDatagram(header, pPayload, dwLen);
  DWORD dwFailed = 0;
  const DWORD dwErr = FlushWrites(&dwFailed);
  if (dwErr != 0 && out.dwError == 0) {
    out.dwError = dwErr;
    out.dwFileId = dwFailed;
    out.fComplete = false;
  }
  if (!out.fComplete) return out;
  tOutcome fin = FinishFile(out.dwFileId);
  out.fFinished = fin.fFinished;
  out.dwError = fin.dwError;
  out.dwDecoded = fin.dwDecoded;
  out.file = fin.file;
  return out;
}

DWORD CRecvFiles::FlushWrites(DWORD* pdwFileId, bool fAll) {
  DWORD dwFirstErr = 0;
  for (std::size_t i = 0; i < m_Files.size();) {
    const DWORD dwErr = m_Files[i].pFile->FlushWrites(fAll);
    if (dwErr == 0) {
      ++i;
      continue;
    }
    // The file is given up; the carousel brings it again.
    if (dwFirstErr == 0) {
      dwFirstErr = dwErr;
      *pdwFileId = m_Files[i].pFile->GetFileId();
    }
    m_Files.erase(m_Files.begin() + static_cast<std::ptrdiff_t>(i));
  }
  return dwFirstErr;
}

CRecvFiles::tOutcome CRecvFiles::FinishFile(DWORD dwFileId, const std::function<void()>& pump) {
  tOutcome out;
  out.dwFileId = dwFileId;
  tEntry* pEntry = Find(dwFileId);
  if (pEntry == nullptr || !pEntry->pFile->IsComplete()) return out;
  // The file stays where it is while pump takes datagrams in (a whole file
  // is never evicted); the map around it may change.
  CRecvFile* pFile = pEntry->pFile.get();
  out.dwTotalLen = pFile->GetTotalLen();
  out.fFinished = true;
  out.dwError = pFile->Finish(&out.file, &out.dwDecoded, pump);
  if (out.dwError == 0) Remember(&m_Done, dwFileId);
  Remove(dwFileId);
  return out;
}

CRecvFiles::tOutcome CRecvFiles::TakeDatagram(const tPacketHeader& header, const BYTE* pPayload,
                                              DWORD dwLen) {
  tOutcome out;
  out.dwFileId = header.GetFileId();
  out.dwTotalLen = header.GetTotalLen();
  const DWORD dwK = header.GetK();
  ++m_qwUseCounter;
  // The packet thread learns the length again after a forged first datagram.
  if (dwLen != m_dwPayloadLen) {
    DebugTrace("CRecvFiles: Setting k to %d PayloadSz to %lu\n", static_cast<int>(dwK),
               static_cast<unsigned long>(dwLen));
    m_dwPayloadLen = dwLen;
  }
  if (!ORV_ASSERT(dwK <= 256) || dwLen == 0) {
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
    const DWORD dwSeen = CountCandidate(out.dwFileId);
    if (!MakeRoom(dwSeen)) {
      out.fRefused = true;
      return out;
    }
    std::unique_ptr<CRecvFile> pFile(new (std::nothrow) CRecvFile);
    DWORD dwErr = pFile == nullptr
                      ? ERROR_NOT_ENOUGH_MEMORY
                      : pFile->Init(m_SaveDir, out.dwFileId, out.dwTotalLen, dwLen, dwK);
    if (dwErr != 0) {
      // A file that cannot start is not tried again in this session.
      Remember(&m_Refused, out.dwFileId);
      out.fRefused = true;
      out.dwError = dwErr;
      return out;
    }
    try {
      m_Files.push_back(tEntry{std::move(pFile), 0, dwLen, dwSeen - 1});
    } catch (const std::bad_alloc&) {
      out.fRefused = true;
      out.dwError = ERROR_NOT_ENOUGH_MEMORY;
      return out;
    }
    pEntry = &m_Files.back();
    out.fStarted = true;
    m_Candidates.erase(
        std::remove_if(m_Candidates.begin(), m_Candidates.end(),
                       [&](const tCandidate& c) { return c.dwFileId == out.dwFileId; }),
        m_Candidates.end());
  } else if (dwLen != pEntry->dwPayloadLen ||
             !pEntry->pFile->Fits(out.dwTotalLen, dwK, header.GetGroupId())) {
    out.fRefused = true;
    return out;
  }
  pEntry->qwLastUse = m_qwUseCounter;
  ++pEntry->dwSeen;
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
  if (r == CRecvFile::BlockResult::kComplete) out.fComplete = true;
  return out;
}
