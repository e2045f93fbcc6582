// Entries are gathered in the text buffer and written in pieces as it fills;
// whatever the record length, the bytes must be those of the entry written
// element by element.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dump/crc32.h"
#include "dump/dump_writer.h"
#include "tests/fixture/fixture_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class Prefix { None, Length, DecimalCrc, HexCrc };

struct Format {
  bool console;
  int number;  // '1'..'4' for the console, 1..6 for the wizard
  Prefix prefix;
  bool hex;
};

constexpr Format kFormats[] = {
    {true, '1', Prefix::Length, false},  {true, '2', Prefix::None, false},
    {true, '3', Prefix::HexCrc, true},   {true, '4', Prefix::None, true},
    {false, 1, Prefix::None, false},     {false, 2, Prefix::Length, false},
    {false, 3, Prefix::DecimalCrc, false}, {false, 4, Prefix::None, true},
    {false, 5, Prefix::Length, true},    {false, 6, Prefix::HexCrc, true},
};

// The entry element by element, with printf for the numbers and the digits.
Bytes Reference(const Format& format, const Bytes& record) {
  std::string text;
  char number[16];
  const uint32_t length = static_cast<uint32_t>(record.size());
  const uint32_t crc = Crc32(length, record.empty() ? nullptr : record.data());
  switch (format.prefix) {
    case Prefix::None: break;
    case Prefix::Length: snprintf(number, sizeof number, "%u,", length); text += number; break;
    case Prefix::DecimalCrc: snprintf(number, sizeof number, "%u,", crc); text += number; break;
    case Prefix::HexCrc: snprintf(number, sizeof number, "%02x:", crc); text += number; break;
  }
  Bytes entry(text.begin(), text.end());
  for (uint8_t b : record) {
    if (format.hex) {
      snprintf(number, sizeof number, "%02x", b);
      entry.push_back(static_cast<uint8_t>(number[0]));
      entry.push_back(static_cast<uint8_t>(number[1]));
    } else {
      entry.push_back(b);
    }
  }
  entry.push_back(0x0D);
  entry.push_back(0x0A);
  return entry;
}

// Writes `records` one after the other in `format` into a real file; the
// console writer gathers whole entries in blocks of `blockSize` (0: none).
Bytes Written(const Format& format, const std::vector<Bytes>& records, size_t blockSize = 0) {
  fixture::ScopedTempFile file({}, ".dump");
  FILE* stream = fopen(file.path().c_str(), "wb");
  EXPECT_NE(stream, nullptr);
  if (stream == nullptr) return {};
  std::vector<char> text(std::max(blockSize, kDumpTextBufferSize));
  DumpOutput output = {stream, text.data(), static_cast<char>(format.number), blockSize};
  for (const Bytes& record : records) {
    const uint32_t length = static_cast<uint32_t>(record.size());
    const uint8_t* bytes = record.empty() ? nullptr : record.data();
    if (format.console) {
      WriteDumpRecord(&output, length, bytes);
    } else {
      WriteDumpRecord(static_cast<uint8_t>(format.number), length, bytes, stream);
    }
  }
  if (format.console) FlushDumpOutput(&output);
  EXPECT_EQ(fclose(stream), 0);
  return fixture::ReadFileBytes(file.path());
}

Bytes RandomRecord(size_t length, uint32_t* state) {
  Bytes record(length);
  for (uint8_t& b : record) {
    *state = *state * 1103515245u + 12345u;
    b = static_cast<uint8_t>(*state >> 16);
  }
  return record;
}

// --- Lengths around the buffer's size ------------------------------------------

