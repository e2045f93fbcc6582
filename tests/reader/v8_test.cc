// Versions 0x0800 and 0x0900 as the engine writes them: the control page
// copies, the page allocation tables, slots, free slots, variable tails and
// compressed records, and damaged versions of each.
#include <gtest/gtest.h>

#include <string>

#include "reader/compression.h"
#include "reader/format.h"
#include "tests/fixture/fixture_v8.h"
#include "tests/reader/reader_test_util.h"

using namespace readertest;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// Decodes `stream` in one piece into an area of `capacity` bytes (bytes
// past the area are checked untouched).  Streams cut between fragments are
// decoded through whole files below (V8Compressed).
struct Decoded {
  std::vector<uint8_t> bytes;  // what was written, up to the capacity
  uint64_t produced = 0;
};

Decoded Decode(const std::vector<uint8_t>& stream, uint32_t capacity) {
  std::vector<uint8_t> area(capacity + 8, 0xEE);
  RunLengthDecoder decoder;
  FeedRunLength(&decoder, stream.data(), static_cast<uint32_t>(stream.size()), area.data(),
                capacity);
  for (size_t i = capacity; i < area.size(); ++i) EXPECT_EQ(area[i], 0xEE) << i;
  Decoded d;
  d.produced = decoder.produced;
  const size_t written = d.produced < capacity ? d.produced : capacity;
  d.bytes.assign(area.begin(), area.begin() + written);
  return d;
}

}  // namespace

// --- The run-length stream -----------------------------------------------------

TEST(RunLength, CapacityBoundsTheWritesButNotTheLength) {
  // A run of 65535 from three bytes, into an area of 10.
  const std::vector<uint8_t> stream = {1, 0, 'a', 0xFF, 0xFF, 'b', 1, 0, 'c'};
  const Decoded d = Decode(stream, 10);
  EXPECT_EQ(d.produced, 1u + 65535u + 1u);
  EXPECT_EQ(d.bytes, Bytes("abbbbbbbbb"));
  // Capacity 0 writes nothing and still counts.
  EXPECT_EQ(Decode(stream, 0).produced, 65537u);
}

TEST(RunLength, EmptyBlocksAndStreamsCutShort) {
  // An empty literal block (a record that starts with a run), and an empty
  // run block, which still carries its byte.
  EXPECT_EQ(Decode({0, 0, 3, 0, 'x', 1, 0, 'b'}, 100).bytes, Bytes("xxxb"));
  EXPECT_EQ(Decode({1, 0, 'a', 0, 0, 'z', 1, 0, 'b'}, 100).bytes, Bytes("ab"));
  // A literal cut short gives what is there; a run without its byte, or a
  // count without its high byte, gives nothing more.
  EXPECT_EQ(Decode({5, 0, 'a', 'b'}, 100).bytes, Bytes("ab"));
  EXPECT_EQ(Decode({1, 0, 'a', 9, 0}, 100).bytes, Bytes("a"));
  EXPECT_EQ(Decode({1, 0, 'a', 9}, 100).bytes, Bytes("a"));
  EXPECT_EQ(Decode({}, 100).produced, 0u);
}

// --- Files built in code ----------------------------------------------------------

