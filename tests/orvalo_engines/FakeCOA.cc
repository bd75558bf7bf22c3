#include "tests/orvalo_engines/FakeCOA.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "orvalo/COA.h"
#include "orvalo/PtsPacket.h"
#include "orvalo/SlideInserter.h"

COA g_COA;

namespace fake_coa {
namespace {

struct tState {
  std::mutex mutex;
  std::vector<std::string> calls;   // guarded by mutex
  std::vector<tInserted> inserted;  // guarded by mutex
  DWORD dwOpenMasterResult = 0;     // guarded by mutex
};

tState& State() {
  static tState s_state;
  return s_state;
}

void Log(const std::string& sLine) {
  std::lock_guard<std::mutex> lock(State().mutex);
  State().calls.push_back(sLine);
}

std::string ReadFile(const char* szPath) {
  std::ifstream in(szPath, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

std::vector<std::string> Calls() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().calls;
}

std::vector<std::string> CallsStartingWith(const std::string& sPrefix) {
  std::vector<std::string> matching;
  for (const std::string& s : Calls()) {
    if (s.rfind(sPrefix, 0) == 0) matching.push_back(s);
  }
  return matching;
}

std::vector<tInserted> Inserted() {
  std::lock_guard<std::mutex> lock(State().mutex);
  return State().inserted;
}

void Reset(DWORD dwOpenMasterResult) {
  {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().calls.clear();
    State().inserted.clear();
    State().dwOpenMasterResult = dwOpenMasterResult;
  }
  orvalo::SetSlideInserter([](const char* szFile, DWORD dwSlide) -> DWORD {
    std::string sBytes = ReadFile(szFile);
    Log("AddSlideFromFile " + std::to_string(dwSlide));
    std::lock_guard<std::mutex> lock(State().mutex);
    State().inserted.push_back({dwSlide, std::move(sBytes)});
    return 0;
  });
}

}  // namespace fake_coa

using fake_coa::Log;

COA::COA() = default;
COA::~COA() = default;

BOOL COA::ShowWaitDialog(const char*, const char*, const char*, const char*) {
  Log("ShowWaitDialog");
  return TRUE;
}

DWORD COA::OpenMaster(const char* szFileName) {
  std::string sBytes = fake_coa::ReadFile(szFileName);
  Log("OpenMaster " + sBytes);
  std::lock_guard<std::mutex> lock(fake_coa::State().mutex);
  return fake_coa::State().dwOpenMasterResult;
}

void COA::Cleanup() { Log("Cleanup"); }

DWORD COA::GoTo(int nWhich, int nStep) {
  Log("GoTo " + std::to_string(nWhich) + " " + std::to_string(nStep));
  return 0;
}

DWORD COA::GotoSlide(int nWhich) {
  Log("GotoSlide " + std::to_string(nWhich));
  return 0;
}

DWORD COA::SetScreen(int nState) {
  Log("SetScreen " + std::to_string(nState));
  return 0;
}

DWORD COA::Quit() {
  Log("Quit");
  return 0;
}

DWORD COA::DrawPoints(const CPtsPacket& packet) {
  std::string sLine = "DrawPoints " + std::to_string(packet.GetColor());
  for (DWORD i = 0; i < packet.GetNumPoints(); ++i) {
    tPtsPoint pt{};
    packet.GetPoint(i, &pt);
    char sz[64];
    snprintf(sz, sizeof sz, " %g,%g", pt.x, pt.y);
    sLine += sz;
  }
  Log(sLine);
  return 0;
}
