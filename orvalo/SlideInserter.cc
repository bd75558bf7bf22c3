#include "orvalo/SlideInserter.h"

#include <utility>

namespace orvalo {
namespace {
// Set at start-up and used on the presentation's thread only: no guard.
SlideInserter& Installed() {
  static SlideInserter s_inserter;
  return s_inserter;
}
}  // namespace

SlideInserter SetSlideInserter(SlideInserter inserter) {
  return std::exchange(Installed(), std::move(inserter));
}

DWORD InsertSlideFromFile(const char* szFile, DWORD dwSlide) {
  const SlideInserter& inserter = Installed();
  return inserter ? inserter(szFile, dwSlide) : 5;
}

}  // namespace orvalo
