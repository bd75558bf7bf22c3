#include "tests/korin_receiver/KorinLab.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>

#include "korin/EpochSender.h"
#include "korin/KORINreceiver.h"
#include "korin/Wire.h"
#include "mcast/Multicast.h"
#include "platform/Thread.h"
#include "platform/Tick.h"
#include "tests/lab/Lab.h"

namespace korin_lab {
namespace {

constexpr char kStale[] = "STALE!";
constexpr char kForged[] = "FORGED";
constexpr char kHeartbeat[] = "hb";
constexpr DWORD kHeartbeatMs = 50;
constexpr int kLaterEpochs = 4;

struct Setup {
  explicit Setup(const Params& p)
      : sGroup(p("group")),
        wPort(static_cast<WORD>(std::stoul(p("port")))),
        sSync(p("sync")),
        nReceivers(std::stoi(p("receivers"))),
        dwPackets(std::stoul(p("packets"))),
        dwEpochPackets(std::stoul(p("epochpackets"))),
        dwTimeoutMs(std::stoul(p("timeoutms"))),
        fMonitor(p("monitor") == "1"),
        fForger(!p("forgeries").empty()) {}
  std::string File(const std::string& sName, int i = -1) const {
    return sSync + "/" + sName + (i >= 0 ? "-" + std::to_string(i) : "");
  }
  DWORD Total() const {
    return dwPackets + kLaterEpochs * dwEpochPackets + (fForger ? dwEpochPackets : 0);
  }

