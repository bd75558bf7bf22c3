#include "Pelago/RecvFile.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "Pelago/LittleEndian.h"
#include "Pelago/SendStream.h"
#include "platform/DebugOutput.h"

namespace {

// The largest group a file may have, which bounds the decoder's buffers.
constexpr std::uint64_t kMaxGroupBytes = 4u << 20;
// The staging buffer: as many blocks as a receive batch can bring (the
// largest ring), within this many bytes, and at least one.
constexpr DWORD kMaxStagedBlocks = 256;
constexpr std::uint64_t kMaxStagedBytes = 256u << 10;
// Bytes read at a time by the checksum pass.
constexpr DWORD kChunkLen = 1u << 20;

}  // namespace

CRecvFile::CRecvFile()
    : m_dwFileId(0),
      m_dwTotalLen(0),
      m_dwPayloadLen(0),
      m_dwK(0),
      m_dwGroups(0),
      m_dwGroupsComplete(0),
      m_dwStaged(0) {}

CRecvFile::~CRecvFile() { DropTemp(); }

void CRecvFile::DropTemp() {
  if (m_Temp.IsOpen()) {
    m_Temp.Close();
    platform::DeleteFile(m_TempPath);
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
  m_SaveDir = saveDir;
  m_dwFileId = dwFileId;
  m_dwTotalLen = dwTotalLen;
  m_dwPayloadLen = dwPayloadLen;
  m_dwK = dwK;
  m_dwGroups = static_cast<DWORD>(dwTotalLen / (std::uint64_t{dwK} * dwPayloadLen));
  m_dwGroupsComplete = 0;
  std::uint64_t qwFree = 0;
  DWORD dwErr = platform::GetDiskFreeSpace(saveDir, &qwFree);
  if (dwErr != 0) return dwErr;
  if (qwFree < dwTotalLen) return ERROR_DISK_FULL;
  try {
    m_SlotIndex.assign(std::size_t{m_dwGroups} * dwK, kEmpty);
    m_GroupCount.assign(m_dwGroups, 0);
    const DWORD dwStageBlocks = static_cast<DWORD>(
        std::clamp<std::uint64_t>(kMaxStagedBytes / dwPayloadLen, 1, kMaxStagedBlocks));
    m_Staged.assign(std::size_t{dwStageBlocks} * dwPayloadLen, 0);
    m_StagedAt.assign(dwStageBlocks, 0);
    m_dwStaged = 0;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  dwErr = m_FEC.Init(static_cast<int>(dwK), 256);
  if (dwErr != 0) return dwErr;
  char szName[16];
  std::snprintf(szName, sizeof szName, "FEC%05lu", static_cast<unsigned long>(dwFileId));
  m_TempPath = platform::JoinPath(saveDir, szName);
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
  std::uint16_t* pSlots = &m_SlotIndex[std::size_t{dwGroup} * m_dwK];
  DWORD dwFree = m_dwK;
  for (DWORD s = 0; s < m_dwK; ++s) {
    if (pSlots[s] == dwIndex) return BlockResult::kRedundant;
    if (pSlots[s] == kEmpty && dwFree == m_dwK) dwFree = s;
  }
  // A data block goes to its own place in the stream when it is free.
  DWORD dwSlot = dwIndex < m_dwK && pSlots[dwIndex] == kEmpty ? dwIndex : dwFree;
  if (!ORV_ASSERT(dwSlot < m_dwK)) return BlockResult::kRedundant;

  if (m_dwStaged == m_StagedAt.size()) {
    *pdwErr = FlushWrites();
    if (*pdwErr != 0) return BlockResult::kStored;
  }
  std::copy(pData, pData + dwLen, m_Staged.begin() + std::size_t{m_dwStaged} * m_dwPayloadLen);
  m_StagedAt[m_dwStaged++] = SlotOffset(dwGroup, dwSlot);

  pSlots[dwSlot] = static_cast<std::uint16_t>(dwIndex);
  if (++m_GroupCount[dwGroup] == m_dwK && ++m_dwGroupsComplete == m_dwGroups)
    return BlockResult::kComplete;
  return BlockResult::kStored;
}

DWORD CRecvFile::FlushWrites() {
  // Blocks staged one after the other for adjacent places go out together.
  DWORD dwErr = 0;
  for (DWORD s = 0; s < m_dwStaged && dwErr == 0;) {
    DWORD e = s + 1;
    while (e < m_dwStaged && m_StagedAt[e] == m_StagedAt[e - 1] + m_dwPayloadLen) ++e;
    dwErr = m_Temp.WriteAt(m_StagedAt[s], m_Staged.data() + std::size_t{s} * m_dwPayloadLen,
                           (e - s) * m_dwPayloadLen);
    s = e;
  }
  m_dwStaged = 0;
  return dwErr;
}

DWORD CRecvFile::DecodeGroup(DWORD dwGroup, std::vector<BYTE>* pIn, std::vector<BYTE>* pOut,
                             DWORD* pdwDecoded) {
  const std::uint16_t* pSlots = &m_SlotIndex[std::size_t{dwGroup} * m_dwK];
  bool fInPlace = true;
  DWORD dwDataHeld = 0;
  for (DWORD s = 0; s < m_dwK; ++s) {
    if (pSlots[s] != s) fInPlace = false;
    if (pSlots[s] < m_dwK) ++dwDataHeld;
  }
  if (fInPlace) return 0;  // every data block is in its place
  const DWORD dwGroupLen = m_dwK * m_dwPayloadLen;
  DWORD dwRead = 0;
  DWORD dwErr = m_Temp.ReadAt(SlotOffset(dwGroup, 0), pIn->data(), dwGroupLen, &dwRead);
  if (dwErr == 0 && dwRead != dwGroupLen) dwErr = ERROR_HANDLE_EOF;
  if (dwErr != 0) return dwErr;
  BYTE* ppPkt[256];
  BYTE* ppOut[256];
  int index[256];
  for (DWORD s = 0; s < m_dwK; ++s) {
    ppPkt[s] = pIn->data() + std::size_t{s} * m_dwPayloadLen;
    ppOut[s] = pOut->data() + std::size_t{s} * m_dwPayloadLen;
    index[s] = pSlots[s];
  }
  dwErr = m_FEC.Decode(ppPkt, index, static_cast<int>(m_dwPayloadLen), ppOut);
  if (dwErr != 0) return dwErr;
  *pdwDecoded += m_dwK - dwDataHeld;
  return m_Temp.WriteAt(SlotOffset(dwGroup, 0), pOut->data(), dwGroupLen);
}

DWORD CRecvFile::Finish(CPelagoFile* pFile, DWORD* pdwDecoded, const std::function<void()>& pump) {
  *pdwDecoded = 0;
  DWORD dwErr = FlushWrites();
  std::vector<BYTE> in, out;
  try {
    in.assign(std::size_t{m_dwK} * m_dwPayloadLen, 0);
    out.assign(in.size(), 0);
  } catch (const std::bad_alloc&) {
    dwErr = ERROR_NOT_ENOUGH_MEMORY;
  }
  for (DWORD g = 0; dwErr == 0 && g < m_dwGroups; ++g) {
    const DWORD dwDecoded = *pdwDecoded;
    dwErr = DecodeGroup(g, &in, &out, pdwDecoded);
    if (pump && (*pdwDecoded != dwDecoded || g % 64 == 63)) pump();
  }
  if (dwErr == 0) dwErr = VerifyAndRestore(pFile, pump);
  DropTemp();
  return dwErr;
}

DWORD CRecvFile::VerifyAndRestore(CPelagoFile* pFile, const std::function<void()>& pump) {
  std::vector<BYTE> chunk;
  try {
    chunk.assign(std::min(kChunkLen, m_dwTotalLen), 0);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  DWORD dwSum = 0;
  for (std::uint64_t pos = 0; pos < m_dwTotalLen;) {
    const DWORD dwWant = static_cast<DWORD>(std::min<std::uint64_t>(chunk.size(), m_dwTotalLen - pos));
    DWORD dwRead = 0;
    DWORD dwErr = m_Temp.ReadAt(pos, chunk.data(), dwWant, &dwRead);
    if (dwErr == 0 && dwRead != dwWant) dwErr = ERROR_HANDLE_EOF;
    if (dwErr != 0) return dwErr;
    dwSum = pelago::AddChecksum(dwSum, chunk.data(), dwWant);
    pos += dwWant;
    if (pump) pump();
  }
  BYTE tail[pelago::kMaxTrailerLen];
  const DWORD dwTailLen = std::min(pelago::kMaxTrailerLen, m_dwTotalLen);
  DWORD dwRead = 0;
  DWORD dwErr = m_Temp.ReadAt(m_dwTotalLen - dwTailLen, tail, dwTailLen, &dwRead);
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
  dwErr = m_Temp.SetLength(record.GetSize());
  const FILETIME ftAccess = record.GetLastAccessTime();
  const FILETIME ftWrite = record.GetLastWriteTime();
  if (dwErr == 0) dwErr = m_Temp.SetTimes(&ftAccess, &ftWrite);
  if (dwErr != 0) return dwErr;
  m_Temp.Close();
  const std::string target = platform::JoinPath(m_SaveDir, record.GetName());
  if (target != m_TempPath) {
    if (platform::FileExists(target)) (void)platform::DeleteFile(target);
    dwErr = platform::MoveFile(m_TempPath, target, true);
    if (dwErr != 0) {
      (void)platform::DeleteFile(m_TempPath);
      return dwErr;
    }
  }
  if (platform::SetFileAttributes(target, record.GetAttributes()) != 0)
    DebugTrace("CRecvFile: FILE %lu attributes not set\n", static_cast<unsigned long>(m_dwFileId));
  *pFile = record;
  return 0;
}
