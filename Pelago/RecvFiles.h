// CRecvFiles: the map of the files being received, by file id. Checks each
// datagram against the file it names, starts a file (free space checked) at
// its first datagram, hands blocks to the file's assembly and finishes a file
// once all its groups are complete. Used by the receive thread alone.
//
// Bounded against hostile input: at most kMaxFiles files at once, and
// datagrams that do not fit their file are refused. A full table makes room
// for a new file id that has shown two datagrams or more, in place of a file
// that has shown no more than the newcomer; an idle file (nothing for
// kIdleDatagrams) gives way to any newcomer. So a flood of ids that come once
// each never evicts a file that is making progress. File ids not in the
// table keep their count of datagrams in a bounded memory, so that a genuine
// newcomer gains ground over a flood whose ids come once each.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Pelago/PacketHeader.h"
#include "Pelago/PelagoFile.h"
#include "Pelago/RecvFile.h"
#include "platform/Win32Types.h"

class CRecvFiles {
 public:
  static constexpr std::size_t kMaxFiles = 4;
  static constexpr std::size_t kMaxRemembered = 64;
  static constexpr std::size_t kMaxCandidates = 256;
  static constexpr std::uint64_t kIdleDatagrams = 4096;

  // What one datagram did.
  struct tOutcome {
    bool fRefused = false;    // does not fit the file it names, or the file cannot start
    bool fRedundant = false;  // for a complete group, a duplicate, or a finished file
    bool fStarted = false;    // started its file
    bool fComplete = false;   // TakeDatagram: completed its file, which waits for FinishFile
    bool fFinished = false;   // completed its file; dwError tells whether it was restored
    DWORD dwError = 0;        // a file that failed (start, write or restore)
    DWORD dwFileId = 0;
    DWORD dwTotalLen = 0;
    DWORD dwDecoded = 0;  // data blocks rebuilt when the file finished
    CPelagoFile file;     // the restored record when finished without error
  };

  explicit CRecvFiles(const std::string& saveDir);
  ~CRecvFiles();
  CRecvFiles(const CRecvFiles&) = delete;
  CRecvFiles& operator=(const CRecvFiles&) = delete;

  // Takes one datagram of dwLen payload bytes. REQUIRES: every datagram of a
  // session has the same payload length (the packet thread sees to it).
  // A file it completes is restored at once.
  tOutcome OnDatagram(const tPacketHeader& header, const BYTE* pPayload, DWORD dwLen);
  // The same in steps: TakeDatagram only takes the payload (fComplete tells
  // that the file is whole), FlushWrites writes what was taken and
  // FinishFile then decodes, checks and restores the file, so that the
  // caller can let go of the datagram's buffer before any of it. A complete
  // file keeps its place until it is finished.
  tOutcome TakeDatagram(const tPacketHeader& header, const BYTE* pPayload, DWORD dwLen);
  // pump: see CRecvFile::Finish; it may call TakeDatagram.
  tOutcome FinishFile(DWORD dwFileId, const std::function<void()>& pump = {});
  // Writes what TakeDatagram staged, for each file once its staging buffer
  // is half full, or all of it with fAll. 0, or the first error, with the
  // file that failed in *pdwFileId; a file that fails is given up.
  DWORD FlushWrites(DWORD* pdwFileId, bool fAll = false);

  std::size_t GetActiveFiles() const { return m_Files.size(); }

 private:
  struct tEntry {
    std::unique_ptr<CRecvFile> pFile;
    std::uint64_t qwLastUse;  // m_qwUseCounter at its last datagram
    DWORD dwPayloadLen;       // the payload length it was started with
    DWORD dwSeen;             // datagrams that fitted it, here and before
  };
  struct tCandidate {
    DWORD dwFileId;
    DWORD dwSeen;
  };
  // Counts a datagram of a file id not in the table; returns its count.
  DWORD CountCandidate(DWORD dwFileId);
  // Makes room for a newcomer that has shown dwSeen datagrams; false when
  // every file in the table is making more progress than that.
  bool MakeRoom(DWORD dwSeen);
  bool IsRemembered(const std::deque<DWORD>& ids, DWORD dwFileId) const;
  void Remember(std::deque<DWORD>* pIds, DWORD dwFileId);
  tEntry* Find(DWORD dwFileId);
  void Remove(DWORD dwFileId);

  std::string m_SaveDir;
  DWORD m_dwPayloadLen;                 // learned from the first datagram
  std::vector<tEntry> m_Files;          // files being received
  std::deque<DWORD> m_Done;             // files restored: their datagrams are redundant
  std::deque<DWORD> m_Refused;          // files that could not start (no space)
  std::deque<tCandidate> m_Candidates;  // ids not in the table, oldest first
  std::uint64_t m_qwUseCounter = 0;
};