  std::string sGroup;
  WORD wPort;
  std::string sSync;
  int nReceivers;
  DWORD dwPackets;
  DWORD dwEpochPackets;
  DWORD dwTimeoutMs;
  bool fMonitor;
  bool fForger;
};

double Number(const Params& p, const char* szName, double dDefault) {
  const std::string s = p(szName);
  return s.empty() ? dDefault : std::stod(s);
}

bool Exists(const std::string& sPath) { return std::filesystem::exists(sPath); }

bool AllExist(const Setup& s, const char* szName) {
  for (int i = 0; i < s.nReceivers; ++i) {
    if (!Exists(s.File(szName, i))) return false;
  }
  return true;
}

// Sends heartbeats until every receiver left the named file, or time runs out.
bool HeartbeatUntil(IReliableSender* pSender, const Setup& s, const char* szName) {
  const DWORD dwStart = GetTickCount();
  while (!AllExist(s, szName)) {
    if (GetTickCount() - dwStart > s.dwTimeoutMs || Exists(s.File("abort"))) return false;
    pSender->SendUnreliable(reinterpret_cast<const BYTE*>(kHeartbeat), sizeof kHeartbeat);
    Sleep(kHeartbeatMs);
  }
  return true;
}

std::string SendStream(IReliableSender* pSender, DWORD dwFirst, DWORD dwCount) {
  for (DWORD seq = dwFirst; seq < dwFirst + dwCount; ++seq) {
    std::vector<BYTE> payload = PayloadOf(seq);
    DWORD dwSeq = 0;
    if (pSender->Send(payload.data(), static_cast<DWORD>(payload.size()), &dwSeq, TRUE) <= 0) {
      return "send failed at " + std::to_string(seq);
    }
    if (dwSeq != seq) return "sequence " + std::to_string(dwSeq) + " for " + std::to_string(seq);
  }
  return "";
}

// A reliable packet of an old sequence, sent from another port: it lies below
// the low water and must reach no application.
void InjectStale(const Setup& s, DWORD dwSeq) {
  CMulticast raw;
  if (raw.Open(s.sGroup.c_str(), s.wPort, 4, FALSE) != 0) return;
  std::vector<BYTE> datagram(SRM_HEADER_LEN + sizeof kStale);
  EncodeSRMHeader(MakeDataHeader(TRUE, dwSeq, kK, kK, sizeof kStale), datagram.data());
  std::memcpy(datagram.data() + SRM_HEADER_LEN, kStale, sizeof kStale);
  for (int i = 0; i < 3; ++i) raw.Send(datagram.data(), static_cast<DWORD>(datagram.size()));
}

std::string SenderSteps(CEpochSender* pSender, const Setup& s) {
  for (int i = 0; i < s.nReceivers; ++i) {
    if (!lab::WaitForFile(s.File("ready", i), s.dwTimeoutMs)) return "receiver not ready";
  }
  if (s.fMonitor && !lab::WaitForFile(s.File("ready-mon"), s.dwTimeoutMs)) {
    return "monitor not ready";
  }
  std::printf("SENDER start=%lu\n", static_cast<unsigned long>(GetTickCount()));
  std::fflush(stdout);
  if (!pSender->SetEpoch(CEpochSender::kFirstEpoch, 3)) return "SetEpoch 63";
  std::string sError = SendStream(pSender, kK, s.dwPackets);
  if (!sError.empty()) return sError;
  if (!HeartbeatUntil(pSender, s, "main")) return "receivers did not complete the main stream";
  DWORD dwSeq = kK + s.dwPackets;
  for (int e = 1; e <= kLaterEpochs; ++e) {
    if (!pSender->SetEpoch(CEpochSender::kFirstEpoch + e, 3)) return "SetEpoch";
    sError = SendStream(pSender, dwSeq, s.dwEpochPackets);
    if (!sError.empty()) return sError;
    dwSeq += s.dwEpochPackets;
  }
  InjectStale(s, kK + 1);
  if (!HeartbeatUntil(pSender, s, "done")) return "receivers did not complete";
  if (s.fForger) {
    // The stream goes on past the end of the spray.
    const DWORD dwStart = GetTickCount();
    while (!Exists(s.File("sprayed")) && GetTickCount() - dwStart < s.dwTimeoutMs) {
      pSender->SendUnreliable(reinterpret_cast<const BYTE*>(kHeartbeat), sizeof kHeartbeat);
      Sleep(kHeartbeatMs);
    }
    if (!Exists(s.File("sprayed"))) return "no spray";
    sError = SendStream(pSender, dwSeq, s.dwEpochPackets);
    if (!sError.empty()) return sError;
    if (!HeartbeatUntil(pSender, s, "after")) return "receivers did not complete after the spray";
  }
  std::printf("SENDER sent=%lu lowwater=%lu\n", static_cast<unsigned long>(s.Total()),
              static_cast<unsigned long>(pSender->GetLowWater()));
  return "";
}

}  // namespace

std::vector<BYTE> PayloadOf(DWORD dwSeq) {
  std::vector<BYTE> payload(1 + (dwSeq * 97) % 1200);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<BYTE>(dwSeq * 13 + i * 7);
  return payload;
}

std::string RunSender(const Params& params) {
  const Setup s(params);
  CEpochSender sender;
  if (!sender.Open(kK, s.sGroup.c_str(), s.wPort, 4,
                   static_cast<DWORD>(Number(params, "holdoff", 4400)))) {
    return "sender Open failed";
  }
  sender.SetDataRate(static_cast<DWORD>(Number(params, "rate", 0)));
  const float fSendLoss = static_cast<float>(Number(params, "sendloss", 0));
  if (fSendLoss > 0 && !sender.GetPortForTesting()->SetSndSimLoss(fSendLoss)) return "loss";
  std::string sError = SenderSteps(&sender, s);
  if (!sError.empty()) lab::TouchFile(s.File("abort"));
  lab::TouchFile(s.File("stop"));
  const auto closeStart = std::chrono::steady_clock::now();
  sender.Close();
  std::printf("SENDER closems=%lld\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - closeStart)
                                         .count()));
  return sError;
}

