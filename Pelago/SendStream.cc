#include "Pelago/SendStream.h"

#include <cstring>

#include "Pelago/LittleEndian.h"
#include "platform/DebugOutput.h"

namespace pelago {

DWORD ComputeLayout(std::uint64_t qwEffectiveLen, DWORD dwPayloadLen, DWORD dwMaxK,
                    tStreamLayout* pLayout) {
  if (!ORV_ASSERT(pLayout != NULL)) return ERROR_INVALID_PARAMETER;
  if (qwEffectiveLen == 0 || dwPayloadLen == 0 || dwMaxK == 0 || dwMaxK > 256)
    return ERROR_INVALID_PARAMETER;
  const std::uint64_t P = dwPayloadLen;
  const std::uint64_t B = (qwEffectiveLen + P - 1) / P;
  std::uint64_t k = 0;
  if (B <= dwMaxK) {
    k = B;
  } else {
    std::uint64_t G = (B + dwMaxK - 1) / dwMaxK;
    if (G < dwMaxK) {
      k = (B + G - 1) / G;
      ORV_ASSERT(G >= 1 && G < dwMaxK);
      ORV_ASSERT(k * G >= B);
    } else {
      k = dwMaxK;
    }
  }
  const std::uint64_t qwGroupLen = k * P;
  const std::uint64_t qwRem = qwEffectiveLen % qwGroupLen;
  const std::uint64_t qwPad = qwRem == 0 ? 0 : qwGroupLen - qwRem;
  const std::uint64_t qwGroups = (qwEffectiveLen + qwPad) / qwGroupLen;
  const std::uint64_t qwTotal = qwGroups * qwGroupLen;
  if (qwTotal > 0xFFFFFFFFu) return ERROR_INVALID_PARAMETER;
  pLayout->dwK = static_cast<DWORD>(k);
  pLayout->dwPadLen = static_cast<DWORD>(qwPad);
  pLayout->dwGroups = static_cast<DWORD>(qwGroups);
  pLayout->dwBlocks = static_cast<DWORD>(qwGroups * k);
  pLayout->dwTotalLen = static_cast<DWORD>(qwTotal);
  return 0;
}

DWORD AddChecksum(DWORD dwSum, const BYTE* pData, DWORD dwLen) {
  ORV_ASSERT(dwLen % 4 == 0);
  for (DWORD i = 0; i + 4 <= dwLen; i += 4) dwSum += LoadLE32(pData + i);
  return dwSum;
}

std::vector<BYTE> BuildTrailer(const CPelagoFile& file) {
  const DWORD dwMetaLen = file.GetLenDumpMeta();
  std::vector<BYTE> trailer(dwMetaLen + kTrailerTailLen, 0);
  file.DumpMeta(trailer.data(), 0, dwMetaLen);
  StoreLE32(trailer.data() + dwMetaLen, dwMetaLen);
  return trailer;
}

bool IsBareFileName(const char* szName, std::size_t nLen) {
  if (nLen == 0 || nLen >= CPelagoFile::kNameLen) return false;
  if (nLen == 1 && szName[0] == '.') return false;
  if (nLen == 2 && szName[0] == '.' && szName[1] == '.') return false;
  for (std::size_t i = 0; i < nLen; ++i) {
    char c = szName[i];
    if (c == '\0' || c == '/' || c == '\\') return false;
  }
  return true;
}

TrailerFault ParseTrailer(const BYTE* pTail, DWORD dwTailLen, std::uint64_t qwTotalLen,
                          CPelagoFile* pFile, DWORD* pdwChecksum, DWORD* pdwMetaLen) {
  if (dwTailLen < kTrailerTailLen || dwTailLen > qwTotalLen) return TrailerFault::kMetaLength;
  const BYTE* pEnd = pTail + dwTailLen;
  const DWORD dwChecksum = LoadLE32(pEnd - 4);
  const DWORD dwMetaLen = LoadLE32(pEnd - 8);
  if (dwMetaLen < CPelagoFile::kFixedLen || dwMetaLen > dwTailLen - kTrailerTailLen)
    return TrailerFault::kMetaLength;
  const BYTE* pMeta = pEnd - kTrailerTailLen - dwMetaLen;
  const char* pName = reinterpret_cast<const char*>(pMeta + CPelagoFile::kFixedLen);
  const std::size_t nNameLen = dwMetaLen - CPelagoFile::kFixedLen;
  if (!IsBareFileName(pName, nNameLen)) return TrailerFault::kName;
  CPelagoFile record;
  record.RestoreMeta(pMeta, 0, dwMetaLen);
  if (std::uint64_t{record.GetSize()} + dwMetaLen + kTrailerTailLen > qwTotalLen)
    return TrailerFault::kSize;
  *pFile = record;
  *pdwChecksum = dwChecksum;
  *pdwMetaLen = dwMetaLen;
  return TrailerFault::kNone;
}

}  // namespace pelago
