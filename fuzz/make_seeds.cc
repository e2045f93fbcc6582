// Writes the fuzzer's seed corpus: small valid data files from the fixture
// writer in every version, both layouts, fixed and variable-length records,
// with empty slots and multi-fragment chains.  Usage: make_seeds DIR
#include <cstdio>
#include <string>

#include "tests/fixture/fixture_writer.h"

namespace {

constexpr uint16_t kVersions[] = {0x0300, 0x0400, 0x0500, 0x0600,
                                  0x0610, 0x0700, 0x0800, 0x0900};

struct Shape {
  const char* name;
  uint16_t pageSize;
  uint16_t recordLength;
  bool fc;
  bool variable;
  uint32_t emptySlots;
  uint32_t maxFragment;
  uint32_t records;
  uint32_t variableBytes;
};

// Few pages each: the fuzzer mutates small files faster, and a few pages
// already reach every page kind, the map and the fragment chains.
constexpr Shape kShapes[] = {
    {"fixed", 512, 20, false, false, 0, 0, 40, 0},
    {"fixed-fc-gaps", 512, 13, true, false, 1, 0, 30, 0},
    {"var", 512, 12, false, true, 0, 0, 12, 120},
    {"var-fc-chains", 512, 10, true, true, 1, 24, 8, 200},
    {"fixed-small-page", 256, 6, false, false, 2, 0, 20, 0},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  int written = 0;
  for (uint16_t version : kVersions) {
    for (const Shape& s : kShapes) {
      fixture::FixtureOptions o;
      o.version = version;
      o.pageSize = s.pageSize;
      o.recordLength = s.recordLength;
      o.fcLayout = s.fc;
      o.variableLength = s.variable;
      o.emptySlotsBefore = s.emptySlots;
      o.maxFragmentData = s.maxFragment;
      o.negativeVersion = (version & 0x0100) != 0;
      const auto records =
          fixture::MakeRecords(s.records, s.recordLength, s.variableBytes, version);
      const auto built = fixture::BuildDataFile(o, records);
      char name[64];
      std::snprintf(name, sizeof name, "/seed-%04x-%s.btr", version, s.name);
      if (!fixture::WriteFileBytes(dir + name, built.bytes)) {
        std::fprintf(stderr, "cannot write %s%s\n", dir.c_str(), name);
        return 1;
      }
      ++written;
    }
  }
  std::printf("%d seeds written to %s\n", written, dir.c_str());
  return 0;
}