std::string RunReceiver(const Params& params) {
  const Setup s(params);
  const int nIndex = std::stoi(params("index"));
  CKORINreceiver receiver(static_cast<DWORD>(Number(params, "nackmin", 100)),
                          static_cast<DWORD>(Number(params, "nackmax", 4500)), 3);
  if (!receiver.Open(kK, s.sGroup.c_str(), s.wPort, 4)) return "receiver Open failed";
  const float fLoss = static_cast<float>(Number(params, "recvloss", 0));
  if (fLoss > 0 && !receiver.GetPort()->SetRcvSimLoss(fLoss)) return "loss";
  const long lReadyRssKb = lab::RssKb();
  lab::TouchFile(s.File("ready", nIndex));

  std::vector<BYTE> buf(receiver.GetMaxPacketSize());
  std::set<DWORD> got;
  DWORD dwMainGot = 0, dwMaxSeen = 0, dwLost = 0, dwRepeats = 0, dwUnreliable = 0;
  DWORD dwLowWater = 0, dwDoneTick = 0;
  bool fMainDone = false;
  const DWORD dwStart = GetTickCount();
  std::string sError;
  // Until everything is there, then on until the sender stops: a stale or
  // foreign packet may still come.
  while (!Exists(s.File("stop")) && sError.empty()) {
    if (GetTickCount() - dwStart > s.dwTimeoutMs) {
      sError = "timed out with " + std::to_string(got.size()) + " of " + std::to_string(s.Total());
      break;
    }
    if (Exists(s.File("abort"))) break;
    if (receiver.Wait(0, 100000) != 1) continue;
    DWORD dwBytes = 0, dwSeq = 0, dwLow = 0;
    BOOL fReliable = FALSE;
    if (receiver.Receive(buf.data(), static_cast<DWORD>(buf.size()), &dwBytes, &dwSeq, &dwLow,
                         &fReliable) != 0) {
      sError = "Receive failed";
      break;
    }
    dwLowWater = std::max(dwLowWater, dwLow);
    const std::vector<BYTE> data(buf.begin(), buf.begin() + std::min<size_t>(dwBytes, buf.size()));
    if (dwBytes == sizeof kStale && std::memcmp(data.data(), kStale, sizeof kStale) == 0) {
      sError = "stale packet " + std::to_string(dwSeq) + " delivered";
    } else if (dwBytes == sizeof kForged &&
               std::memcmp(data.data(), kForged, sizeof kForged) == 0) {
      sError = "forged packet " + std::to_string(dwSeq) + " delivered";
    } else if (!fReliable) {
      ++dwUnreliable;
      dwMaxSeen = std::max(dwMaxSeen, dwSeq);
    } else if (dwSeq < kK || dwSeq >= kK + s.Total()) {
      sError = "foreign sequence " + std::to_string(dwSeq);
    } else if (data != PayloadOf(dwSeq)) {
      sError = "wrong bytes for " + std::to_string(dwSeq);
    } else if (!got.insert(dwSeq).second) {
      ++dwRepeats;
    } else {
      if (dwSeq <= dwMaxSeen) ++dwLost;  // came late: a repair brought it
      dwMaxSeen = std::max(dwMaxSeen, dwSeq);
      if (dwSeq < kK + s.dwPackets) ++dwMainGot;
      if (!fMainDone && dwMainGot == s.dwPackets) {
        fMainDone = true;
        lab::TouchFile(s.File("main", nIndex));
      }
      if (got.size() == s.Total() - (s.fForger ? s.dwEpochPackets : 0) && dwDoneTick == 0) {
        dwDoneTick = GetTickCount();
        lab::TouchFile(s.File("done", nIndex));
      }
      if (s.fForger && got.size() == s.Total()) lab::TouchFile(s.File("after", nIndex));
    }
  }
  const DWORD dwForged = receiver.GetForgedDropped();
  const DWORD dwDropped = receiver.GetPacketsDropped();
  const auto closeStart = std::chrono::steady_clock::now();
  receiver.Close();
  const auto closeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - closeStart);
  const long lGrowthKb = lab::RssKb() - lReadyRssKb;
  std::printf(
      "RECEIVER index=%d got=%zu lost=%lu repeats=%lu unreliable=%lu lowwater=%lu "
      "done=%lu closems=%lld rssgrowthkb=%ld forged=%lu dropped=%lu\n",
      nIndex, got.size(), static_cast<unsigned long>(dwLost), static_cast<unsigned long>(dwRepeats),
      static_cast<unsigned long>(dwUnreliable), static_cast<unsigned long>(dwLowWater),
      static_cast<unsigned long>(dwDoneTick), static_cast<long long>(closeMs.count()), lGrowthKb,
      static_cast<unsigned long>(dwForged), static_cast<unsigned long>(dwDropped));
  if (sError.empty() && got.size() != s.Total()) sError = "incomplete";
  if (!sError.empty()) lab::TouchFile(s.File("abort"));
  return sError;
}

