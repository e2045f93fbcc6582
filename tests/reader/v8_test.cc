// Versions 0x0800 and 0x0900 as the engine writes them: the control page
// copies, the page allocation tables, slots, free slots, variable tails and
// compressed records, and damaged versions of each.
#include <gtest/gtest.h>

#include <string>

#include "reader/compression.h"
#include "tests/reader/reader_test_util.h"

using namespace readertest;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// Decodes `stream` fed in the pieces that `cuts` mark, into an area of
// `capacity` bytes (bytes past the area are checked untouched).
struct Decoded {
  std::vector<uint8_t> bytes;  // what was written, up to the capacity
  uint64_t produced = 0;
};

Decoded Decode(const std::vector<uint8_t>& stream, uint32_t capacity,
               const std::vector<size_t>& cuts = {}) {
  std::vector<uint8_t> area(capacity + 8, 0xEE);
  RunLengthDecoder decoder;
  size_t from = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(stream.size());
  for (size_t end : ends) {
    FeedRunLength(&decoder, stream.data() + from, static_cast<uint32_t>(end - from),
                  area.data(), capacity);
    from = end;
  }
  for (size_t i = capacity; i < area.size(); ++i) EXPECT_EQ(area[i], 0xEE) << i;
  Decoded d;
  d.produced = decoder.produced;
  const size_t written = d.produced < capacity ? d.produced : capacity;
  d.bytes.assign(area.begin(), area.begin() + written);
  return d;
}

}  // namespace

// --- The run-length stream -----------------------------------------------------

TEST(RunLength, BlocksAlternateStartingWithALiteral) {
  // "S\x06SETUP ", 46 zeros, an empty literal, 3 x 'x', "ab".
  const std::vector<uint8_t> stream = {
      8, 0, 'S', 6, 'S', 'E', 'T', 'U', 'P', ' ',  // literal 8
      46, 0, 0,                                    // run 46 x 00
      0, 0,                                        // literal 0
      3, 0, 'x',                                   // run 3 x 'x'
      2, 0, 'a', 'b'};                             // literal 2
  std::vector<uint8_t> expect = Bytes("S\x06SETUP ");
  expect.insert(expect.end(), 46, 0);
  expect.insert(expect.end(), 3, 'x');
  expect.push_back('a');
  expect.push_back('b');
  const Decoded whole = Decode(stream, 1000);
  EXPECT_EQ(whole.bytes, expect);
  EXPECT_EQ(whole.produced, expect.size());

  // A fragment boundary anywhere, even inside a count or before a run's
  // byte, gives the same record; so does feeding byte by byte.
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    EXPECT_EQ(Decode(stream, 1000, {cut}).bytes, expect) << "cut at " << cut;
  }
  std::vector<size_t> everyByte;
  for (size_t i = 1; i < stream.size(); ++i) everyByte.push_back(i);
  EXPECT_EQ(Decode(stream, 1000, everyByte).bytes, expect);
}

TEST(RunLength, CapacityBoundsTheWritesButNotTheLength) {
  // A run of 65535 from three bytes, into an area of 10.
  const std::vector<uint8_t> stream = {1, 0, 'a', 0xFF, 0xFF, 'b', 1, 0, 'c'};
  const Decoded d = Decode(stream, 10);
  EXPECT_EQ(d.produced, 1u + 65535u + 1u);
  EXPECT_EQ(d.bytes, Bytes("abbbbbbbbb"));
  // Capacity 0 writes nothing and still counts.
  EXPECT_EQ(Decode(stream, 0).produced, 65537u);
}

TEST(RunLength, EmptyRunKeepsItsByteAndCutStreamsStopWhereTheyEnd) {
  // An empty run block still carries its byte: "a", run 0 of 'z', "b".
  EXPECT_EQ(Decode({1, 0, 'a', 0, 0, 'z', 1, 0, 'b'}, 100).bytes, Bytes("ab"));
  // A literal cut short gives what is there; a run without its byte, or a
  // count without its high byte, gives nothing more.
  EXPECT_EQ(Decode({5, 0, 'a', 'b'}, 100).bytes, Bytes("ab"));
  EXPECT_EQ(Decode({1, 0, 'a', 9, 0}, 100).bytes, Bytes("a"));
  EXPECT_EQ(Decode({1, 0, 'a', 9}, 100).bytes, Bytes("a"));
  EXPECT_EQ(Decode({}, 100).produced, 0u);
}
