// Writes the sample presentation shipped with Powerpnt: five slides, most
// with animation steps (one body line per step).
#include <cstdio>

#include "host/PresentationFile.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample FILE\n");
    return 2;
  }
  host::PresentationContent c;
  c.design = "Orvalo Blue";
  auto add = [&](LONG layout, const char* title, const char* body, LONG steps) {
    host::SlideContent s;
    s.nLayout = layout;
    s.title = title;
    s.body = body;
    s.nSteps = steps;
    c.slides.push_back(s);
  };
  add(1, "A Live Mirror", "One presenter, many screens", 0);
  add(2, "How It Travels",
      "The slide master goes by file carousel\nEach slide follows on the live group\nSteps and "
      "screens ride in every packet",
      3);
  add(2, "Late Joiners", "The carousel never stops\nThe next slide brings them along", 2);
  add(11, "Pen and Screen", "", 0);
  add(2, "Questions", "Black screen: b\nWhite screen: w\nThank you", 3);
  DWORD err = host::WritePresentationFile(argv[1], c);
  if (err != 0) {
    std::fprintf(stderr, "make_sample: cannot write %s (error %u)\n", argv[1],
                 static_cast<unsigned>(err));
    return 1;
  }
  return 0;
}
