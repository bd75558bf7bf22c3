// A recording stand-in for the automation object, linked into the engines'
// tests in place of the real one: every call the engines make is logged as
// one line ("GoTo 3 1", "SetScreen 2", "Quit", ...), and slides inserted
// through the defragmenter are kept with their bytes.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/Win32Types.h"

namespace fake_coa {

struct tInserted {
  DWORD dwSlide;
  std::string sBytes;  // the extracted slide file's contents
};

// The calls so far, oldest first.
std::vector<std::string> Calls();
// Calls whose line starts with sPrefix.
std::vector<std::string> CallsStartingWith(const std::string& sPrefix);
std::vector<tInserted> Inserted();
// Forgets the calls and insertions, installs the recording slide inserter,
// and makes OpenMaster answer dwOpenMasterResult.
void Reset(DWORD dwOpenMasterResult = 0);

}  // namespace fake_coa