TEST(DumpPiecesTest, EveryFormatAtLengthsAroundTheBufferSize) {
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 12; ++n) lengths.push_back(n);
  // Raw data fills the buffer near its size, hex digits near half of it;
  // prefixes of 1 to 11 characters shift both.
  for (size_t n = 495; n <= 530; ++n) lengths.push_back(n);
  for (size_t n = 1005; n <= 1040; ++n) lengths.push_back(n);
  for (size_t n : {2043u, 2044u, 2045u, 4096u, 64000u}) lengths.push_back(n);

  const uint32_t seed = 20261207;
  uint32_t state = seed;
  std::vector<Bytes> records;
  for (size_t n : lengths) records.push_back(RandomRecord(n, &state));

  for (const Format& format : kFormats) {
    SCOPED_TRACE(testing::Message() << (format.console ? "console '" : "wizard ")
                                    << (format.console ? static_cast<char>(format.number) : ' ')
                                    << (format.console ? 0 : format.number) << ", seed " << seed);
    // All records in one run: each entry as written alone, and the buffer
    // carries nothing over from one entry to the next.
    Bytes expected;
    std::vector<size_t> ends;
    for (const Bytes& record : records) {
      const Bytes one = Reference(format, record);
      expected.insert(expected.end(), one.begin(), one.end());
      ends.push_back(expected.size());
    }
    // The console writer also gathers whole entries in blocks: of the
    // buffer's size, and of an odd size three times as large.
    for (size_t blockSize : {size_t{0}, kDumpTextBufferSize, 3 * kDumpTextBufferSize + 5}) {
      if (!format.console && blockSize > 0) continue;
      SCOPED_TRACE(blockSize);
      const Bytes written = Written(format, records, blockSize);
      size_t same = 0;
      while (same < written.size() && same < expected.size() && written[same] == expected[same]) {
        ++same;
      }
      size_t entry = 0;
      while (entry < ends.size() && ends[entry] <= same) ++entry;
      EXPECT_EQ(written.size(), expected.size());
      EXPECT_EQ(same, expected.size())
          << "first wrong byte in the entry of the record of length "
          << (entry < records.size() ? records[entry].size() : 0);
    }
  }
}

// --- Every short length, and the buffer's edges for the hex text ---------------

// Short lengths take every tail of the SIMD hex encoder behind every prefix;
// those near half the buffer and the whole of it split the hex text (and the
// raw data) into pieces.
TEST(DumpPiecesTest, EveryFormatAtEveryShortLengthAndAtTheBufferEdges) {
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 1500; ++n) lengths.push_back(n);
  for (size_t edge : {kDumpTextBufferSize / 2, kDumpTextBufferSize}) {
    for (size_t n = edge - 16; n <= edge + 4; ++n) lengths.push_back(n);
  }
  const uint32_t seed = 20261208;
  uint32_t state = seed;
  std::vector<Bytes> records;
  for (size_t n : lengths) records.push_back(RandomRecord(n, &state));

  for (const Format& format : kFormats) {
    const std::string name = format.console ? std::string("console '") + static_cast<char>(format.number) + "'"
                                            : "wizard " + std::to_string(format.number);
    // One file per format, checked entry by entry to name the record.
    const Bytes written = Written(format, records);
    size_t at = 0;
    for (const Bytes& record : records) {
      const Bytes one = Reference(format, record);
      ASSERT_TRUE(written.size() >= at + one.size() &&
                  std::equal(one.begin(), one.end(), written.begin() + at))
          << name << ", record of length " << record.size() << ", seed " << seed;
      at += one.size();
    }
    EXPECT_EQ(written.size(), at) << name;
  }
}

// --- Records that lie one after another, written by one call -------------------

// The slots of a page, `stride` bytes apart, written as runs: the bytes must
// be those of one WriteDumpRecord call per record, where a run ends inside a
// block, fills it to the byte, or crosses into the next, in every console
// format (the raw and hex ones gather whole entries, the others go by pieces).
TEST(DumpPiecesTest, RunsOfSlotsWriteWhatOneCallPerRecordWrites) {
  uint32_t state = 20261211;
  const size_t blockSize = kDumpTextBufferSize;
  for (const Format& format : kFormats) {
    if (!format.console) continue;
    for (uint32_t length : {0u, 1u, 100u, 4094u}) {
      const uint32_t stride = length + 7;
      const uint32_t count = static_cast<uint32_t>(3 * blockSize / (length + 2) + 5);
      const Bytes page = RandomRecord(static_cast<size_t>(stride) * count, &state);
      std::vector<Bytes> records;
      for (uint32_t i = 0; i < count; ++i) {
        records.emplace_back(page.begin() + i * stride, page.begin() + i * stride + length);
      }
      fixture::ScopedTempFile file({}, ".dump");
      FILE* stream = fopen(file.path().c_str(), "wb");
      ASSERT_NE(stream, nullptr);
      std::vector<char> text(blockSize);
      DumpOutput output = {stream, text.data(), static_cast<char>(format.number), blockSize};
      // Runs of 1, 2, 3, ... records; the last takes what is left.
      for (uint32_t first = 0, run = 1; first < count; first += run, ++run) {
        run = std::min(run, count - first);
        WriteDumpRecords(&output, length, page.data() + first * stride, stride, run);
      }
      FlushDumpOutput(&output);
      ASSERT_EQ(fclose(stream), 0);
      EXPECT_EQ(fixture::ReadFileBytes(file.path()), Written(format, records, blockSize))
          << "console '" << static_cast<char>(format.number) << "', length " << length;
    }
  }
}

}  // namespace
