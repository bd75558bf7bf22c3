// Helpers of the file carousel's tests: temporary folders, file contents, and
// a sender's datagrams made without a network.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Pelago/PacketHeader.h"
#include "Pelago/PelagoFile.h"
#include "Pelago/PelagoSession.h"
#include "Pelago/SendFile.h"
#include "platform/File.h"

namespace pelago_test {

// A temporary folder, deleted with everything in it.
class TempDir {
 public:
  TempDir() { EXPECT_EQ(0u, platform::CreateTempDirectory("pelago_test", &m_path)); }
  ~TempDir() { platform::DeleteTree(m_path); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return m_path; }
  std::string Join(const std::string& name) const { return platform::JoinPath(m_path, name); }
  std::string Write(const std::string& name, const std::string& contents) const {
    std::string p = Join(name);
    EXPECT_EQ(0u, platform::WriteWholeFile(p, contents.data(), contents.size()));
    return p;
  }
  std::string Read(const std::string& name) const {
    std::string s;
    platform::ReadWholeFile(Join(name), &s);
    return s;
  }

 private:
  std::string m_path;
};

// Deterministic pseudo-random bytes.
inline std::string RandomBytes(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = static_cast<char>(x);
  }
  return s;
}

// One datagram: header and payload.
struct tDatagram {
  tPacketHeader header;
  std::vector<BYTE> payload;
};

// The first nCount datagrams a sender sends for the file at `path`.
inline std::vector<tDatagram> MakeDatagrams(const std::string& path, DWORD dwFileId, int K, int N,
                                            DWORD dwPayloadLen, std::size_t nCount) {
  std::vector<tDatagram> out;
  CPelagoSession session;
  EXPECT_EQ(0, session.SessionInit("239.1.1.1", 5000, 1, 1000000, 7, K, N, dwPayloadLen));
  CPelagoFile record;
  EXPECT_EQ(0u, record.Set(path.c_str()));
  CSendFile sf;
  EXPECT_EQ(0u, sf.Init(&session, &record, dwFileId));
  unsigned long dwRounds = 0;
  for (std::size_t n = 0; n < nCount; ++n) {
    tDatagram d;
    d.header.Clear();
    d.header.SetSourceId(7);
    d.header.SetSeqNo(static_cast<DWORD>(n));
    d.payload.resize(dwPayloadLen);
    EXPECT_EQ(0u, sf.NextPacket(d.payload.data(), dwPayloadLen, &d.header, &dwRounds));
    out.push_back(std::move(d));
  }
  return out;
}

}  // namespace pelago_test

namespace pelago_test {

// A multicast group and port of this process's own, different for every call,
// so that test processes running side by side never hear each other.
struct tGroup {
  std::string sAddr;
  WORD wPort;
};
tGroup NextGroup();

}  // namespace pelago_test
