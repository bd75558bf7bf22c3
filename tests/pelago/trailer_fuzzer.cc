// The trailer parser over arbitrary stream ends: it must stay within the
// bytes it is given and pass only bare names.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Pelago/LittleEndian.h"
#include "Pelago/SendStream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  // The first four bytes choose the stream length; the rest is its end.
  const std::uint64_t qwTotal = pelago::LoadLE32(data);
  std::vector<BYTE> tail(data + 4, data + size);  // exactly as long as given
  CPelagoFile file;
  DWORD dwChecksum = 0, dwMetaLen = 0;
  if (pelago::ParseTrailer(tail.data(), static_cast<DWORD>(tail.size()), qwTotal, &file,
                           &dwChecksum, &dwMetaLen) == pelago::TrailerFault::kNone) {
    const char* szName = file.GetName();
    if (!pelago::IsBareFileName(szName, std::strlen(szName))) std::abort();
    if (dwMetaLen + 8 > tail.size()) std::abort();
  }
  return 0;
}
