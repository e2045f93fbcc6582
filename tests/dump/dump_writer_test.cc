#include "dump/dump_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dump/crc32.h"
#include "tests/fixture/fixture_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') { ++i; continue; }
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return bytes;
}

// Runs `write` against a real file opened "wb" and returns what landed in it.
template <typename WriteFn>
Bytes CaptureFile(WriteFn write) {
  fixture::ScopedTempFile file({}, ".dump");
  FILE* stream = fopen(file.path().c_str(), "wb");
  EXPECT_NE(stream, nullptr);
  if (stream == nullptr) return {};
  write(stream);
  EXPECT_EQ(fclose(stream), 0);
  return fixture::ReadFileBytes(file.path());
}

Bytes ConsoleEntry(char format, const Bytes& record) {
  return CaptureFile([&](FILE* stream) {
    char text[kDumpTextBufferSize];
    DumpOutput output = {stream, text, format};
    WriteDumpRecord(&output, static_cast<uint32_t>(record.size()),
                    record.empty() ? nullptr : record.data());
  });
}

Bytes WizardEntry(uint8_t format, const Bytes& record) {
  return CaptureFile([&](FILE* stream) {
    WriteDumpRecord(format, static_cast<uint32_t>(record.size()),
                    record.empty() ? nullptr : record.data(), stream);
  });
}

// Four bytes whose CRC-32 is `target`.  After four bytes the register is a
// bijective function of (preset XOR data), so the data can be found by
// running the table steps backwards.
Bytes BytesWithCrc(uint32_t target) {
  uint32_t table[256];
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[i] = c;
  }
  uint32_t reg = ~target;
  for (int step = 0; step < 4; ++step) {
    // The top byte of the table entries tells the index apart.
    uint32_t index = 0;
    while ((table[index] >> 24) != (reg >> 24)) ++index;
    reg = ((reg ^ table[index]) << 8) | index;
  }
  const uint32_t data = ~reg;
  return {static_cast<uint8_t>(data), static_cast<uint8_t>(data >> 8),
          static_cast<uint8_t>(data >> 16), static_cast<uint8_t>(data >> 24)};
}

// --- The worked example and the empty record, every format -------------------

TEST(DumpWriterTest, WorkedExampleAbc) {
  const Bytes abc = FromText("abc");
  struct Case { char console; uint8_t wizard; const char* hex; };
  const Case cases[] = {
      {'1', 2, "33 2C 61 62 63 0D 0A"},
      {'2', 1, "61 62 63 0D 0A"},
      {'3', 6, "33 35 32 34 34 31 63 32 3A 36 31 36 32 36 33 0D 0A"},
      {'4', 4, "36 31 36 32 36 33 0D 0A"},
      {0, 3, "38 39 31 35 36 38 35 37 38 2C 61 62 63 0D 0A"},
      {0, 5, "33 2C 36 31 36 32 36 33 0D 0A"},
  };
  for (const Case& c : cases) {
    if (c.console != 0) {
      EXPECT_EQ(ConsoleEntry(c.console, abc), FromHex(c.hex)) << "console " << c.console;
    }
    EXPECT_EQ(WizardEntry(c.wizard, abc), FromHex(c.hex)) << "wizard " << int(c.wizard);
  }
}

TEST(DumpWriterTest, EmptyRecordInAllTenFormats) {
  EXPECT_EQ(ConsoleEntry('1', {}), FromHex("30 2C 0D 0A"));
  EXPECT_EQ(ConsoleEntry('2', {}), FromHex("0D 0A"));
  EXPECT_EQ(ConsoleEntry('3', {}), FromHex("30 30 3A 0D 0A"));
  EXPECT_EQ(ConsoleEntry('4', {}), FromHex("0D 0A"));
  EXPECT_EQ(WizardEntry(1, {}), FromHex("0D 0A"));
  EXPECT_EQ(WizardEntry(2, {}), FromHex("30 2C 0D 0A"));
  EXPECT_EQ(WizardEntry(3, {}), FromHex("30 2C 0D 0A"));
  EXPECT_EQ(WizardEntry(4, {}), FromHex("0D 0A"));
  EXPECT_EQ(WizardEntry(5, {}), FromHex("30 2C 0D 0A"));
  EXPECT_EQ(WizardEntry(6, {}), FromHex("30 30 3A 0D 0A"));
}

// --- Widths of the numbers ------------------------------------------------------

TEST(DumpWriterTest, HexCrcHasTwoToEightDigits) {
  struct Case { uint32_t crc; const char* hexPrefix; const char* decimalPrefix; };
  const Case cases[] = {
      {0x0000000A, "0a:", "10,"},
      {0x00000000, "00:", "0,"},
      {0x000000AB, "ab:", "171,"},
      {0x00ABCDEF, "abcdef:", "11259375,"},
      {0xF0000001, "f0000001:", "4026531841,"},
      {0xFFFFFFFF, "ffffffff:", "4294967295,"},
  };
  for (const Case& c : cases) {
    const Bytes record = BytesWithCrc(c.crc);
    ASSERT_EQ(Crc32(4, record.data()), c.crc);
    std::string hexBody;
    for (uint8_t b : record) {
      char two[3];
      snprintf(two, sizeof two, "%02x", b);
      hexBody += two;
    }
    const Bytes hexEntry = FromText(std::string(c.hexPrefix) + hexBody + "\r\n");
    EXPECT_EQ(ConsoleEntry('3', record), hexEntry) << std::hex << c.crc;
    EXPECT_EQ(WizardEntry(6, record), hexEntry) << std::hex << c.crc;

    Bytes rawEntry = FromText(c.decimalPrefix);
    rawEntry.insert(rawEntry.end(), record.begin(), record.end());
    rawEntry.push_back(0x0D);
    rawEntry.push_back(0x0A);
    EXPECT_EQ(WizardEntry(3, record), rawEntry) << std::hex << c.crc;
  }
}

