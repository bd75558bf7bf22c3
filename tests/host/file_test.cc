#include <gtest/gtest.h>

#include "host/PresentationFile.h"

namespace {

host::PresentationContent Sample() {
  host::PresentationContent c;
  c.design = "Ocean\twith \"tabs\"\\";
  c.tags = {{"ReriRudo", "1"}, {"Note", "two\nlines"}};
  c.slides.push_back({2, true, "Agenda", "one\ntwo", 3});
  c.slides.push_back({12, false, "", "", 0});
  return c;
}

TEST(PresentationFileTest, RoundTripsEveryField) {
  host::PresentationContent back;
  ASSERT_EQ(host::ParsePresentation(host::FormatPresentation(Sample()), &back), 0u);
  EXPECT_EQ(back, Sample());

  host::PresentationContent empty;  // a design without slides stays
  empty.design = "Ocean";
  ASSERT_EQ(host::ParsePresentation(host::FormatPresentation(empty), &back), 0u);
  EXPECT_EQ(back, empty);
}

TEST(PresentationFileTest, RefusesTruncatedAndAlteredFiles) {
  const std::string good = host::FormatPresentation(Sample());
  std::vector<std::string> bad = {"", "\n", good + "x", good + "\n", "garbage\nend 8 00000000\n"};
  for (std::size_t n : {std::size_t{1}, good.size() / 2, good.size() - 1, good.size() - 2})
    bad.push_back(good.substr(0, n));
  for (std::size_t at : {std::size_t{0}, std::size_t{30}, good.size() / 2, good.size() - 3}) {
    std::string flipped = good;
    flipped[at] ^= 0x20;
    bad.push_back(flipped);
  }
  for (const std::string& text : bad) {
    host::PresentationContent out = Sample();
    EXPECT_EQ(host::ParsePresentation(text, &out), ERROR_FILE_CORRUPT) << text;
    EXPECT_EQ(out, Sample()) << "untouched on failure";
  }
}

}  // namespace
