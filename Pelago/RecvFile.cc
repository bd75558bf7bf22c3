#include "Pelago/RecvFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "Pelago/LittleEndian.h"
#include "Pelago/SendStream.h"
#include "platform/DebugOutput.h"

namespace {

// The largest group a file may have, which bounds the decoder's buffers.
constexpr std::uint64_t kMaxGroupBytes = 4u << 20;
// The staging buffer: within this many bytes, at least two blocks and at
// most twice the largest receive batch (the largest ring).
constexpr std::uint64_t kMaxStagedBytes = 1u << 20;
constexpr DWORD kMaxStagedBlocks = 512;

}  // namespace

CRecvFile::CRecvFile()
    : m_dwFileId(0),
      m_dwTotalLen(0),
      m_dwPayloadLen(0),
      m_dwK(0),
      m_dwGroups(0),
      m_dwGroupsComplete(0),
      m_dwWritten(0),
      m_dwStageBlocks(0),
      m_dwStaged(0) {}

CRecvFile::~CRecvFile() { DropTemp(); }

void CRecvFile::DropTemp() {
  m_Writer.Wait();
  if (m_Temp.IsOpen()) {
    m_Temp.Close();
    platform::DeleteFile(m_TempPath);
  }
  if (m_Out.IsOpen()) {
    m_Out.Close();
    platform::DeleteFile(m_OutPath);
  }
}

bool CRecvFile::IsValidStream(DWORD dwTotalLen, DWORD dwPayloadLen, DWORD dwK) {
  if (dwPayloadLen == 0 || dwK == 0 || dwK > 256 || dwTotalLen == 0) return false;
  const std::uint64_t qwGroupLen = std::uint64_t{dwK} * dwPayloadLen;
  if (qwGroupLen % 4 != 0 || qwGroupLen > kMaxGroupBytes) return false;
  if (dwTotalLen % qwGroupLen != 0) return false;
  if (dwTotalLen / dwPayloadLen > kMaxBlocks) return false;
  // At least the fixed record block, a one-character name and the tail.
  return dwTotalLen >= CPelagoFile::kFixedLen + 1 + pelago::kTrailerTailLen;
}

