// CRecvFile: the assembly of one file being received. Keeps the first k
// blocks of every group in a temporary file "FEC%05lu" (after the file id) in
// the save folder, in the order they were taken: the carousel sends one
// block of every group in turn, so blocks taken one after the other go to
// one place after the other there. Blocks taken wait in a staging buffer
// until it is half full (or FlushWrites is told to write them all), so that
// the caller gives the datagram's buffer back before any write and the file
// sees one write per many blocks; a writer thread does the writing, so that
// no datagram waits behind the file system. Once every group holds k blocks
// it reads the groups back a window at a time (into the staging buffer) in
// stream order, decodes in memory the groups that miss data blocks, sums the
// stream's checksum and writes the stream out; then it restores the file from
// the record at the end of the stream and moves it into the save folder
// under the sender's base name.
// Used by the receive thread alone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Pelago/BlockWriter.h"
#include "Pelago/PelagoFile.h"
#include "fec/FEC.h"
#include "platform/File.h"
#include "platform/Win32Types.h"

class CRecvFile {
 public:
  // Most blocks one file may have; more is refused, which bounds the memory
  // of the block table.
  static constexpr DWORD kMaxBlocks = 1u << 22;

  // What a block did.
  enum class BlockResult { kStored, kRedundant, kComplete };

  CRecvFile();
  ~CRecvFile();  // an unfinished temporary file is deleted
  CRecvFile(const CRecvFile&) = delete;
  CRecvFile& operator=(const CRecvFile&) = delete;

  // Whether a stream of these dimensions can be received at all.
  static bool IsValidStream(DWORD dwTotalLen, DWORD dwPayloadLen, DWORD dwK);

  // Checks the free space (for the stream twice: the blocks as taken and the
  // stream restored from them) and creates the temporary file. 0, 87 for a
  // stream that IsValidStream refuses, 112 when the folder lacks the space, 8
  // for memory, or the platform's error.
  DWORD Init(const std::string& saveDir, DWORD dwFileId, DWORD dwTotalLen, DWORD dwPayloadLen,
             DWORD dwK);
  // Whether a datagram of this file's id fits this file.
  bool Fits(DWORD dwTotalLen, DWORD dwK, DWORD dwGroup) const;
  // Takes one block into the staging buffer (REQUIRES: Fits, and dwLen is
  // the payload length). When the buffer is full the staged blocks are
  // written first; a write error is returned in *pdwErr with kStored.
  BlockResult AddBlock(DWORD dwGroup, DWORD dwIndex, const BYTE* pData, DWORD dwLen, DWORD* pdwErr);
  // Hands the staged blocks to the writer once the staging buffer is half
  // full (and the writer is free), or writes all of them and waits with fAll:
  // 0 or the platform's error (of this write or of one handed over before).
  DWORD FlushWrites(bool fAll = true);
  // Decodes, checks and restores the completed file. 0 with *pFile the record
  // and *pdwDecoded the data blocks rebuilt; 1392 for a checksum or trailer
  // that does not hold; or the platform's error. The temporary files are
  // gone afterwards either way.
  // pump, when given, is called now and then on the way, so that the caller
  // can take in datagrams meanwhile (it must leave this file alone).
  DWORD Finish(CPelagoFile* pFile, DWORD* pdwDecoded, const std::function<void()>& pump = {});

  // Whether every group holds k blocks (the file waits for Finish).
  bool IsComplete() const { return m_dwGroups != 0 && m_dwGroupsComplete == m_dwGroups; }
  DWORD GetFileId() const { return m_dwFileId; }
  DWORD GetTotalLen() const { return m_dwTotalLen; }
  const std::string& GetTempPath() const { return m_TempPath; }

 private:
  static constexpr std::uint16_t kEmpty = 0xFFFF;

  // Reads groups [dwFirst, dwFirst + dwCount) from the temporary file into
  // pWindow in stream order (slot s of a group at its place s).
  DWORD ReadWindow(DWORD dwFirst, DWORD dwCount, BYTE* pWindow);
  // Rebuilds the data blocks of a group read into pGroup, in place.
  DWORD DecodeGroup(DWORD dwGroup, BYTE* pGroup, BYTE* pScratch, DWORD* pdwDecoded);
  // Writes the stream out in stream order, decoded, and sums its checksum.
  DWORD RestoreStream(DWORD* pdwSum, DWORD* pdwDecoded, const std::function<void()>& pump);
  // Checks the sum and the trailer and moves the restored file into place.
  DWORD VerifyAndRestore(DWORD dwSum, CPelagoFile* pFile);
  // Hands the staged blocks to the writer (waiting for its last write).
  DWORD HandOver();
  void DropTemp();

  std::string m_SaveDir;
  std::string m_TempPath;  // the blocks as taken
  platform::File m_Temp;
  std::string m_OutPath;  // the stream restored from them, while Finish runs
  platform::File m_Out;
  DWORD m_dwFileId;
  DWORD m_dwTotalLen;
  DWORD m_dwPayloadLen;
  DWORD m_dwK;
  DWORD m_dwGroups;
  DWORD m_dwGroupsComplete;
  std::vector<std::uint16_t> m_SlotIndex;   // per group k slots: block index held, or kEmpty
  std::vector<DWORD> m_SlotAt;              // per slot: the block's place in the temporary file
  std::vector<std::uint16_t> m_GroupCount;  // blocks held per group
  DWORD m_dwWritten;                        // blocks in the temporary file
  // Blocks taken and not yet written; they follow the written ones.
  std::vector<BYTE> m_Staged;
  DWORD m_dwStageBlocks;
  DWORD m_dwStaged;
  CFEC m_FEC;
  CBlockWriter m_Writer;  // writes into m_Temp; waited for before it closes
};
