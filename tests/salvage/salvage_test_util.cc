#include "tests/salvage/salvage_test_util.h"

#include <map>

#include "dump/dump_writer.h"
#include "reader/datafile.h"

Records ReaderRecords(const std::string& path) {
  Records records;
  DataFile df = {};
  ReaderStatus status = OpenDataFile(path.c_str(), &df, ReaderVariant::Console);
  std::vector<uint8_t> area(kMaxRecordBytes);
  while (status == kReaderOk || status == kReaderTooSmall) {
    RecordBuffer rb = {};
    rb.length = kMaxRecordBytes;
    status = ReadNextRecord(&df, &rb, area.data());
    if (status == kReaderOk) records.emplace_back(area.begin(), area.begin() + rb.length);
  }
  CloseDataFile(&df, status);
  return records;
}

namespace {

void Collect(void* context, const uint8_t* bytes, uint32_t length) {
  static_cast<Records*>(context)->emplace_back(bytes, bytes + length);
}

void CollectRun(void* context, const uint8_t* first, uint32_t stride, uint32_t length,
                uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) Collect(context, first + size_t{i} * stride, length);
}

struct Collected {
  Records* records;
  Records* doubtful;
};

bool Forget(void* context) {
  Collected* collected = static_cast<Collected*>(context);
  collected->records->clear();
  if (collected->doubtful != nullptr) collected->doubtful->clear();
  return true;
}

}  // namespace

Records SalvageRecords(const std::string& path, SalvageReport* report,
                       const GeometryOverrides& overrides, bool takeBack, Records* doubtful,
                       bool runs) {
  Records records;
  Collected collected{&records, doubtful};
  RecordSinkFunction sink;
  sink.write = Collect;
  if (runs) sink.writeRun = CollectRun;
  sink.context = &records;
  if (doubtful != nullptr) {
    sink.writeDoubtful = Collect;
    sink.doubtfulContext = doubtful;
  }
  if (takeBack) {
    sink.restart = Forget;
    sink.restartContext = &collected;
  }
  SalvageFile(path.c_str(), overrides, sink, report);
  return records;
}

std::vector<NamedOptions> HealthyFileTable() {
  std::vector<NamedOptions> table;
  auto add = [&](const char* name, uint16_t version, auto change) {
    fixture::FixtureOptions o;
    o.version = version;
    change(o);
    table.push_back({name, o});
  };
  for (uint16_t v : {0x0300, 0x0400, 0x0500, 0x0600, 0x0610, 0x0700}) {
    add("plain", v, [](fixture::FixtureOptions&) {});
    add("fc-variable-1024", v, [](fixture::FixtureOptions& o) {
      o.fcLayout = true;
      o.variableLength = true;
      o.pageSize = 1024;
      o.maxFragmentData = 40;
    });
    add("empty-slots-negative", v, [](fixture::FixtureOptions& o) {
      o.emptySlotsBefore = 1;
      o.negativeVersion = true;
    });
    add("compressed", v, [](fixture::FixtureOptions& o) {
      o.compressed = true;
      o.recordLength = 120;
      o.maxFragmentData = 40;
      o.emptySlotsBefore = 1;
    });
  }
  for (uint16_t v : {0x0800, 0x0900, 0x0950}) {
    add("v8-plain", v, [](fixture::FixtureOptions&) {});
    add("v8-stale-variable", v, [](fixture::FixtureOptions& o) {
      o.staleCopies = true;
      o.variableLength = true;
      o.maxFragmentData = 30;
      o.currentTableCopy = 0;
    });
    add("v8-compressed-sys-dups", v, [](fixture::FixtureOptions& o) {
      o.compressed = true;
      o.systemData = true;
      o.duplicatePairs = 2;
      o.pageSize = 4096;
      o.emptySlotsBefore = 2;
    });
  }
  add("v95-chunked-tails", 0x0950, [](fixture::FixtureOptions& o) {
    o.variableLength = true;
    o.chunkedTails = true;
    o.maxFragmentData = 30;
    o.pageSize = 1024;
  });
  return table;
}

::testing::AssertionResult SameRecords(const Records& got, const Records& expected) {
  for (size_t i = 0; i < got.size() && i < expected.size(); ++i) {
    if (got[i] != expected[i]) {
      return ::testing::AssertionFailure() << "record " << i << " differs (" << got.size()
                                           << " records, " << expected.size() << " expected)";
    }
  }
  if (got.size() != expected.size()) {
    return ::testing::AssertionFailure() << got.size() << " records, " << expected.size()
                                         << " expected";
  }
  return ::testing::AssertionSuccess();
}

fixture::BuiltFile BuildFixtureFile(const fixture::FixtureOptions& o, uint32_t count,
                                    uint32_t variableBytes, uint32_t seed) {
  return fixture::BuildDataFile(
      o, fixture::MakeRecords(count, o.recordLength, o.variableLength ? variableBytes : 0, seed));
}

// The console writer's format '1' dump of `records`.
std::vector<uint8_t> ButilDump(const Records& records, const std::string& path) {
  FILE* f = fopen(path.c_str(), "wb");
  char text[kDumpTextBufferSize];
  DumpOutput out{f, text, kConsoleFormatButil};
  for (const auto& r : records) WriteDumpRecord(&out, static_cast<uint32_t>(r.size()), r.data());
  WriteDumpTrailer(&out);
  fclose(f);
  return fixture::ReadFileBytes(path);
}

// Records of `got` that `held` does not hold (as many times as it holds
// them): what salvage invented.
size_t Invented(const Records& got, const Records& held) {
  std::map<std::string, int> count;
  for (const auto& r : held) ++count[std::string(r.begin(), r.end())];
  size_t invented = 0;
  for (const auto& r : got) invented += --count[std::string(r.begin(), r.end())] < 0;
  return invented;
}
