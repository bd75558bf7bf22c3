#include "Pelago/SendFile.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ErrStuff/DebugTrace.h"
#include "Pelago/LittleEndian.h"
#include "platform/DebugOutput.h"

CSendFile::CSendFile()
    : m_dwFileLen(0),
      m_dwPayloadLen(0),
      m_dwPadLen(0),
      m_dwTotalLen(0),
      m_dwBlocks(0),
      m_dwGroups(0),
      m_dwFileId(0),
      m_dwRounds(0),
      m_dwNextGroup(0),
      m_dwNextIndex(0),
      m_dwK(0),
      m_dwN(0),
      m_dwSentCount(0) {}

void CSendFile::Cleanup() {
  m_Group.clear();
  m_Group.shrink_to_fit();
  m_File.Close();
  m_Trailer.clear();
  m_Trailer.shrink_to_fit();
}

unsigned long CSendFile::Init(CPelagoSession* pSession, CPelagoFile* pFile, unsigned long dwFileId,
                              const char* szPath) {
  if (!ORV_ASSERT(pSession != NULL) || !ORV_ASSERT(pFile != NULL)) return ERROR_INVALID_PARAMETER;
  Cleanup();
  m_dwPayloadLen = pSession->GetPayloadLen();
  const DWORD dwMaxK = pSession->GetK();
  m_dwN = pSession->GetN();
  m_dwFileId = static_cast<DWORD>(dwFileId);
  if (m_dwPayloadLen == 0 || dwMaxK == 0 || dwMaxK > 256 || m_dwN < dwMaxK || m_dwN > 256)
    return ERROR_INVALID_PARAMETER;

  CPelagoFile stripped = *pFile;
  stripped.StripPath();
  try {
    m_Trailer = pelago::BuildTrailer(stripped);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  m_dwFileLen = stripped.GetSize();
  pelago::tStreamLayout layout;
  DWORD dwErr = pelago::ComputeLayout(std::uint64_t{m_dwFileLen} + m_Trailer.size(),
                                      m_dwPayloadLen, dwMaxK, &layout);
  // The checksum runs over whole DWORDs.
  const bool fWholeDwords = (std::uint64_t{layout.dwK} * m_dwPayloadLen) % 4 == 0;
  if (dwErr == 0 && !ORV_ASSERT(fWholeDwords)) dwErr = ERROR_INVALID_PARAMETER;
  if (dwErr != 0) {
    Cleanup();
    return dwErr;
  }
  m_dwK = layout.dwK;
  m_dwPadLen = layout.dwPadLen;
  m_dwGroups = layout.dwGroups;
  m_dwBlocks = layout.dwBlocks;
  m_dwTotalLen = layout.dwTotalLen;
  try {
    m_Group.assign(std::size_t{m_dwK} * m_dwPayloadLen, 0);
  } catch (const std::bad_alloc&) {
    Cleanup();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  m_dwRounds = m_dwNextGroup = m_dwNextIndex = 0;
  m_dwSentCount = 0;
  DebugTrace("\tInit CSendFile Block size = %d, Groups = %d\n", static_cast<int>(m_dwPayloadLen),
             static_cast<int>(m_dwGroups));
  dwErr = m_FEC.Init(static_cast<int>(m_dwK), 256);
  if (dwErr == 0)
    dwErr = m_File.Open(szPath != nullptr ? szPath : pFile->GetName(), platform::OpenMode::kRead);
  if (dwErr == 0) dwErr = ComputeChecksum();
  if (dwErr != 0) Cleanup();
  return dwErr;
}

DWORD CSendFile::GetChecksum() const {
  if (m_Trailer.size() < 4) return 0;
  return pelago::LoadLE32(m_Trailer.data() + m_Trailer.size() - 4);
}

DWORD CSendFile::ComputeChecksum() {
  DWORD dwSum = 0;
  const DWORD dwGroupLen = m_dwK * m_dwPayloadLen;
  for (DWORD g = 0; g < m_dwGroups; ++g) {
    DWORD dwErr = ReadStream(std::uint64_t{g} * dwGroupLen, dwGroupLen, m_Group.data());
    if (dwErr != 0) return dwErr;
    dwSum = pelago::AddChecksum(dwSum, m_Group.data(), dwGroupLen);
  }
  pelago::StoreLE32(m_Trailer.data() + m_Trailer.size() - 4, dwSum);
  return 0;
}

DWORD CSendFile::ReadStream(std::uint64_t qwOffset, DWORD dwCount, BYTE* pDst) {
  const std::uint64_t qwEnd = qwOffset + dwCount;
  const std::uint64_t qwFileEnd = m_dwFileLen;
  const std::uint64_t qwTrailerStart = std::uint64_t{m_dwTotalLen} - m_Trailer.size();
  if (!ORV_ASSERT(qwEnd <= m_dwTotalLen)) return ERROR_INVALID_PARAMETER;
  std::uint64_t pos = qwOffset;
  if (pos < qwFileEnd) {
    DWORD dwWant = static_cast<DWORD>(std::min(qwEnd, qwFileEnd) - pos);
    DWORD dwRead = 0;
    DWORD dwErr = m_File.ReadAt(pos, pDst, dwWant, &dwRead);
    if (dwErr != 0) return dwErr;
    if (dwRead != dwWant) {
      DebugTrace("DiskRead Offset %lu>: read failed : %x\n", static_cast<unsigned long>(pos),
                 static_cast<unsigned>(dwRead));
      return 30;  // ERROR_READ_FAULT
    }
    pDst += dwWant;
    pos += dwWant;
  }
  if (pos < qwEnd && pos < qwTrailerStart) {
    DWORD dwZeros = static_cast<DWORD>(std::min(qwEnd, qwTrailerStart) - pos);
    std::memset(pDst, 0, dwZeros);
    pDst += dwZeros;
    pos += dwZeros;
  }
  if (pos < qwEnd) {
    std::memcpy(pDst, m_Trailer.data() + (pos - qwTrailerStart), static_cast<DWORD>(qwEnd - pos));
  }
  return 0;
}

DWORD CSendFile::ReadBlock(DWORD dwGroup, DWORD dwIndex, BYTE* pDst) {
  const std::uint64_t qwGroupStart = std::uint64_t{dwGroup} * m_dwK * m_dwPayloadLen;
  if (dwIndex < m_dwK)
    return ReadStream(qwGroupStart + std::uint64_t{dwIndex} * m_dwPayloadLen, m_dwPayloadLen,
                      pDst);
  DWORD dwErr = ReadStream(qwGroupStart, m_dwK * m_dwPayloadLen, m_Group.data());
  if (dwErr != 0) return dwErr;
  BYTE* pSrc[256];
  for (DWORD i = 0; i < m_dwK; ++i) pSrc[i] = m_Group.data() + std::size_t{i} * m_dwPayloadLen;
  return m_FEC.Encode(pSrc, static_cast<int>(m_dwPayloadLen), pDst, static_cast<int>(dwIndex));
}

unsigned long CSendFile::NextPacket(BYTE* pBuf, DWORD dwBufLen, tPacketHeader* pHeader,
                                    unsigned long* pdwRounds) {
  if (!ORV_ASSERT(pBuf != NULL) || !ORV_ASSERT(pHeader != NULL) || !ORV_ASSERT(pdwRounds != NULL))
    return ERROR_INVALID_PARAMETER;
  if (!ORV_ASSERT(dwBufLen == m_dwPayloadLen) || !ORV_ASSERT(m_dwGroups > 0))
    return ERROR_INVALID_PARAMETER;
  DWORD dwErr = ReadBlock(m_dwNextGroup, m_dwNextIndex, pBuf);
  if (dwErr != 0) return dwErr;
  pHeader->SetFileId(m_dwFileId);
  pHeader->SetTotalLen(m_dwTotalLen);
  pHeader->SetGroupId(m_dwNextGroup);
  pHeader->SetBlockIndex(m_dwNextIndex);
  pHeader->SetK(m_dwK);
  ++m_dwSentCount;
  m_dwNextGroup = (m_dwNextGroup + 1) % m_dwGroups;
  if (m_dwNextGroup == 0) {
    m_dwNextIndex = (m_dwNextIndex + 1) % m_dwN;
    if (m_dwNextIndex == 0) ++m_dwRounds;
  }
  *pdwRounds = m_dwRounds;
  return 0;
}