DWORD CRecvFile::Init(const std::string& saveDir, DWORD dwFileId, DWORD dwTotalLen,
                      DWORD dwPayloadLen, DWORD dwK) {
  if (!IsValidStream(dwTotalLen, dwPayloadLen, dwK)) return ERROR_INVALID_PARAMETER;
  DropTemp();  // once only in practice; nothing of an earlier file may stay
  m_SaveDir = saveDir;
  m_dwFileId = dwFileId;
  m_dwTotalLen = dwTotalLen;
  m_dwPayloadLen = dwPayloadLen;
  m_dwK = dwK;
  m_dwGroups = static_cast<DWORD>(dwTotalLen / (std::uint64_t{dwK} * dwPayloadLen));
  m_dwGroupsComplete = 0;
  m_dwWritten = 0;
  std::uint64_t qwFree = 0;
  DWORD dwErr = platform::GetDiskFreeSpace(saveDir, &qwFree);
  if (dwErr != 0) return dwErr;
  if (qwFree / 2 < dwTotalLen) return ERROR_DISK_FULL;
  try {
    const std::size_t nSlots = std::size_t{m_dwGroups} * dwK;
    m_SlotIndex.assign(nSlots, kEmpty);
    m_SlotAt.assign(nSlots, 0);
    m_GroupCount.assign(m_dwGroups, 0);
    m_dwStageBlocks = static_cast<DWORD>(
        std::clamp<std::uint64_t>(kMaxStagedBytes / dwPayloadLen, 2, kMaxStagedBlocks));
    m_Staged.assign(std::size_t{m_dwStageBlocks} * dwPayloadLen, 0);
    m_dwStaged = 0;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  dwErr = m_FEC.Init(static_cast<int>(dwK), 256);
  if (dwErr != 0) return dwErr;
  char szName[16];
  std::snprintf(szName, sizeof szName, "FEC%05lu", static_cast<unsigned long>(dwFileId));
  m_TempPath = platform::JoinPath(saveDir, szName);
  m_OutPath = m_TempPath + ".out";
  dwErr = m_Temp.Open(m_TempPath, platform::OpenMode::kCreateAlways);
  if (dwErr == 0) dwErr = m_Temp.SetLength(dwTotalLen);
  if (dwErr != 0) DropTemp();
  return dwErr;
}

bool CRecvFile::Fits(DWORD dwTotalLen, DWORD dwK, DWORD dwGroup) const {
  return dwTotalLen == m_dwTotalLen && dwK == m_dwK && dwGroup < m_dwGroups;
}

CRecvFile::BlockResult CRecvFile::AddBlock(DWORD dwGroup, DWORD dwIndex, const BYTE* pData,
                                           DWORD dwLen, DWORD* pdwErr) {
  *pdwErr = 0;
  if (!ORV_ASSERT(dwGroup < m_dwGroups) || !ORV_ASSERT(dwLen == m_dwPayloadLen))
    return BlockResult::kRedundant;
  if (m_GroupCount[dwGroup] >= m_dwK) return BlockResult::kRedundant;
  const std::size_t nFirst = std::size_t{dwGroup} * m_dwK;
  std::uint16_t* pSlots = &m_SlotIndex[nFirst];
  DWORD dwFree = m_dwK;
  for (DWORD s = 0; s < m_dwK; ++s) {
    if (pSlots[s] == dwIndex) return BlockResult::kRedundant;
    if (pSlots[s] == kEmpty && dwFree == m_dwK) dwFree = s;
  }
  // A data block takes its own place in the stream when it is free.
  DWORD dwSlot = dwIndex < m_dwK && pSlots[dwIndex] == kEmpty ? dwIndex : dwFree;
  if (!ORV_ASSERT(dwSlot < m_dwK)) return BlockResult::kRedundant;

  if (m_dwStaged == m_dwStageBlocks) {
    *pdwErr = HandOver();
    if (*pdwErr != 0) return BlockResult::kStored;
  }
  std::copy(pData, pData + dwLen, m_Staged.begin() + std::size_t{m_dwStaged} * m_dwPayloadLen);
  m_SlotAt[nFirst + dwSlot] = m_dwWritten + m_dwStaged++;

  pSlots[dwSlot] = static_cast<std::uint16_t>(dwIndex);
  if (++m_GroupCount[dwGroup] == m_dwK && ++m_dwGroupsComplete == m_dwGroups)
    return BlockResult::kComplete;
  return BlockResult::kStored;
}

DWORD CRecvFile::FlushWrites(bool fAll) {
  if (!fAll) {
    // Half full: to the writer, unless it is still at the last ones (the
    // other half is room enough meanwhile).
    if (m_dwStaged < m_dwStageBlocks / 2 || m_Writer.IsBusy()) return 0;
    return HandOver();
  }
  const DWORD dwErr = m_dwStaged == 0 ? 0 : HandOver();
  const DWORD dwLast = m_Writer.Wait();
  return dwErr != 0 ? dwErr : dwLast;
}

DWORD CRecvFile::HandOver() {
  // Every block is taken once, so the file never grows beyond the stream.
  const DWORD dwErr =
      m_Writer.Write(&m_Temp, std::uint64_t{m_dwWritten} * m_dwPayloadLen, &m_Staged,
                     std::size_t{m_dwStaged} * m_dwPayloadLen);
  m_dwWritten += m_dwStaged;
  m_dwStaged = 0;
  return dwErr;
}

DWORD CRecvFile::ReadWindow(DWORD dwFirst, DWORD dwCount, BYTE* pWindow) {
  // The window's slots by their place in the temporary file: a run of
  // places one after the other is read at once, each block straight to its
  // slot. The carousel's order makes one run per round that the window's
  // groups took blocks in.
  const std::size_t nFirst = std::size_t{dwFirst} * m_dwK;
  const std::size_t nSlots = std::size_t{dwCount} * m_dwK;
  std::vector<std::uint64_t> order(nSlots);
  std::vector<BYTE*> dest(nSlots);
  for (std::size_t i = 0; i < nSlots; ++i)
    order[i] = (std::uint64_t{m_SlotAt[nFirst + i]} << 32) | i;
  std::sort(order.begin(), order.end());
  for (std::size_t i = 0; i < nSlots; ++i)
    dest[i] = pWindow + static_cast<std::size_t>(order[i] & 0xFFFFFFFFu) * m_dwPayloadLen;
  for (std::size_t i = 0; i < nSlots;) {
    const DWORD dwAt = static_cast<DWORD>(order[i] >> 32);
    std::size_t j = i + 1;
    while (j < nSlots && static_cast<DWORD>(order[j] >> 32) == dwAt + (j - i)) ++j;
    const DWORD nRun = static_cast<DWORD>(j - i);
    DWORD dwRead = 0;
    DWORD dwErr = m_Temp.ReadScatterAt(std::uint64_t{dwAt} * m_dwPayloadLen, &dest[i], nRun,
                                       m_dwPayloadLen, &dwRead);
    if (dwErr == 0 && dwRead != nRun * m_dwPayloadLen) dwErr = ERROR_HANDLE_EOF;
    if (dwErr != 0) return dwErr;
    i = j;
  }
  return 0;
}

DWORD CRecvFile::DecodeGroup(DWORD dwGroup, BYTE* pGroup, BYTE* pScratch, DWORD* pdwDecoded) {
  const std::uint16_t* pSlots = &m_SlotIndex[std::size_t{dwGroup} * m_dwK];
  bool fInPlace = true;
  DWORD dwDataHeld = 0;
  for (DWORD s = 0; s < m_dwK; ++s) {
    if (pSlots[s] != s) fInPlace = false;
    if (pSlots[s] < m_dwK) ++dwDataHeld;
  }
  if (fInPlace) return 0;  // every data block is in its place
  BYTE* ppPkt[256];
  BYTE* ppOut[256];
  int index[256];
  for (DWORD s = 0; s < m_dwK; ++s) {
    ppPkt[s] = pGroup + std::size_t{s} * m_dwPayloadLen;
    ppOut[s] = pScratch + std::size_t{s} * m_dwPayloadLen;
    index[s] = pSlots[s];
  }
  DWORD dwErr = m_FEC.Decode(ppPkt, index, static_cast<int>(m_dwPayloadLen), ppOut);
  if (dwErr != 0) return dwErr;
  *pdwDecoded += m_dwK - dwDataHeld;
  std::memcpy(pGroup, pScratch, std::size_t{m_dwK} * m_dwPayloadLen);
  return 0;
}

DWORD CRecvFile::Finish(CPelagoFile* pFile, DWORD* pdwDecoded, const std::function<void()>& pump) {
  *pdwDecoded = 0;
  DWORD dwSum = 0;
  DWORD dwErr = FlushWrites(true);
  if (dwErr == 0) dwErr = RestoreStream(&dwSum, pdwDecoded, pump);
  if (dwErr == 0) dwErr = VerifyAndRestore(dwSum, pFile);
  DropTemp();
  return dwErr;
}

DWORD CRecvFile::RestoreStream(DWORD* pdwSum, DWORD* pdwDecoded,
                               const std::function<void()>& pump) {
  const std::uint64_t qwGroupLen = std::uint64_t{m_dwK} * m_dwPayloadLen;
  // The window is the staging buffer, idle now: memory touched already costs
  // no page faults, which a fresh buffer of this size would.
  const DWORD dwPerWindow =
      static_cast<DWORD>(std::clamp<std::uint64_t>(m_Staged.size() / qwGroupLen, 1, m_dwGroups));
  std::vector<BYTE>& window = m_Staged;
  std::vector<BYTE> scratch;
  try {
    if (window.size() < dwPerWindow * qwGroupLen) window.resize(dwPerWindow * qwGroupLen);
    scratch.assign(qwGroupLen, 0);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  DWORD dwErr = m_Out.Open(m_OutPath, platform::OpenMode::kCreateAlways);
  if (dwErr == 0) dwErr = m_Out.SetLength(m_dwTotalLen);
  for (DWORD g = 0; dwErr == 0 && g < m_dwGroups; g += dwPerWindow) {
    const DWORD dwCount = std::min(dwPerWindow, m_dwGroups - g);
    dwErr = ReadWindow(g, dwCount, window.data());
    for (DWORD i = 0; dwErr == 0 && i < dwCount; ++i)
      dwErr = DecodeGroup(g + i, window.data() + i * qwGroupLen, scratch.data(), pdwDecoded);
    if (dwErr != 0) break;
    const DWORD dwLen = static_cast<DWORD>(dwCount * qwGroupLen);
    *pdwSum = pelago::AddChecksum(*pdwSum, window.data(), dwLen);
    dwErr = m_Out.WriteAt(g * qwGroupLen, window.data(), dwLen);
    if (pump) pump();
  }
  return dwErr;
}

DWORD CRecvFile::VerifyAndRestore(DWORD dwSum, CPelagoFile* pFile) {
  BYTE tail[pelago::kMaxTrailerLen];
  const DWORD dwTailLen = std::min(pelago::kMaxTrailerLen, m_dwTotalLen);
  DWORD dwRead = 0;
  DWORD dwErr = m_Out.ReadAt(m_dwTotalLen - dwTailLen, tail, dwTailLen, &dwRead);
  if (dwErr == 0 && dwRead != dwTailLen) dwErr = ERROR_HANDLE_EOF;
  if (dwErr != 0) return dwErr;
  const DWORD dwStored = pelago::LoadLE32(tail + dwTailLen - 4);
  if (dwSum - dwStored != dwStored) {
    DebugTrace("CRecvFile: FILE %lu checksum mismatch\n", static_cast<unsigned long>(m_dwFileId));
    return ERROR_FILE_CORRUPT;
  }
  CPelagoFile record;
  DWORD dwChecksum = 0, dwMetaLen = 0;
  if (pelago::ParseTrailer(tail, dwTailLen, m_dwTotalLen, &record, &dwChecksum, &dwMetaLen) !=
      pelago::TrailerFault::kNone) {
    DebugTrace("CRecvFile: FILE %lu bad trailer\n", static_cast<unsigned long>(m_dwFileId));
    return ERROR_FILE_CORRUPT;
  }
  dwErr = m_Out.SetLength(record.GetSize());
  const FILETIME ftAccess = record.GetLastAccessTime();
  const FILETIME ftWrite = record.GetLastWriteTime();
  if (dwErr == 0) dwErr = m_Out.SetTimes(&ftAccess, &ftWrite);
  if (dwErr != 0) return dwErr;
  // The blocks as taken go first: the record may name either file.
  m_Temp.Close();
  (void)platform::DeleteFile(m_TempPath);
  m_Out.Close();
  const std::string target = platform::JoinPath(m_SaveDir, record.GetName());
  if (target != m_OutPath) {
    if (platform::FileExists(target)) (void)platform::DeleteFile(target);
    dwErr = platform::MoveFile(m_OutPath, target, true);
    if (dwErr != 0) {
      (void)platform::DeleteFile(m_OutPath);
      return dwErr;
    }
  }
  if (platform::SetFileAttributes(target, record.GetAttributes()) != 0)
    DebugTrace("CRecvFile: FILE %lu attributes not set\n", static_cast<unsigned long>(m_dwFileId));
  *pFile = record;
  return 0;
}
