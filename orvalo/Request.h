// Data requests of a presenter channel's send queue: a pen stroke
// (CPtsRequest) or a slide's cabinet file (CFileRequest), each cut into
// slide-protocol packets on demand.
#pragma once

#include <deque>
#include <memory>

#include "orvalo/PtsPacket.h"
#include "platform/File.h"
#include "platform/Win32Types.h"

class CRequest {
 public:
  virtual ~CRequest() = default;
  // Fills pPacket (dwMaxLen bytes) with this request's next packet. TRUE on
  // success, with *pdwLen the bytes used (0: nothing to send) and *pfMore TRUE
  // while more is to come. FALSE when the request cannot go on.
  virtual BOOL GetNextPacket(BYTE* pPacket, DWORD dwMaxLen, DWORD* pdwLen, BOOL* pfMore) = 0;
  // A new copy, or null when memory or resources run out.
  virtual std::unique_ptr<CRequest> Clone() const = 0;
  virtual DWORD GetSlide() const = 0;
  // 0-100, or -1 when the request does not report progress.
  virtual int PercentSent() const { return -1; }

 protected:
  CRequest() = default;
  CRequest(const CRequest&) = default;
  CRequest& operator=(const CRequest&) = default;
};

// One pen stroke. Every packet is a whole item; consecutive packets of one
// stroke share their joining point, so the audience draws an unbroken line.
class CPtsRequest : public CRequest {
 public:
  CPtsRequest() = default;

  BOOL GetNextPacket(BYTE* pPacket, DWORD dwMaxLen, DWORD* pdwLen, BOOL* pfMore) override;
  std::unique_ptr<CRequest> Clone() const override;
  DWORD GetSlide() const override { return m_dwSlide; }

  // FALSE only when memory runs out.
  BOOL AddPoint(float x, float y);
  void ClearPoints() { m_Points.clear(); }
  void SetColor(DWORD dwColor) { m_dwColor = dwColor; }
  void SetSlide(DWORD dwSlide) { m_dwSlide = dwSlide; }
  std::size_t GetNumPoints() const { return m_Points.size(); }

 private:
  DWORD m_dwColor = 0;
  std::deque<tPtsPoint> m_Points;
  DWORD m_dwSlide = 0;
};

// One slide's cabinet file (its fixed temporary name), sent in slices behind
// a 40-byte slide-file header. The file is opened at the first packet and
// stays open until the request goes.
class CFileRequest : public CRequest {
 public:
  CFileRequest() = default;

  BOOL GetNextPacket(BYTE* pPacket, DWORD dwMaxLen, DWORD* pdwLen, BOOL* pfMore) override;
  std::unique_ptr<CRequest> Clone() const override;
  DWORD GetSlide() const override { return m_dwSlide; }
  // 100 - the percentage still to send; -1 before the size is known.
  int PercentSent() const override;

  // Takes slide n's cabinet file; FALSE when there is no such file.
  BOOL SetSlide(DWORD dwSlide);
  const char* GetFileName() const { return m_szFileName; }

 private:
  BOOL Start();

  platform::File m_file;
  char m_szFileName[MAX_PATH + 1] = {};
  DWORD m_dwSlide = 0;
  BOOL m_fStarted = FALSE;
  DWORD m_dwRemaining = 0;
  DWORD m_dwTotal = 0;
};
