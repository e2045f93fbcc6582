// The block writer's thread writes what it is handed, whole and in order,
// and leaves the stream to the caller once drained.
#include "dump/block_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dump/dump_writer.h"
#include "tests/fixture/fixture_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Fills `size` bytes of `block` with a pattern of the block's number, so a
// block written twice, late or after it was handed back shows in the file.
void Fill(char* block, size_t size, uint32_t number, Bytes* expected) {
  for (size_t i = 0; i < size; ++i) {
    block[i] = static_cast<char>((number * 131 + i * 7) & 0xFF);
    expected->push_back(static_cast<uint8_t>(block[i]));
  }
}

// --- Blocks and the caller's own writes -------------------------------------------

TEST(BlockWriterTest, BlocksArriveWholeAndInOrderWithTheCallersWritesBetween) {
  constexpr size_t kBlockSize = 1000;
  for (size_t blockCount : {size_t{2}, size_t{3}, size_t{8}}) {
    SCOPED_TRACE(blockCount);
    fixture::ScopedTempFile file({}, ".dump");
    FILE* stream = fopen(file.path().c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    setvbuf(stream, nullptr, _IONBF, 0);
    std::vector<char> first(kBlockSize);
    BlockWriter* writer = StartBlockWriter(stream, first.data(), kBlockSize, blockCount);
    ASSERT_NE(writer, nullptr);

    Bytes expected;
    char* block = first.data();
    for (uint32_t n = 0; n < 300; ++n) {
      // Every size from one byte to the whole block, and empty hand-overs.
      const size_t size = n % 7 == 0 ? 0 : 1 + (n * 337) % kBlockSize;
      Fill(block, size, n, &expected);
      char* const next = HandOverBlock(writer, block, size);
      if (size == 0) {
        EXPECT_EQ(next, block);
      }
      block = next;
      if (n % 50 == 49) {
        // Drained: the stream holds every byte handed over, and the caller
        // may write to it between two blocks.
        DrainBlockWriter(writer);
        EXPECT_EQ(fixture::ReadFileBytes(file.path()), expected);
        fwrite("--", 1, 2, stream);
        expected.push_back('-');
        expected.push_back('-');
      }
    }
    Fill(block, kBlockSize, 999, &expected);
    HandOverBlock(writer, block, kBlockSize);
    EXPECT_EQ(StopBlockWriter(writer), first.data());
    EXPECT_EQ(ferror(stream), 0);
    EXPECT_EQ(fclose(stream), 0);
    EXPECT_EQ(fixture::ReadFileBytes(file.path()), expected);
  }
}

// Without a second block, or for a console output that writes each entry at
// once, nothing starts and the caller's thread goes on writing.
TEST(BlockWriterTest, StartsNothingWithoutASecondBlockOrGatheredBlocks) {
  fixture::ScopedTempFile file({}, ".dump");
  FILE* stream = fopen(file.path().c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  std::vector<char> text(kDumpTextBufferSize);
  EXPECT_EQ(StartBlockWriter(stream, text.data(), text.size(), 1), nullptr);
  DumpOutput output = {stream, text.data(), '2'};
  EXPECT_FALSE(StartDumpWriterThread(&output));
  EXPECT_EQ(output.writer, nullptr);
  EXPECT_EQ(fclose(stream), 0);
}

// --- The console writer on a thread ---------------------------------------------

// The dump of a writer thread is byte for byte that of the caller's thread,
// whatever the entries' sizes against the block, and the stream is the
// caller's again after the flush: the trailer follows the last entry.
TEST(BlockWriterTest, ConsoleDumpOnAThreadIsTheSameBytes) {
  Bytes records;
  for (size_t i = 0; i < 70000; ++i) records.push_back(static_cast<uint8_t>(i * 29 + (i >> 8)));
  for (char format : {'1', '2', '3', '4'}) {
    SCOPED_TRACE(format);
    Bytes dumps[2];
    for (int threaded = 0; threaded < 2; ++threaded) {
      fixture::ScopedTempFile file({}, ".dump");
      FILE* stream = fopen(file.path().c_str(), "wb");
      ASSERT_NE(stream, nullptr);
      std::vector<char> text(3 * kDumpTextBufferSize + 5);
      DumpOutput output = {stream, text.data(), format, text.size()};
      if (threaded == 1) {
        ASSERT_TRUE(StartDumpWriterThread(&output));
      }
      // Lengths 0 to 64000, cut from one stream of bytes.
      size_t at = 0;
      for (uint32_t n = 0; at < records.size(); ++n) {
        const uint32_t length = static_cast<uint32_t>(
            std::min<size_t>(records.size() - at, n % 5 == 4 ? 64000 - n : (n * 977) % 9000));
        WriteDumpRecord(&output, length, records.data() + at);
        at += length;
      }
      FlushDumpOutput(&output);
      WriteDumpTrailer(&output);
      StopDumpWriterThread(&output);
      EXPECT_EQ(output.textBuffer, text.data());
      EXPECT_EQ(output.writer, nullptr);
      EXPECT_EQ(fclose(stream), 0);
      dumps[threaded] = fixture::ReadFileBytes(file.path());
    }
    EXPECT_GT(dumps[0].size(), records.size());
    EXPECT_TRUE(dumps[0] == dumps[1]) << "sizes " << dumps[0].size() << " and " << dumps[1].size();
  }
}

#ifndef _WIN32
// A failed write is on the stream's error flag once FlushDumpOutput has
// returned, where the console program looks for it; the run goes on to the
// end as without the thread.
TEST(BlockWriterTest, WriteErrorOfTheThreadIsOnTheStreamAfterTheFlush) {
  FILE* stream = fopen("/dev/full", "wb");
  if (stream == nullptr) GTEST_SKIP() << "no /dev/full";
  setvbuf(stream, nullptr, _IONBF, 0);
  std::vector<char> text(kDumpTextBufferSize);
  DumpOutput output = {stream, text.data(), '2', text.size()};
  ASSERT_TRUE(StartDumpWriterThread(&output));
  const Bytes record(100, 'r');
  for (int i = 0; i < 1000; ++i) WriteDumpRecord(&output, 100, record.data());
  FlushDumpOutput(&output);
  EXPECT_NE(ferror(stream), 0);
  StopDumpWriterThread(&output);
  fclose(stream);
}
#endif

}  // namespace
