// CSendFile: the sender's view of one file's send stream. Reads the file,
// builds the trailer and its checksum, and hands out the blocks in carousel
// order (block index 0 of every group, then index 1, ... up to n-1, round after
// round), data blocks as read and parity blocks erasure-coded from their group.
// Used by the send thread alone.
#pragma once

#include <vector>

#include "Pelago/PacketHeader.h"
#include "Pelago/PelagoFile.h"
#include "Pelago/PelagoSession.h"
#include "Pelago/SendStream.h"
#include "fec/FEC.h"
#include "mcast/TickTimer.h"
#include "platform/File.h"
#include "platform/Win32Types.h"

class CSendFile {
 public:
  CSendFile();
  ~CSendFile() { Cleanup(); }
  CSendFile(const CSendFile&) = delete;
  CSendFile& operator=(const CSendFile&) = delete;

  // Lays out the stream of pFile's file (its path stripped in the trailer),
  // computes the checksum and keeps the file open for sending; the file is
  // szPath, or the record's name when szPath is null. 0, 87 for bad
  // parameters, 8 for memory, 30 for a short read, or the platform's error.
  unsigned long Init(CPelagoSession* pSession, CPelagoFile* pFile, unsigned long dwFileId,
                     const char* szPath = nullptr);
  // Reads the next block into pBuf (dwBufLen must be the payload length), fills
  // the header's file id, total length, group id, block index and k, advances,
  // and stores the completed rounds in *pdwRounds. 0 or an error.
  unsigned long NextPacket(BYTE* pBuf, DWORD dwBufLen, tPacketHeader* pHeader,
                           unsigned long* pdwRounds);
  void Cleanup();

  DWORD GetBlocks() const { return m_dwBlocks; }
  DWORD GetGroups() const { return m_dwGroups; }
  DWORD GetK() const { return m_dwK; }
  DWORD GetTotalLen() const { return m_dwTotalLen; }
  DWORD GetChecksum() const;

 private:
  // Reads stream bytes [qwOffset, qwOffset + dwCount) into pDst.
  DWORD ReadStream(std::uint64_t qwOffset, DWORD dwCount, BYTE* pDst);
  DWORD ReadBlock(DWORD dwGroup, DWORD dwIndex, BYTE* pDst);
  DWORD ComputeChecksum();

  platform::File m_File;
  DWORD m_dwFileLen;
  DWORD m_dwPayloadLen;
  DWORD m_dwPadLen;
  DWORD m_dwTotalLen;
  DWORD m_dwBlocks;
  DWORD m_dwGroups;
  DWORD m_dwFileId;
  DWORD m_dwRounds;
  DWORD m_dwNextGroup;
  DWORD m_dwNextIndex;
  DWORD m_dwK;
  DWORD m_dwN;
  CFEC m_FEC;
  std::vector<BYTE> m_Trailer;  // meta dump, meta length, checksum
  std::vector<BYTE> m_Group;    // k * payload bytes
  CTickTimer m_Timer;
  DWORD m_dwSentCount;
};
