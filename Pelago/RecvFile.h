// CRecvFile: the assembly of one file being received. Keeps the first k
// blocks of every group in a temporary file "FEC%05lu" (after the file id) in
// the save folder. A block taken waits in a small staging buffer until
// FlushWrites writes the staged blocks out, so that the caller can give the
// datagram's buffer back before any write. Once every group holds k blocks
// it decodes the groups that miss data blocks, checks the stream's checksum,
// restores the file from the record at the end of the stream and moves it
// into the save folder under the sender's base name. Used by the receive
// thread alone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

  // Checks the free space and creates the temporary file. 0, 87 for a stream
  // that IsValidStream refuses, 112 when the folder lacks the space, 8 for
  // memory, or the platform's error.
  DWORD Init(const std::string& saveDir, DWORD dwFileId, DWORD dwTotalLen, DWORD dwPayloadLen,
             DWORD dwK);
  // Whether a datagram of this file's id fits this file.
  bool Fits(DWORD dwTotalLen, DWORD dwK, DWORD dwGroup) const;
  // Takes one block into the staging buffer (REQUIRES: Fits, and dwLen is
  // the payload length). When the buffer is full the staged blocks are
  // written first; a write error is returned in *pdwErr with kStored.
  BlockResult AddBlock(DWORD dwGroup, DWORD dwIndex, const BYTE* pData, DWORD dwLen,
                       DWORD* pdwErr);
  // Writes the staged blocks: 0 or the platform's error.
  DWORD FlushWrites();
  // Decodes, checks and restores the completed file. 0 with *pFile the record
  // and *pdwDecoded the data blocks rebuilt; 1392 for a checksum or trailer
  // that does not hold; or the platform's error. The temporary file is gone
  // afterwards either way.
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

  std::uint64_t SlotOffset(DWORD dwGroup, DWORD dwSlot) const {
    return (std::uint64_t{dwGroup} * m_dwK + dwSlot) * m_dwPayloadLen;
  }
  DWORD DecodeGroup(DWORD dwGroup, std::vector<BYTE>* pIn, std::vector<BYTE>* pOut,
                    DWORD* pdwDecoded);
  DWORD VerifyAndRestore(CPelagoFile* pFile, const std::function<void()>& pump);
  void DropTemp();

  std::string m_SaveDir;
  std::string m_TempPath;
  platform::File m_Temp;
  DWORD m_dwFileId;
  DWORD m_dwTotalLen;
  DWORD m_dwPayloadLen;
  DWORD m_dwK;
  DWORD m_dwGroups;
  DWORD m_dwGroupsComplete;
  std::vector<std::uint16_t> m_SlotIndex;  // per group k slots: block index held, or kEmpty
  std::vector<std::uint16_t> m_GroupCount; // blocks held per group
  // Blocks taken and not yet written, and where each goes.
  std::vector<BYTE> m_Staged;
  std::vector<std::uint64_t> m_StagedAt;
  DWORD m_dwStaged;
  CFEC m_FEC;
};
