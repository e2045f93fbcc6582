#include "tests/reader/reader_test_util.h"

namespace readertest {

const char* VariantName(ReaderVariant variant) {
  return variant == ReaderVariant::Console ? "Console" : "Wizard";
}

ReadResult ReadAll(const std::string& path, ReaderVariant variant,
                   uint32_t capacity, size_t limit) {
  ReadResult result;
  DataFile df = {};
  result.openStatus = OpenDataFile(path.c_str(), &df, variant);
  if (result.openStatus != kReaderOk) {
    CloseDataFile(&df, result.openStatus);
    return result;
  }
  std::vector<uint8_t> area(capacity + 16, 0xEE);
  for (size_t calls = 0; calls < limit; ++calls) {
    RecordBuffer rb = {};
    rb.length = capacity;
    ReaderStatus s = ReadNextRecord(&df, &rb, area.data());
    if (s != kReaderOk && s != kReaderTooSmall) {
      result.endStatus = s;
      break;
    }
    const uint32_t copied = rb.length < capacity ? rb.length : capacity;
    result.records.emplace_back(area.begin(), area.begin() + copied);
    result.statuses.push_back(s);
  }
  CloseDataFile(&df, kReaderOk);
  return result;
}

std::vector<uint8_t> Expected(const fixture::FixtureRecord& record) {
  std::vector<uint8_t> bytes = record.fixed;
  bytes.insert(bytes.end(), record.variable.begin(), record.variable.end());
  return bytes;
}

}  // namespace readertest