std::string RunMonitor(const Params& params) {
  const Setup s(params);
  CMulticast port;
  if (port.Open(s.sGroup.c_str(), s.wPort, 4, FALSE) != 0) return "monitor Open failed";
  std::vector<BYTE> buf(port.GetMaxRcvLen());
  lab::TouchFile(s.File("ready-mon"));
  std::set<DWORD> originals;
  DWORD dwRepairs = 0, dwUnreliable = 0, dwNACKs = 0, dwRanges = 0, dwDatagrams = 0;
  const DWORD dwStart = GetTickCount();
  while (!Exists(s.File("stop")) && GetTickCount() - dwStart < s.dwTimeoutMs) {
    BOOL fRead = FALSE, fWrite = FALSE;
    if (port.Select(0, 100000, &fRead, &fWrite, TRUE, FALSE) <= 0 || !fRead) continue;
    const int nBytes = port.Recv(buf.data(), static_cast<long>(buf.size()));
    if (nBytes <= 0) continue;
    ++dwDatagrams;
    tSRMHeader header;
    if (nBytes >= static_cast<int>(NACK_RANGES_OFFSET) && (buf[0] & 3) == KORIN_TYPE_NACK) {
      ++dwNACKs;
      dwRanges += buf[NACK_HEADER_LEN];
    } else if (CheckDataPacket(buf.data(), nBytes, &header) == KorinCheck::Ok) {
      if (nBytes == static_cast<int>(SRM_HEADER_LEN + sizeof kStale) &&
          std::memcmp(buf.data() + SRM_HEADER_LEN, kStale, sizeof kStale) == 0) {
        continue;  // the injected stale packet is not the sender's
      }
      if (!header.fReliable) {
        ++dwUnreliable;
      } else if (header.Index >= kK || !originals.insert(header.Sequence).second) {
        ++dwRepairs;
      }
    }
  }
  DWORD dwLost = 0;
  std::set<DWORD> lostKeys;
  for (DWORD seq = kK; seq < kK + s.Total(); ++seq) {
    if (!originals.count(seq)) {
      ++dwLost;
      lostKeys.insert(SEQ_TO_KEY(seq, kK));
    }
  }
  std::printf("MONITOR datagrams=%lu originals=%zu unsent=%lu unsentkeys=%zu repairs=%lu "
              "unreliable=%lu nacks=%lu nackranges=%lu\n",
              static_cast<unsigned long>(dwDatagrams), originals.size(),
              static_cast<unsigned long>(dwLost), lostKeys.size(),
              static_cast<unsigned long>(dwRepairs), static_cast<unsigned long>(dwUnreliable),
              static_cast<unsigned long>(dwNACKs), static_cast<unsigned long>(dwRanges));
  return "";
}

namespace {

// A copy of a heard source packet, changed so that no sender would send it.
std::vector<BYTE> Mutated(std::vector<BYTE> datagram, std::mt19937* pRng) {
  tSRMHeader header;
  DecodeSRMHeader(datagram.data(), &header);
  const DWORD dwPayload = static_cast<DWORD>(datagram.size()) - SRM_HEADER_LEN;
  switch ((*pRng)() % 7) {
    case 0:
      header.Key ^= DWORD{1} << (8 + (*pRng)() % 20);
      break;
    case 1:
      header.Index = static_cast<BYTE>((header.Index + 1 + (*pRng)() % (kK - 1)) % kK);
      break;
    case 2:
      header.PayloadLen = static_cast<WORD>(header.PayloadLen + 1 + (*pRng)() % 100);
      break;
    case 3:
      datagram.resize(dwPayload >= 2 ? SRM_HEADER_LEN + dwPayload / 2 : (*pRng)() % 19);
      break;
    case 4:
      header.LowWater |= 1;
      break;
    case 5:
      header.LowWater = SEQ_TO_KEY(header.Sequence + 8, kK);
      break;
    default:
      header.type = static_cast<BYTE>((*pRng)() % 2 == 0 ? 0 : 3);
      break;
  }
  if (datagram.size() >= SRM_HEADER_LEN) EncodeSRMHeader(header, datagram.data());
  return datagram;
}

std::vector<BYTE> Forgery(DWORD i, const std::vector<BYTE>& heard, std::mt19937* pRng) {
  if (i % 4 == 0) {  // progress far ahead, self-consistent
    const DWORD dwSeq = 0xFFFFFF00u + i % 64;
    std::vector<BYTE> datagram(SRM_HEADER_LEN + sizeof kForged);
    EncodeSRMHeader(MakeDataHeader(i % 8 == 0, dwSeq, kK, SEQ_TO_KEY(dwSeq, kK), sizeof kForged),
                    datagram.data());
    std::memcpy(datagram.data() + SRM_HEADER_LEN, kForged, sizeof kForged);
    return datagram;
  }
  if (i % 4 == 1 && !heard.empty()) return Mutated(heard, pRng);
  if (i % 64 == 3) {  // a NACK asking for everything
    tNACKPacket nack;
    nack.bNumRanges = 1;
    nack.Ranges[0] = {{kK, kK}, {0xFFFFFFF0u, kK}};
    std::vector<BYTE> datagram(NACK_PACKET_MAX_LEN);
    datagram.resize(EncodeNACKPacket(nack, datagram.data(), datagram.size()));
    return datagram;
  }
  std::vector<BYTE> datagram(1 + (*pRng)() % 1400);
  for (BYTE& b : datagram) b = static_cast<BYTE>((*pRng)());
  if (datagram.size() >= 4 && (*pRng)() % 2 == 0) {  // past the cookie check
    const BYTE abData[4] = {static_cast<BYTE>((*pRng)() % 2 == 0 ? 0x06 : 0x01), 0x4E, 0xCF, 0x20};
    std::memcpy(datagram.data(), abData, 4);
  }
  return datagram;
}

}  // namespace