TEST(DumpWriterTest, HexBodyIsTwoLowerCaseDigitsPerByte) {
  Bytes every(256);
  for (int i = 0; i < 256; ++i) every[i] = static_cast<uint8_t>(i);
  std::string expected;
  const char* digits = "0123456789abcdef";
  for (int i = 0; i < 256; ++i) {
    expected += digits[i / 16];
    expected += digits[i % 16];
  }
  EXPECT_EQ(ConsoleEntry('4', every), FromText(expected + "\r\n"));
  EXPECT_EQ(WizardEntry(4, every), FromText(expected + "\r\n"));
  EXPECT_EQ(WizardEntry(5, every), FromText("256," + expected + "\r\n"));
}

TEST(DumpWriterTest, LongRecordLengthIsPlainDecimal) {
  const Bytes record(64000, 0x41);
  const Bytes entry = ConsoleEntry('1', record);
  ASSERT_EQ(entry.size(), 5u + 1 + 64000 + 2);
  EXPECT_EQ(Bytes(entry.begin(), entry.begin() + 6), FromText("64000,"));
  EXPECT_EQ(Bytes(entry.end() - 2, entry.end()), FromHex("0D 0A"));
}

// --- Raw bytes pass unchanged ------------------------------------------------------

TEST(DumpWriterTest, RawFormatsKeepLineEndsCommasAndEofBytes) {
  const Bytes record = FromHex("0D 0A 2C 1A 00 0A 0D 1A");
  Bytes plain = record;
  plain.push_back(0x0D);
  plain.push_back(0x0A);
  Bytes withLength = FromText("8,");
  withLength.insert(withLength.end(), plain.begin(), plain.end());

  EXPECT_EQ(ConsoleEntry('1', record), withLength);
  EXPECT_EQ(ConsoleEntry('2', record), plain);
  EXPECT_EQ(WizardEntry(1, record), plain);
  EXPECT_EQ(WizardEntry(2, record), withLength);
  const std::string crc = std::to_string(Crc32(8, record.data())) + ",";
  Bytes withCrc = FromText(crc);
  withCrc.insert(withCrc.end(), plain.begin(), plain.end());
  EXPECT_EQ(WizardEntry(3, record), withCrc);
}

// --- What writes nothing --------------------------------------------------------------

TEST(DumpWriterTest, FormatOutsideTheRangeWritesNothing) {
  const Bytes abc = FromText("abc");
  for (char format : {'\0', '0', '5', '9', 'a', '\x1A'}) {
    EXPECT_TRUE(ConsoleEntry(format, abc).empty()) << int(format);
  }
  for (int format : {0, 7, 49, 255}) {
    EXPECT_TRUE(WizardEntry(static_cast<uint8_t>(format), abc).empty()) << format;
  }
}

TEST(DumpWriterTest, ConsoleWriterNeedsBothFileAndTextBuffer) {
  const Bytes abc = FromText("abc");
  const Bytes written = CaptureFile([&](FILE* stream) {
    char text[kDumpTextBufferSize];
    DumpOutput noBuffer = {stream, nullptr, '1'};
    WriteDumpRecord(&noBuffer, 3, abc.data());
    WriteDumpTrailer(&noBuffer);
    DumpOutput noFile = {nullptr, text, '1'};
    WriteDumpRecord(&noFile, 3, abc.data());
    WriteDumpTrailer(&noFile);
    WriteDumpRecord(nullptr, 3, abc.data());
    WriteDumpTrailer(nullptr);
    WriteDumpRecord(uint8_t{1}, 3, abc.data(), nullptr);
  });
  EXPECT_TRUE(written.empty());
}

// --- The console trailer -------------------------------------------------------------------

TEST(DumpWriterTest, TrailerOnlyInButilFormats) {
  for (char format : {'1', '2', '3', '4', '7'}) {
    const Bytes written = CaptureFile([&](FILE* stream) {
      char text[kDumpTextBufferSize];
      DumpOutput output = {stream, text, format};
      WriteDumpTrailer(&output);
    });
    if (format == '1' || format == '2') {
      EXPECT_EQ(written, FromHex("1A")) << format;
    } else {
      EXPECT_TRUE(written.empty()) << format;
    }
  }
}

TEST(DumpWriterTest, EntriesFollowEachOtherThenTheTrailer) {
  const Bytes written = CaptureFile([&](FILE* stream) {
    char text[kDumpTextBufferSize];
    DumpOutput output = {stream, text, '1'};
    const Bytes first = FromText("ab");
    const Bytes second = FromText("xyz1234567");
    WriteDumpRecord(&output, 2, first.data());
    WriteDumpRecord(&output, 0, nullptr);
    WriteDumpRecord(&output, 10, second.data());
    WriteDumpTrailer(&output);
  });
  EXPECT_EQ(written, FromText("2,ab\r\n0,\r\n10,xyz1234567\r\n\x1A"));
}

}  // namespace
