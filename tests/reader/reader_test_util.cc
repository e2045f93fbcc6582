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

RawFile::RawFile(uint16_t version, uint16_t pageSize, uint32_t pages,
                 uint16_t recordLength, uint16_t slotLength, uint32_t recordCount) {
  options.version = version;
  options.pageSize = pageSize;
  options.recordLength = recordLength;
  options.slotLength = slotLength;
  EnsurePages(pages);
  fixture::PutControlPage(bytes, 0, options, 1, recordCount, slotLength);
  if (version >= 0x0600) {
    fixture::PutControlPage(bytes, Page(1), options, 2, recordCount, slotLength);
  }
}

size_t RawFile::Page(uint32_t physical) const {
  return static_cast<size_t>(fixture::PhysicalPageOffset(options, physical));
}

void RawFile::EnsurePages(uint32_t pages) {
  const size_t end = Page(pages - 1) + options.pageSize;
  if (bytes.size() < end) bytes.resize(end, 0);
}

void RawFile::PutMapPage(uint32_t physical, uint16_t counter,
                         const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
  const size_t at = Page(physical);
  fixture::PutLE16(bytes, at + 4, counter);
  for (const auto& [j, target] : entries) {
    bytes[at + 4 + 4 * j] = static_cast<uint8_t>(target >> 16);
    fixture::PutLE16(bytes, at + 4 + 4 * j + 2, static_cast<uint16_t>(target));
  }
}

ReaderStatus OpenBytes(const std::vector<uint8_t>& bytes, ReaderVariant variant,
                       DataFile* df, std::string* keepPath,
                       const ReaderReporter* reporter) {
  // The file may be removed while open: the stream keeps it readable on
  // POSIX systems; tests that need the path back keep it.
  fixture::ScopedTempFile file(bytes);
  *df = DataFile{};
  ReaderStatus s = OpenDataFile(file.path().c_str(), df, variant, reporter);
  if (keepPath != nullptr) *keepPath = file.path();
  return s;
}

}  // namespace readertest
