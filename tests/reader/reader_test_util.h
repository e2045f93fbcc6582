// Helpers shared by the reader tests: open a built file in a variant and
// collect what the cursor hands out.
#ifndef GANDREL_TESTS_READER_READER_TEST_UTIL_H_
#define GANDREL_TESTS_READER_READER_TEST_UTIL_H_

#include <string>
#include <vector>

#include "reader/datafile.h"
#include "tests/fixture/fixture_writer.h"

namespace readertest {

constexpr ReaderVariant kBothVariants[] = {ReaderVariant::Console,
                                           ReaderVariant::Wizard};
constexpr uint16_t kAllVersions[] = {0x0300, 0x0400, 0x0500, 0x0600,
                                     0x0610, 0x0700, 0x0800, 0x0900, 0x0950};

const char* VariantName(ReaderVariant variant);

struct ReadResult {
  ReaderStatus openStatus = kReaderOk;
  ReaderStatus endStatus = kReaderOk;  // the status that ended the walk
  std::vector<std::vector<uint8_t>> records;
  std::vector<ReaderStatus> statuses;   // per record handed out (0 or 6)
};

// Opens `path`, reads every record with the given capacity (status 6 does not
// end the walk) and closes.  Stops after `limit` calls as a guard.
ReadResult ReadAll(const std::string& path, ReaderVariant variant,
                   uint32_t capacity = 64000, size_t limit = 10000000);

// The record bytes a reader should hand out for a built record.
std::vector<uint8_t> Expected(const fixture::FixtureRecord& record);

// A file assembled page by page in a test: control pages at 0 (and 1 from
// version 0x0600), everything else written by the test.
struct RawFile {
  fixture::FixtureOptions options;
  std::vector<uint8_t> bytes;

  RawFile(uint16_t version, uint16_t pageSize, uint32_t pages,
          uint16_t recordLength, uint16_t slotLength, uint32_t recordCount);
  size_t Page(uint32_t physical) const;  // byte offset, adjustment included
  void EnsurePages(uint32_t pages);
  // A map page copy: its counter and the entries j = 1.. in `targets`.
  void PutMapPage(uint32_t physical, uint16_t counter,
                  const std::vector<std::pair<uint32_t, uint32_t>>& entries);
};

// Opens `bytes` from a temporary file; the caller closes.
ReaderStatus OpenBytes(const std::vector<uint8_t>& bytes, ReaderVariant variant,
                       DataFile* df, std::string* keepPath = nullptr,
                       const ReaderReporter* reporter = nullptr);

// Collects what the reader reports; pass `reporter` at open.
struct EventLog {
  std::vector<ReaderEvent> events;
  ReaderReporter reporter{&EventLog::Add, this};
  static void Add(void* context, const ReaderEvent& event) {
    static_cast<EventLog*>(context)->events.push_back(event);
  }
};

}  // namespace readertest

#endif  // GANDREL_TESTS_READER_READER_TEST_UTIL_H_