std::string RunForger(const Params& params) {
  const Setup s(params);
  const DWORD dwForgeries = std::stoul(params("forgeries"));
  CMulticast port;
  if (port.Open(s.sGroup.c_str(), s.wPort, 4, FALSE) != 0) return "forger Open failed";
  for (int i = 0; i < s.nReceivers; ++i) {
    if (!lab::WaitForFile(s.File("ready", i), s.dwTimeoutMs)) return "receiver not ready";
  }
  std::mt19937 rng(0x4B6F72);
  std::vector<BYTE> buf(port.GetMaxRcvLen());
  std::vector<BYTE> heard;  // the last source packet heard
  DWORD dwHeard = 0;
  auto listen = [&](long lUsec) {
    BOOL fRead = FALSE, fWrite = FALSE;
    if (port.Select(0, lUsec, &fRead, &fWrite, TRUE, FALSE) <= 0 || !fRead) return;
    const int nBytes = port.Recv(buf.data(), static_cast<long>(buf.size()));
    tSRMHeader header;
    if (nBytes > 0 && CheckDataPacket(buf.data(), nBytes, &header) == KorinCheck::Ok &&
        header.type == KORIN_TYPE_DATA && header.Index < kK) {
      heard.assign(buf.begin(), buf.begin() + nBytes);
      ++dwHeard;
    }
  };
  // The spray falls into a running stream: the receivers know where it is.
  const DWORD dwStart = GetTickCount();
  while (dwHeard < 20 && GetTickCount() - dwStart < s.dwTimeoutMs) listen(100000);
  for (DWORD i = 0; i < dwForgeries; ++i) {
    listen(0);
    std::vector<BYTE> datagram = Forgery(i, heard, &rng);
    port.Send(datagram.data(), static_cast<DWORD>(datagram.size()));
    if (i % 8 == 7) Sleep(1);  // spread over a few seconds
  }
  lab::TouchFile(s.File("sprayed"));
  std::printf("FORGER sent=%lu\n", static_cast<unsigned long>(dwForgeries));
  return "";
}

std::map<std::string, double> Figures(const std::string& sOutput, const char* szTag) {
  std::map<std::string, double> figures;
  std::istringstream lines(sOutput);
  std::string sLine;
  while (std::getline(lines, sLine)) {
    if (sLine.rfind(szTag, 0) != 0) continue;
    std::istringstream words(sLine);
    std::string sWord;
    while (words >> sWord) {
      const size_t nEq = sWord.find('=');
      if (nEq != std::string::npos) figures[sWord.substr(0, nEq)] = std::stod(sWord.substr(nEq + 1));
    }
  }
  return figures;
}

}  // namespace korin_lab
