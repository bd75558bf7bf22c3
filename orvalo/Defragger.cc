#include "orvalo/Defragger.h"

#include <string>

#include "ErrStuff/DebugTrace.h"
#include "orvalo/Cabinet.h"
#include "orvalo/SlideInserter.h"
#include "orvalo/SlidePacket.h"
#include "platform/DebugOutput.h"

BOOL CFileDefragger::AddPacket(const void* pPacket, DWORD dwLen) {
  if (!ORV_ASSERT(pPacket != NULL) || !ORV_ASSERT(dwLen > 0)) return FALSE;
  const tSlidePacketHeader* pSlidePacket = tSlidePacketHeader::Of(pPacket);
  if (dwLen <= sizeof(tSlidePacketHeader)) return FALSE;
  if (pSlidePacket->Header.GetType() != orvalo::kPacketTypeFileData) return FALSE;
  if (!ORV_ASSERT(!m_fComplete)) return FALSE;
  if (m_fTooBig) return FALSE;
  if (m_dwPackets == 0) {
    if (!ORV_ASSERT(pSlidePacket->Header.IsFirst())) return FALSE;
    if (!ORV_ASSERT(pSlidePacket->GetFileSlide() > 0)) return FALSE;
    if (!m_file.Create()) return FALSE;
    m_dwSlide = pSlidePacket->GetFileSlide();
  } else if (!ORV_ASSERT(m_dwSlide == pSlidePacket->GetFileSlide()) ||
             !ORV_ASSERT(!pSlidePacket->Header.IsFirst())) {
    return FALSE;
  }
  const DWORD cbData = dwLen - DWORD{sizeof(tSlidePacketHeader)};
  if (m_cbWritten + cbData > m_cbMaxItem) {
    DebugTrace("CFileDefragger::AddPacket - slide %lu exceeds %llu bytes, dropped\n",
               static_cast<unsigned long>(m_dwSlide), static_cast<unsigned long long>(m_cbMaxItem));
    m_fTooBig = TRUE;
    m_file.Delete();
    return FALSE;
  }
  platform::File* pFile = m_file.GetHandle();
  const BYTE* pData = static_cast<const BYTE*>(pPacket) + sizeof(tSlidePacketHeader);
  if (pFile == nullptr || pFile->Write(pData, cbData) != ERROR_SUCCESS) {
    DebugTrace("CFileDefragger::AddPacket - error on writing to file\n");
    return FALSE;
  }
  m_cbWritten += cbData;
  ++m_dwPackets;
  if (pSlidePacket->Header.IsMore()) return TRUE;
  m_fComplete = TRUE;
  m_file.Close();
  return TRUE;
}

BOOL CFileDefragger::Complete() {
  if (!ORV_ASSERT(m_fComplete)) return FALSE;
  DebugTrace("Got a complete file - inserting in presentation\n");
  char szSlideFile[MAX_PATH + 1];
  if (!SlideFileName(m_dwSlide, szSlideFile)) return TRUE;
  const std::string name = platform::BaseName(szSlideFile);
  char szOutPath[MAX_PATH + 1];
  if (orvalo::Extract(m_file.GetPath(), nullptr, szOutPath, name.c_str())) {
    const DWORD dwResult = orvalo::InsertSlideFromFile(szOutPath, m_dwSlide);
    ORV_ASSERT(dwResult == 0);
    m_file.Delete();
    platform::DeleteFile(szOutPath);
  }
  return TRUE;
}