namespace {

using fixture::BuildDataFile;
using fixture::BuiltFile;
using fixture::FixtureOptions;
using fixture::FixtureRecord;
using fixture::MakeRecords;
using fixture::PutLE16;
using fixture::PutLE32;
using fixture::ScopedTempFile;

// Records with what compresses: a code, a name padded with spaces, a run of
// zeros, a few bytes of their own.
std::vector<FixtureRecord> AccountRecords(uint32_t count, uint16_t length) {
  std::vector<FixtureRecord> records(count);
  for (uint32_t i = 0; i < count; ++i) {
    std::vector<uint8_t>& r = records[i].fixed;
    r.assign(length, 0);
    char text[48];
    snprintf(text, sizeof text, "ACC%05u Customer %u", i, i * 7);
    for (size_t k = 0; text[k] != 0 && k < length; ++k) r[k] = static_cast<uint8_t>(text[k]);
    for (size_t k = strlen(text); k < 40 && k < length; ++k) r[k] = ' ';
    for (size_t k = length > 8 ? length - 8 : 0; k < length; ++k) {
      r[k] = static_cast<uint8_t>(i * 31 + k);
    }
  }
  return records;
}

FixtureOptions V8Options(uint16_t pageSize = 1024) {
  FixtureOptions o;
  o.version = 0x0800;
  o.pageSize = pageSize;
  o.recordLength = 120;
  return o;
}

// Both variants hand out exactly `expected`, in order, and then end.
void ExpectRecords(const std::vector<uint8_t>& bytes,
                   const std::vector<FixtureRecord>& expected) {
  ScopedTempFile file(bytes);
  for (ReaderVariant variant : kBothVariants) {
    SCOPED_TRACE(VariantName(variant));
    const ReadResult r = ReadAll(file.path(), variant);
    ASSERT_EQ(r.openStatus, kReaderOk);
    EXPECT_EQ(r.endStatus, kReaderEnd);
    ASSERT_EQ(r.records.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(r.records[i], Expected(expected[i])) << "record " << i;
      EXPECT_EQ(r.statuses[i], kReaderOk);
    }
  }
}

DataFile OpenFields(const std::vector<uint8_t>& bytes, ReaderVariant variant,
                    ReaderStatus* status) {
  ScopedTempFile file(bytes);
  DataFile df = {};
  *status = OpenDataFile(file.path().c_str(), &df, variant);
  DataFile fields = df;
  CloseDataFile(&df, *status);
  return fields;  // fields only: everything it held is released
}

uint16_t Word(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

}  // namespace

// --- Control page copies -----------------------------------------------------------

TEST(V8Control, TheCopyWithTheGreaterWordAtSixGivesEveryField) {
  for (bool copy1Active : {false, true}) {
    SCOPED_TRACE(copy1Active ? "copy 1 active" : "copy 2 active");
    FixtureOptions o = V8Options();
    o.compressed = true;
    o.copy1Counter = copy1Active ? 9 : 4;
    o.copy2Counter = copy1Active ? 8 : 5;
    const auto records = AccountRecords(30, o.recordLength);
    BuiltFile built = BuildDataFile(o, records);
    // The stale copy describes an older, different file: every field of it
    // is wrong, as in files whose second copy was never filled in.
    const size_t stale = copy1Active ? built.controlCopyBytes : 0;
    PutLE16(built.bytes, stale + 22, 77);    // record length
    PutLE16(built.bytes, stale + 24, 0);     // slot length
    PutLE32(built.bytes, stale + 26, 0);     // record count
    PutLE16(built.bytes, stale + 400, 0);    // flags: not compressed
    PutLE16(built.bytes, stale + 402, 0);    // decoded length
    // The word at 4 no longer counts: both copies hold 'C' there.
    ASSERT_EQ(Word(built.bytes, 4), Word(built.bytes, built.controlCopyBytes + 4));
    ExpectRecords(built.bytes, built.records);
    for (ReaderVariant variant : kBothVariants) {
      ReaderStatus status;
      const DataFile df = OpenFields(built.bytes, variant, &status);
      ASSERT_EQ(status, kReaderOk);
      EXPECT_EQ(df.recordCount, 30u);
      EXPECT_EQ(df.recordLength, 120);  // the decoded length at 402
      EXPECT_EQ(df.pageSize, 1024);
      EXPECT_EQ(df.version, 0x0800);
    }
  }
}

TEST(V8Control, CopyTwoLiesAtTwiceThePageSizeButNotBelow2048) {
  // Decoys where the old rules looked (one and two pages in) carry the
  // signature, a huge counter and a wrong count; copy 1 is stale.
  for (uint16_t pageSize : {512, 1024, 4096}) {
    SCOPED_TRACE(pageSize);
    FixtureOptions o = V8Options(pageSize);
    o.copy1RecordCount = 999;
    const auto records = AccountRecords(12, o.recordLength);
    BuiltFile built = BuildDataFile(o, records);
    ASSERT_EQ(built.controlCopyBytes, pageSize == 512 ? 2048u : 2u * pageSize);
    for (size_t decoy : {size_t{pageSize}, size_t{2} * pageSize}) {
      if (decoy == built.controlCopyBytes) continue;
      fixture::PutV8ControlPage(built.bytes, decoy, o, 0xFFFF, 3, built.slotLength, 0, 0,
                                0xFFFFFFFF);
    }
    ExpectRecords(built.bytes, built.records);
  }
}

TEST(V8Control, UnsoundCopyTwoNeverWinsAndTheActiveVersionWordCounts) {
  const auto records = AccountRecords(10, 120);
  FixtureOptions o = V8Options();
  o.copy2RecordCount = 4;  // copy 2 has the greater counter
  struct Damage { size_t at; uint8_t value; } damages[] = {
      {0, 'X'},   // signature
      {4, 'Q'},   // kind byte
      {43, 8},    // a page size other than the one that located it
  };
  for (const Damage& d : damages) {
    BuiltFile built = BuildDataFile(o, records);
    built.bytes[built.controlCopyBytes + d.at] = d.value;
    ExpectRecords(built.bytes, built.records);  // copy 1's count of 10
  }
  // Copy 1 says 0x0800 and the active copy 0xF800 or 0x0900.
  for (uint16_t word : {0xF800, 0x0900}) {
    BuiltFile built = BuildDataFile(V8Options(), records);
    PutLE16(built.bytes, built.controlCopyBytes + 74, word);
    ReaderStatus status;
    const DataFile df = OpenFields(built.bytes, ReaderVariant::Wizard, &status);
    ASSERT_EQ(status, kReaderOk);
    EXPECT_EQ(df.version, word == 0x0900 ? 0x0900 : 0x0800);
  }
}

TEST(V8Control, GeometryNoSlotFitsOrNoPageSizeIsStatus2) {
  const auto records = AccountRecords(3, 120);
  const BuiltFile good = BuildDataFile(V8Options(), records);
  for (uint16_t slotLength : {0, 1024 - 7, 0xFFFF}) {
    std::vector<uint8_t> bytes = good.bytes;
    PutLE16(bytes, good.controlCopyBytes + 24, slotLength);
    ReaderStatus status;
    OpenFields(bytes, ReaderVariant::Console, &status);
    EXPECT_EQ(status, kReaderUnusable) << slotLength;
  }
  for (uint8_t by256 : {0, 3}) {  // 0, and 768 which the tables cannot use
    std::vector<uint8_t> bytes = good.bytes;
    bytes[43] = by256;
    ReaderStatus status;
    OpenFields(bytes, ReaderVariant::Wizard, &status);
    EXPECT_EQ(status, kReaderUnusable) << int{by256};
  }
  // The largest slot that fits is read.
  std::vector<uint8_t> bytes = good.bytes;
  PutLE16(bytes, good.controlCopyBytes + 24, 1024 - 8);
  ReaderStatus status;
  OpenFields(bytes, ReaderVariant::Console, &status);
  EXPECT_EQ(status, kReaderOk);
}

// --- Allocation tables --------------------------------------------------------------

TEST(V8Tables, CurrentCopiesWinOverStaleOnesWhateverTheirCounters) {
  FixtureOptions o = V8Options(512);
  o.staleCopies = true;
  o.variableLength = true;
  o.maxFragmentData = 40;
  const auto records = MakeRecords(25, o.recordLength, 300, 8);
  for (uint8_t tableCopy : {0, 1}) {
    o.currentTableCopy = tableCopy;
    BuiltFile built = BuildDataFile(o, records);
    ASSERT_FALSE(built.stalePages.empty());
    ExpectRecords(built.bytes, built.records);
    // Stale pages that claim to be newer: the table still decides.
    for (uint32_t page : built.stalePages) {
      const size_t at = static_cast<size_t>(page) * o.pageSize + 6;
      PutLE16(built.bytes, at, static_cast<uint16_t>(Word(built.bytes, at) | 0x7F00));
    }
    ExpectRecords(built.bytes, built.records);
    // A stale table copy that claims to be newer is taken, and with it the
    // stale pages: the copy choice is the table's usage word.
    const fixture::V8Geometry g = fixture::V8GeometryOf(o.pageSize);
    const size_t other = static_cast<size_t>(fixture::V8TablePage(g, 1, 1 - tableCopy)) * o.pageSize;
    PutLE16(built.bytes, other + 6, 9);
    ScopedTempFile file(built.bytes);
    const ReadResult r = ReadAll(file.path(), ReaderVariant::Console);
    ASSERT_EQ(r.openStatus, kReaderOk);
    ASSERT_FALSE(r.records.empty());
    EXPECT_NE(r.records[0], Expected(built.records[0]));
  }
}

TEST(V8Tables, BadEntriesFallBackToTheNewestCopy) {
  // Stale copies with lower counters lie before every page; a table entry
  // that cannot be right leaves the choice to the counters.
  FixtureOptions o = V8Options(512);
  o.staleCopies = true;
  o.recordLength = 100;
  const auto records = MakeRecords(20, o.recordLength, 0, 3);
  const BuiltFile good = BuildDataFile(o, records);
  ASSERT_GE(good.dataPages.size(), 3u);
  const uint32_t logical = good.dataPageNumbers[1];
  const size_t entry = fixture::V8TableEntryOffset(o.pageSize, logical, o.currentTableCopy);
  ASSERT_EQ(DecodeLE32(good.bytes.data() + entry), good.dataPages[1]);
  const uint32_t pages = static_cast<uint32_t>(good.bytes.size() / o.pageSize);
  for (uint32_t target : {pages, pages + 100, 0u, 2u, good.mapPages[0], good.dataPages[2],
                          0xFFFFFFFFu}) {
    SCOPED_TRACE(target);
    std::vector<uint8_t> bytes = good.bytes;
    PutLE32(bytes, entry, target);
    ExpectRecords(bytes, good.records);
  }
  // Both copies of the table unreadable: every page by its counter.
  std::vector<uint8_t> bytes = good.bytes;
  for (int copy : {0, 1}) {
    bytes[static_cast<size_t>(fixture::V8TablePage(fixture::V8GeometryOf(o.pageSize), 1, copy)) *
              o.pageSize + 4] = 0;
  }
  ExpectRecords(bytes, good.records);
  // A page the table says is not in use is not read, whatever is on disk.
  bytes = good.bytes;
  PutLE32(bytes, entry, 0xFFFFFFFE);
  std::vector<FixtureRecord> rest;
  for (size_t i = 0; i < good.records.size(); ++i) {
    if (good.recordPages[i][0] != good.dataPages[1]) rest.push_back(good.records[i]);
  }
  ASSERT_LT(rest.size(), good.records.size());
  fixture::PutSwappedCount(bytes, good.controlCopyBytes + 26, static_cast<uint32_t>(rest.size()));
  ExpectRecords(bytes, rest);
}

TEST(V8Tables, WithoutTablesCountersCompareWithoutTheDataPageBit) {
  // Both table copies unreadable.  A stale copy of a variable page has
  // turned into a data page: bit 15 of its usage word is the data page mark,
  // and without it its counter is the lower one.
  FixtureOptions o = V8Options(512);
  o.compressed = true;
  o.staleCopies = true;
  BuiltFile built = BuildDataFile(o, AccountRecords(6, o.recordLength));
  const fixture::V8Geometry g = fixture::V8GeometryOf(o.pageSize);
  for (int copy : {0, 1}) built.bytes[size_t{fixture::V8TablePage(g, 1, copy)} * o.pageSize + 4] = 0;
  ExpectRecords(built.bytes, built.records);
  const size_t current = size_t{built.variablePages[0]} * o.pageSize;
  const size_t stale = current - o.pageSize;  // each stale copy lies just before
  ASSERT_EQ(DecodeLE32(built.bytes.data() + stale), built.variablePageNumbers[0]);
  built.bytes[stale + 4] = 'D';
  PutLE16(built.bytes, stale + 6, static_cast<uint16_t>(0x8000 | (Word(built.bytes, current + 6) - 1)));
  ExpectRecords(built.bytes, built.records);
}

TEST(V8Tables, IndexPagesAreNotDataPagesEvenWithKey68) {
  FixtureOptions o = V8Options(512);
  o.recordLength = 40;
  const auto records = MakeRecords(10, o.recordLength, 0, 5);
  BuiltFile built = BuildDataFile(o, records);
  // The index page is logical page 1, the first page after the control
  // page copies.  Key 68 puts 'D' at byte 4; its slots look used.
  const size_t index = 2u * fixture::V8GeometryOf(o.pageSize).copyBytes;
  ASSERT_EQ(built.bytes[index + 5], 0x80);
  built.bytes[index + 4] = 'D';
  for (size_t at = index + 8; at + 2 <= index + o.pageSize; at += built.slotLength) {
    built.bytes[at] = 1;
  }
  fixture::PutSwappedCount(built.bytes, built.controlCopyBytes + 26, 11);  // one more
  ScopedTempFile file(built.bytes);
  for (ReaderVariant variant : kBothVariants) {
    const ReadResult r = ReadAll(file.path(), variant);
    ASSERT_EQ(r.records.size(), 10u);
    EXPECT_EQ(r.records[0], Expected(built.records[0]));
  }
}

// The order of the data pages is that of the numbers they carry, and a
// number no table settles is weighed among all pages: a data page whose
// number reads 0 is handed out first, one carrying a number beyond every
// table last.  The tables cannot foretell either (such a page is one they
// name as another data page), which is why the pages are all read before
// the first record.
TEST(V8Tables, PagesCarryingNumbersNoTableSettlesTakeTheirNumbersPlace) {
  FixtureOptions o = V8Options(512);
  o.recordLength = 100;
  const auto records = MakeRecords(16, o.recordLength, 0, 9);
  const BuiltFile good = BuildDataFile(o, records);
  ASSERT_GE(good.dataPages.size(), 3u);
  const uint32_t last = good.dataPages.back();
  const uint32_t middle = good.dataPages[1];
  auto onPage = [&](uint32_t page, bool on) {
    std::vector<FixtureRecord> some;
    for (size_t i = 0; i < good.records.size(); ++i) {
      if ((good.recordPages[i][0] == page) == on) some.push_back(good.records[i]);
    }
    return some;
  };
  // The last data page carries 0: its records come first.
  std::vector<uint8_t> bytes = good.bytes;
  PutLE32(bytes, size_t{last} * o.pageSize, 0);
  std::vector<FixtureRecord> expected = onPage(last, true);
  ASSERT_FALSE(expected.empty());
  for (const FixtureRecord& r : onPage(last, false)) expected.push_back(r);
  ExpectRecords(bytes, expected);
  // The middle one carries a number beyond the tables: its records come last.
  bytes = good.bytes;
  PutLE32(bytes, size_t{middle} * o.pageSize, 0x7FFFFFFF);
  expected = onPage(middle, false);
  for (const FixtureRecord& r : onPage(middle, true)) expected.push_back(r);
  ExpectRecords(bytes, expected);
}

// --- Slots ------------------------------------------------------------------------

TEST(V8Slots, SystemDataDuplicatePointersAndFreeSlotsInBothSlotKinds) {
  for (uint16_t version : {0x0800, 0x0900}) {
    for (bool compressed : {false, true}) {
      for (bool systemData : {false, true}) {
        SCOPED_TRACE(testing::Message() << std::hex << version << std::dec << " compressed "
                                        << compressed << " system " << systemData);
        FixtureOptions o = V8Options(1024);
        o.version = version;
        o.negativeVersion = version == 0x0800;
        o.compressed = compressed;
        o.systemData = systemData;
        o.duplicatePairs = 3;
        o.emptySlotsBefore = 1;
        const auto records = AccountRecords(40, o.recordLength);
        const BuiltFile built = BuildDataFile(o, records);
        EXPECT_EQ(built.slotLength, (compressed ? 9 : 2 + 120) + (systemData ? 8 : 0) + 24);
        // The free slot before each record: in a compressed file its first
        // word is the free chain's link, never zero here; in the other kind
        // its bytes after the link are not zero.
        const size_t freeSlot = built.recordSlots[5] - built.slotLength;
        if (compressed) {
          EXPECT_NE(Word(built.bytes, freeSlot), 0);
        } else {
          EXPECT_EQ(Word(built.bytes, freeSlot), 0);
          EXPECT_NE(built.bytes[freeSlot + 8], 0);
        }
        ExpectRecords(built.bytes, built.records);
      }
    }
  }
}

TEST(V8Slots, NoSystemDataFlagOverridesTheSystemDataFlag) {
  FixtureOptions o = V8Options();
  for (bool compressed : {false, true}) {
    o.compressed = compressed;
    BuiltFile built = BuildDataFile(o, AccountRecords(10, o.recordLength));
    for (size_t copy : {size_t{0}, size_t{built.controlCopyBytes}}) {
      PutLE16(built.bytes, copy + 400, static_cast<uint16_t>(Word(built.bytes, copy + 400) | 0x1200));
    }
    ExpectRecords(built.bytes, built.records);
  }
}

TEST(V8Slots, VariableTailsOfUncompressedRecords) {
  FixtureOptions o = V8Options(512);
  o.variableLength = true;
  o.systemData = true;
  o.duplicatePairs = 1;
  o.maxFragmentData = 70;
  auto records = MakeRecords(30, o.recordLength, 900, 11);
  records[3].variable.clear();  // a record without a tail: pointer of 0xFF
  const BuiltFile built = BuildDataFile(o, records);
  const size_t pointer = built.recordSlots[3] + 2 + 8 + o.recordLength;
  EXPECT_EQ(DecodeLE32(built.bytes.data() + pointer), 0xFFFFFFFFu);
  ASSERT_GT(built.recordPages[0].size(), 2u);  // a chain over pages
  ExpectRecords(built.bytes, built.records);
}

TEST(V8Slots, RecordCountsAbove65535UseTheHighWord) {
  FixtureOptions o = V8Options(4096);
  o.recordLength = 4;
  const auto records = MakeRecords(70000, o.recordLength, 0, 2);
  const BuiltFile built = BuildDataFile(o, records);
  EXPECT_EQ(Word(built.bytes, built.controlCopyBytes + 26), 1);  // high word
  ScopedTempFile file(built.bytes);
  for (ReaderVariant variant : kBothVariants) {
    const ReadResult r = ReadAll(file.path(), variant);
    ASSERT_EQ(r.records.size(), 70000u);
    EXPECT_EQ(r.endStatus, kReaderEnd);
    for (size_t i : {size_t{0}, size_t{65535}, size_t{65536}, size_t{69999}}) {
      EXPECT_EQ(r.records[i], Expected(built.records[i])) << i;
    }
  }
}

// --- Compressed records ----------------------------------------------------------

TEST(V8Compressed, ABlockSplitAnywhereBetweenTwoFragments) {
  // "ABCDEFGHIJ", 20 x 'z', "klmnop": a literal, a run, a literal.
  FixtureRecord record;
  record.fixed = Bytes("ABCDEFGHIJzzzzzzzzzzzzzzzzzzzzklmnop");
  const std::vector<uint8_t> stream = fixture::CompressRecord(record.fixed);
  std::vector<uint8_t> expectStream = {10, 0};
  for (char c : std::string("ABCDEFGHIJ")) expectStream.push_back(static_cast<uint8_t>(c));
  for (uint8_t b : std::initializer_list<uint8_t>{20, 0, 'z', 6, 0, 'k', 'l', 'm', 'n', 'o', 'p'}) {
    expectStream.push_back(b);
  }
  ASSERT_EQ(stream, expectStream);
  FixtureOptions o = V8Options(512);
  o.compressed = true;
  o.recordLength = static_cast<uint16_t>(record.fixed.size());
  // Fragments of 12 to 22 bytes: two of them, cut inside the run's count
  // (13), between the count and its byte (14), and inside the last literal.
  for (uint32_t first = 12; first < stream.size(); ++first) {
    SCOPED_TRACE(first);
    o.maxFragmentData = first;
    const BuiltFile built = BuildDataFile(o, {record, record});
    ASSERT_EQ(built.recordFragments[0].size(), 2u);
    ExpectRecords(built.bytes, built.records);
  }
  // Smaller pieces give longer chains; a record larger than a page spreads
  // over several variable pages.
  for (uint32_t piece = 1; piece < 12; ++piece) {
    o.maxFragmentData = piece;
    ExpectRecords(BuildDataFile(o, {record}).bytes, {record});
  }
  o.maxFragmentData = 0;
  o.recordLength = 1500;
  const auto big = MakeRecords(3, o.recordLength, 0, 4);
  const BuiltFile built = BuildDataFile(o, big);
  ASSERT_GT(built.recordPages[0].size(), 3u);
  ExpectRecords(built.bytes, built.records);
}

TEST(V8Compressed, ADecodedRecordLongerThanTheCapacity) {
  FixtureOptions o = V8Options();
  o.compressed = true;
  o.recordLength = 2000;
  const auto records = AccountRecords(3, o.recordLength);
  const BuiltFile built = BuildDataFile(o, records);
  ScopedTempFile file(built.bytes);
  for (uint32_t capacity : {0u, 1u, 1999u, 2000u}) {
    const ReadResult r = ReadAll(file.path(), ReaderVariant::Console, capacity);
    ASSERT_EQ(r.records.size(), 3u) << capacity;  // status 6 does not end the walk
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(r.statuses[i], capacity < 2000 ? kReaderTooSmall : kReaderOk);
      const auto& whole = built.records[i].fixed;
      EXPECT_EQ(r.records[i], std::vector<uint8_t>(whole.begin(), whole.begin() + capacity));
    }
  }
}

