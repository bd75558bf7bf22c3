// Test helpers: slide-protocol packets as a presenter makes them, and slide
// cabinets in the temporary folder.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "orvalo/Cabinet.h"
#include "orvalo/PtsPacket.h"
#include "orvalo/SlidePacket.h"
#include "orvalo/TempFiles.h"
#include "platform/File.h"

namespace engines_test {

using Bytes = std::vector<BYTE>;

struct tShow {
  DWORD dwSlide = 1;
  DWORD dwTime = 1;
  WORD wStep = 0;
  DWORD dwScreen = 3;
  BOOL fDone = FALSE;
};

inline void StampHeader(const tShow& show, DWORD dwType, const char* szTag, BOOL fFirst, BOOL fMore,
                        BYTE* p) {
  tPacketHeader* h = tPacketHeader::Of(p);
  h->Clear();
  h->SetTag(szTag);
  h->SetType(dwType);
  h->SetFirst(fFirst);
  h->SetMore(fMore);
  tSlideInfo info{.dwScreenState = show.dwScreen & 0xF,
                  .dwSlide = show.dwSlide,
                  .dwTime = show.dwTime,
                  .wStep = show.wStep,
                  .fDone = show.fDone ? 1u : 0u};
  PackSlideInfo(info, h);
}

inline Bytes StatePacket(const tShow& show) {
  Bytes p(tPacketHeader::kSize);
  StampHeader(show, orvalo::kPacketTypeState, orvalo::kTagHeartbeat, TRUE, FALSE, p.data());
  return p;
}

inline Bytes FilePacket(const tShow& show, DWORD dwFileSlide, BOOL fFirst, BOOL fMore,
                        const std::string& data) {
  Bytes p(tSlidePacketHeader::kSize + data.size());
  StampHeader(show, orvalo::kPacketTypeFileData, orvalo::kTagFileData, fFirst, fMore, p.data());
  tSlidePacketHeader::Of(p.data())->SetFileSlide(dwFileSlide);
  std::copy(data.begin(), data.end(), p.begin() + tSlidePacketHeader::kSize);
  return p;
}

inline Bytes PointsPacket(const tShow& show, DWORD dwColor, const std::vector<tPtsPoint>& points) {
  Bytes p(tPtsPacketHeader::kSize + tPtsPacketHeader::kPointSize * points.size());
  {
    CPtsPacket view(static_cast<void*>(p.data()), static_cast<DWORD>(p.size()));
    view.SetColor(dwColor);
    for (const tPtsPoint& pt : points) view.AddPoint(pt.x, pt.y);
  }
  StampHeader(show, orvalo::kPacketTypePoints, orvalo::kTagPoints, TRUE, FALSE, p.data());
  return p;
}

// Slide n's cabinet holding `contents`, written to its fixed name in the
// temporary folder; the slide file itself is removed again. Returns the
// cabinet's bytes.
inline std::string MakeSlideCabinet(DWORD dwSlide, const std::string& contents,
                                    bool fKeepCabinet = true) {
  char szFile[MAX_PATH + 1], szCab[MAX_PATH + 1];
  SlideFileName(dwSlide, szFile);
  SlideCabName(dwSlide, szCab);
  platform::WriteWholeFile(szFile, contents.data(), contents.size());
  orvalo::Compress(szFile);
  std::string cab;
  platform::ReadWholeFile(szCab, &cab);
  platform::DeleteFile(szFile);
  if (!fKeepCabinet) platform::DeleteFile(szCab);
  return cab;
}

// The master's cabinet holding `contents` at its fixed name.
inline void MakeMasterCabinet(const std::string& contents) {
  char szFile[MAX_PATH + 1];
  MasterFileName(szFile);
  platform::WriteWholeFile(szFile, contents.data(), contents.size());
  orvalo::Compress(szFile);
  platform::DeleteFile(szFile);
}

// Cuts `cab` into n slices of about equal size.
inline std::vector<std::string> Slices(const std::string& cab, size_t n) {
  std::vector<std::string> out;
  const size_t nEach = (cab.size() + n - 1) / n;
  for (size_t i = 0; i < n; ++i) out.push_back(cab.substr(std::min(cab.size(), i * nEach), nEach));
  return out;
}

}  // namespace engines_test
