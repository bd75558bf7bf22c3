#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Pelago/BlockWriter.h"
#include "platform/File.h"
#include "tests/pelago/PelagoTestUtil.h"

namespace {

std::vector<BYTE> Filled(std::size_t n, BYTE b) { return std::vector<BYTE>(n, b); }

TEST(BlockWriterTest, WritesLandInPlaceAndTheCallerGetsABufferBack) {
  pelago_test::TempDir dir;
  platform::File file;
  ASSERT_EQ(0u, file.Open(dir.Join("blocks"), platform::OpenMode::kCreateAlways));
  CBlockWriter writer;
  std::vector<BYTE> buf = Filled(4096, 'a');
  ASSERT_EQ(0u, writer.Write(&file, 0, &buf, 4096));
  ASSERT_EQ(4096u, buf.size());  // another buffer, the same size
  buf.assign(4096, 'b');
  ASSERT_EQ(0u, writer.Write(&file, 4096, &buf, 1024));  // only what is asked
  buf.assign(4096, 'c');
  ASSERT_EQ(0u, writer.Write(&file, 5120, &buf, 2048));
  ASSERT_EQ(0u, writer.Wait());
  file.Close();
  EXPECT_EQ(std::string(4096, 'a') + std::string(1024, 'b') + std::string(2048, 'c'),
            dir.Read("blocks"));
}

TEST(BlockWriterTest, AFailedWriteIsReportedOnceByTheNextCall) {
  pelago_test::TempDir dir;
  const std::string path = dir.Write("ro", "x");
  platform::File file;
  ASSERT_EQ(0u, file.Open(path, platform::OpenMode::kRead));
  CBlockWriter writer;
  std::vector<BYTE> buf = Filled(512, 'z');
  EXPECT_EQ(0u, writer.Write(&file, 0, &buf, 512));  // its own error comes later
  EXPECT_NE(0u, writer.Wait());
  EXPECT_EQ(0u, writer.Wait());  // once only
  EXPECT_EQ(0u, writer.Write(&file, 0, &buf, 512));
  EXPECT_NE(0u, writer.Write(&file, 0, &buf, 512));  // the one before failed
  EXPECT_NE(0u, writer.Wait());
}

// Destroyed with a write in flight: it waits for it.
TEST(BlockWriterTest, DestructionWaitsForTheWriteInFlight) {
  pelago_test::TempDir dir;
  platform::File file;
  ASSERT_EQ(0u, file.Open(dir.Join("big"), platform::OpenMode::kCreateAlways));
  {
    CBlockWriter writer;
    std::vector<BYTE> buf = Filled(8 << 20, 'q');
    ASSERT_EQ(0u, writer.Write(&file, 0, &buf, buf.size()));
  }
  std::uint64_t size = 0;
  ASSERT_EQ(0u, file.Size(&size));
  EXPECT_EQ(std::uint64_t{8} << 20, size);
}

}  // namespace