// --- Damaged chains and streams ------------------------------------------------------

TEST(V8Damage, RunLengthPastTheCapacity) {
  // The run count of the first record becomes 0xFFFF: 65551 bytes decoded
  // into an area of exactly 64000, the rest counted.  The next record is
  // untouched.
  FixtureRecord record;
  record.fixed = Bytes("ABCDEFGHIJzzzzzzzzzzzzzzzzzzzzklmnop");
  FixtureOptions o = V8Options(512);
  o.compressed = true;
  o.recordLength = static_cast<uint16_t>(record.fixed.size());
  BuiltFile built = BuildDataFile(o, {record, record});
  const size_t runCount = built.recordFragments[0][0] + 6 + 12;
  ASSERT_EQ(Word(built.bytes, runCount), 20);
  PutLE16(built.bytes, runCount, 0xFFFF);
  ScopedTempFile file(built.bytes);
  for (ReaderVariant variant : kBothVariants) {
    DataFile df = {};
    ASSERT_EQ(OpenDataFile(file.path().c_str(), &df, variant), kReaderOk);
    std::vector<uint8_t> area(64000);  // exactly: a write past it is a sanitizer report
    RecordBuffer rb = {64000, 0};
    EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderTooSmall);
    EXPECT_EQ(rb.length, 10u + 65535u + 6u);
    EXPECT_EQ(std::string(area.begin(), area.begin() + 10), "ABCDEFGHIJ");
    EXPECT_EQ(area[63999], 'z');
    rb.length = 64000;
    EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderOk);
    EXPECT_EQ(std::vector<uint8_t>(area.begin(), area.begin() + rb.length), record.fixed);
    EXPECT_EQ(ReadNextRecord(&df, &rb, area.data()), kReaderEnd);
    CloseDataFile(&df, kReaderOk);
  }
}

