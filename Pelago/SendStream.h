// The send stream of a file: its data, zero padding up to a whole number of
// groups, the meta dump of its record, the meta length and a 32-bit checksum.
// Here are the group-size rule, the checksum and the trailer's builder and
// parser, shared by the sender and the receiver.
#pragma once

#include <cstdint>
#include <vector>

#include "Pelago/PelagoFile.h"
#include "platform/Win32Types.h"

namespace pelago {

// Bytes after the meta dump: the meta length and the checksum.
inline constexpr DWORD kTrailerTailLen = 8;

// How a stream is cut into groups of k blocks of dwPayloadLen bytes.
struct tStreamLayout {
  DWORD dwK = 0;         // data blocks per group
  DWORD dwPadLen = 0;    // zero bytes between file data and meta dump
  DWORD dwGroups = 0;    // groups in the stream
  DWORD dwBlocks = 0;    // dwGroups * dwK
  DWORD dwTotalLen = 0;  // dwBlocks * payload length
};

// The group-size rule for a stream of effective length qwEffectiveLen (file
// length + meta length + 8) in blocks of dwPayloadLen bytes and groups of at
// most dwMaxK blocks. 0, or 87 for zero parameters or a stream longer than 32
// bits can count.
DWORD ComputeLayout(std::uint64_t qwEffectiveLen, DWORD dwPayloadLen, DWORD dwMaxK,
                    tStreamLayout* pLayout);

// Adds the little-endian DWORDs of pData (dwLen a multiple of 4) to dwSum.
DWORD AddChecksum(DWORD dwSum, const BYTE* pData, DWORD dwLen);

// The trailer of a record (path already stripped): meta dump, meta length and
// a zero checksum slot.
std::vector<BYTE> BuildTrailer(const CPelagoFile& file);

// Why a trailer was refused.
enum class TrailerFault {
  kNone,
  kMetaLength,  // the meta length runs past the stream or below the fixed block
  kSize,        // the file size does not fit before the trailer
  kName,        // the name is empty, too long, or not a bare file name
};

// The longest trailer: the fixed block, a name of 259 characters, 8 bytes.
inline constexpr DWORD kMaxTrailerLen = CPelagoFile::kFixedLen + CPelagoFile::kNameLen - 1 + 8;

// Parses the trailer at the end of a stream of qwTotalLen bytes. pTail holds
// the last dwTailLen bytes of the stream, min(qwTotalLen, kMaxTrailerLen) of
// them. On success *pFile holds the record, *pdwChecksum the stored checksum
// and *pdwMetaLen the meta length. Only bare names pass: no '/', no '\\', no
// NUL, not "." or "..".
TrailerFault ParseTrailer(const BYTE* pTail, DWORD dwTailLen, std::uint64_t qwTotalLen,
                          CPelagoFile* pFile, DWORD* pdwChecksum, DWORD* pdwMetaLen);

// Whether a name may be written in a save folder as it stands.
bool IsBareFileName(const char* szName, std::size_t nLen);

}  // namespace pelago
