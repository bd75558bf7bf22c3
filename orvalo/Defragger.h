// CDefragger and CFileDefragger: the audience's reassembly of one slide-file
// item. The slices of the item are appended to a temporary file; once the
// last is in, the cabinet is extracted and the slide inserted.
#pragma once

#include "orvalo/TempFiles.h"
#include "platform/Win32Types.h"

class CDefragger {
 public:
  virtual ~CDefragger() = default;
  virtual BOOL AddPacket(const void* pPacket, DWORD dwLen) = 0;
  virtual BOOL Complete() = 0;
};

// One item's defragmenter; lives on the presentation's thread only.
class CFileDefragger : public CDefragger {
 public:
  // No slide file is near this size; a peer that sends more is refused, so
  // that an endless item cannot fill the disk.
  static constexpr ULONGLONG kMaxItemBytes = 256ull << 20;

  explicit CFileDefragger(ULONGLONG cbMaxItem = kMaxItemBytes) : m_cbMaxItem(cbMaxItem) {}
  ~CFileDefragger() override = default;  // the temporary file deletes itself

  // Appends the data of one slide-file packet. Packets come from the network:
  // FALSE, with nothing written, for one of 40 bytes or less, of another
  // type, for slide 0, of another slide than the item's first, a first packet
  // without fFirst, or any packet after the item completed. FALSE too when the
  // temporary file cannot be made or written, and for every packet once the
  // item would grow past its maximum size (its temporary file is deleted then).
  BOOL AddPacket(const void* pPacket, DWORD dwLen) override;
  // Extracts the finished cabinet into the temporary folder and inserts its
  // slide file. FALSE before the last slice; TRUE otherwise, also when the
  // cabinet does not extract (nothing is inserted then).
  BOOL Complete() override;

  BOOL IsComplete() const { return m_fComplete; }
  DWORD GetPacketCount() const { return m_dwPackets; }
  DWORD GetSlide() const { return m_dwSlide; }
  const char* GetTempPath() const { return m_file.GetPath(); }

 private:
  const ULONGLONG m_cbMaxItem;
  CTempFile m_file;
  ULONGLONG m_cbWritten = 0;
  BOOL m_fTooBig = FALSE;
  BOOL m_fComplete = FALSE;
  DWORD m_dwPackets = 0;
  DWORD m_dwSlide = 0;
};