TEST(V8Damage, LoopingFragmentsAndBrokenTablesEndTheChainOnly) {
  FixtureRecord record;
  record.fixed = Bytes("ABCDEFGHIJzzzzzzzzzzzzzzzzzzzzklmnop");
  FixtureOptions o = V8Options(512);
  o.compressed = true;
  o.recordLength = static_cast<uint16_t>(record.fixed.size());
  o.maxFragmentData = 10;  // fragments of 10, 10 and 3 stream bytes
  const BuiltFile good = BuildDataFile(o, {record, record, record});
  const auto& fragments = good.recordFragments[1];
  ASSERT_EQ(fragments.size(), 3u);
  auto withRecord1 = [&](const std::string& text) {
    std::vector<FixtureRecord> expect = {record, FixtureRecord{Bytes(text), {}}, record};
    return expect;
  };
  // The last fragment leads back to the first: the loop is seen before any
  // byte is read twice.
  std::vector<uint8_t> bytes = good.bytes;
  std::copy_n(good.bytes.begin() + good.recordSlots[1], 6, bytes.begin() + fragments[2]);
  ExpectRecords(bytes, {record, record, record});
  // The first fragment leads to itself: its ten bytes are all there is, a
  // literal of 10 cut after 8.
  bytes = good.bytes;
  std::copy_n(good.bytes.begin() + good.recordSlots[1], 6, bytes.begin() + fragments[0]);
  ExpectRecords(bytes, withRecord1("ABCDEFGH"));
  // The second fragment names a fragment its page does not have, or its
  // page's fragment count is out of all bounds: the record keeps what came
  // before.
  bytes = good.bytes;
  PutLE16(bytes, fragments[0] + 4, 0x7FFF);
  ExpectRecords(bytes, withRecord1("ABCDEFGH"));
  bytes = good.bytes;
  const size_t page = fragments[0] / o.pageSize * o.pageSize;
  for (uint16_t count : {0, 0xFFFF, 300}) {
    PutLE16(bytes, page + 14, count);
    ExpectRecords(bytes, {FixtureRecord{}, FixtureRecord{}, FixtureRecord{}});
  }
}

TEST(V8Damage, FragmentsEndAtTheNextLargerOffsetWhateverTheirNumbers) {
  // Two one-fragment records on one variable page, renumbered the way a
  // page whose fragments were freed and reused might be: the second record's
  // fragment becomes number 0, the first record's number 2, and number 1 is
  // deleted (0xFFFF).  The table no longer rises with the fragment number;
  // each fragment still ends where the next larger offset begins.
  FixtureOptions o = V8Options(1024);
  o.compressed = true;
  BuiltFile built = BuildDataFile(o, AccountRecords(2, o.recordLength));
  const size_t page = built.recordFragments[0][0] / o.pageSize * o.pageSize;
  const size_t table = page + o.pageSize - 2;  // entry f at table - 2f
  ASSERT_EQ(Word(built.bytes, page + 14), 2);
  const uint16_t first = Word(built.bytes, table);
  const uint16_t second = Word(built.bytes, table - 2);
  const uint16_t freeSpace = Word(built.bytes, table - 4);
  ASSERT_EQ(page + second, built.recordFragments[1][0]);
  PutLE16(built.bytes, page + 14, 3);
  PutLE16(built.bytes, table, second);
  PutLE16(built.bytes, table - 2, 0xFFFF);
  PutLE16(built.bytes, table - 4, first);
  PutLE16(built.bytes, table - 6, freeSpace);
  PutLE16(built.bytes, built.recordSlots[0] + 4, 2);
  PutLE16(built.bytes, built.recordSlots[1] + 4, 0);
  ExpectRecords(built.bytes, built.records);
}
