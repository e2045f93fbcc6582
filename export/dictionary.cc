#include "export/dictionary.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "reader/datafile.h"
#include "reader/format.h"

namespace fs = std::filesystem;

namespace {

// DDF names and locations are padded with blanks, NULs or both; the text
// ends at the first NUL and trailing blanks are dropped.
std::string PaddedText(const uint8_t* bytes, uint32_t width,
                       const Codepage& codepage) {
  uint32_t end = 0;
  while (end < width && bytes[end] != 0) ++end;
  while (end > 0 && bytes[end - 1] == ' ') --end;
  std::string text;
  AppendCodepageText(codepage, bytes, end, &text);
  return text;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The entry of `folder` named `name` without regard to case; an exact
// match wins over a case-insensitive one.  Empty when none.
fs::path FindEntry(const fs::path& folder, const std::string& name) {
  std::error_code error;
  if (fs::exists(folder / name, error)) return folder / name;
  fs::directory_iterator it(folder, error);
  if (error) return {};
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) return {};
    if (EqualNoCase(it->path().filename().string(), name)) return it->path();
  }
  return {};
}

std::vector<std::string> SplitLocation(const std::string& location) {
  std::string rest = location;
  if (rest.size() >= 2 && rest[1] == ':') rest = rest.substr(2);
  std::vector<std::string> parts;
  std::string part;
  for (char c : rest) {
    if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// Reads every record of one DDF file through the reader and hands it to
// `parse`.  Returns the reader's open status (0 when it opened).
template <typename Parse>
ReaderStatus ReadDdfRecords(const std::string& path, Parse parse,
                            std::vector<std::string>* problems) {
  DataFile df = {};
  ReaderStatus status = OpenDataFile(path.c_str(), &df, ReaderVariant::Console);
  if (status != kReaderOk) return status;
  std::vector<uint8_t> area(64000);
  while (status == kReaderOk) {
    RecordBuffer rb = {};
    rb.length = 64000;
    status = ReadNextRecord(&df, &rb, area.data());
    if (status == kReaderOk) parse(area.data(), rb.length);
  }
  // A walk that ends on anything but the normal end lost the rest of the
  // file's rows; the rows read so far are kept.
  if (status != kReaderEnd) {
    problems->push_back(path + ": reading stopped early: " + ReaderStatusName(status));
  }
  CloseDataFile(&df, status);
  return kReaderOk;
}

}  // namespace

const char* DictionaryStatusName(DictionaryStatus status) {
  switch (status) {
    case kDictionaryOk: return "ok";
    case kDictionaryShortRow: return "row shorter than its layout";
    case kDictionaryMissingFile: return "dictionary file missing";
    case kDictionaryUnreadable: return "dictionary file unreadable";
  }
  return "unknown status";
}

DictionaryStatus ParseFileRow(const uint8_t* record, uint32_t length,
                              const Codepage& codepage, DdfFileRow* row) {
  if (length < kFileRowLength) return kDictionaryShortRow;
  row->id = DecodeLE16(record + kFileRowIdOffset);
  row->name = PaddedText(record + kFileRowNameOffset, kDdfNameLength, codepage);
  row->location =
      PaddedText(record + kFileRowLocationOffset, kDdfLocationLength, codepage);
  row->flags = record[kFileRowFlagsOffset];
  return kDictionaryOk;
}

DictionaryStatus ParseFieldRow(const uint8_t* record, uint32_t length,
                               const Codepage& codepage, DdfFieldRow* row) {
  if (length < kFieldRowLength) return kDictionaryShortRow;
  row->id = DecodeLE16(record + kFieldRowIdOffset);
  row->fileId = DecodeLE16(record + kFieldRowFileOffset);
  row->name = PaddedText(record + kFieldRowNameOffset, kDdfNameLength, codepage);
  row->dataType = record[kFieldRowTypeOffset];
  row->offset = DecodeLE16(record + kFieldRowOffsetOffset);
  row->size = DecodeLE16(record + kFieldRowSizeOffset);
  row->decimals = record[kFieldRowDecimalsOffset];
  row->flags = DecodeLE16(record + kFieldRowFlagsOffset);
  return kDictionaryOk;
}

DictionaryStatus ParseIndexRow(const uint8_t* record, uint32_t length,
                               DdfIndexRow* row) {
  if (length < kIndexRowLength) return kDictionaryShortRow;
  row->fileId = DecodeLE16(record);
  row->fieldId = DecodeLE16(record + 2);
  row->keyNumber = DecodeLE16(record + 4);
  row->segment = DecodeLE16(record + 6);
  row->flags = DecodeLE16(record + 8);
  return kDictionaryOk;
}

std::string ResolveLocation(const std::string& folder,
                            const std::string& location) {
  const std::vector<std::string> parts = SplitLocation(location);
  if (parts.empty()) return {};
  fs::path current = fs::path(folder);
  bool found = true;
  for (const std::string& part : parts) {
    if (part == ".") continue;
    if (part == "..") {
      current = current / "..";
      continue;
    }
    current = FindEntry(current, part);
    if (current.empty()) {
      found = false;
      break;
    }
  }
  if (found) return current.lexically_normal().string();
  // Locations written on another machine may hold paths that do not exist
  // here; the data file usually sits beside the dictionary.
  const fs::path beside = FindEntry(fs::path(folder), parts.back());
  return beside.empty() ? std::string() : beside.lexically_normal().string();
}

void ResolveTablePaths(const std::string& dataFolder, Dictionary* dictionary) {
  for (TableDef& table : dictionary->tables) {
    table.path = ResolveLocation(dataFolder, table.location);
  }
}

void BuildDictionary(const std::vector<DdfFileRow>& files,
                     const std::vector<DdfFieldRow>& fields,
                     const std::vector<DdfIndexRow>& indexes,
                     const std::string& folder, Dictionary* dictionary) {
  dictionary->folder = folder;
  dictionary->tables.clear();
  std::map<uint16_t, size_t> tableById;
  for (const DdfFileRow& row : files) {
    if (tableById.count(row.id) != 0) {
      dictionary->problems.push_back("FILE.DDF: second row for file id " +
                                     std::to_string(row.id) + " skipped");
      continue;
    }
    TableDef table = {};
    table.id = row.id;
    table.name = row.name;
    table.location = row.location;
    table.flags = row.flags;
    if (!folder.empty()) table.path = ResolveLocation(folder, row.location);
    tableById[row.id] = dictionary->tables.size();
    dictionary->tables.push_back(std::move(table));
  }

  std::map<std::pair<uint16_t, uint16_t>, std::string> keyNames;
  for (const DdfFieldRow& row : fields) {
    auto it = tableById.find(row.fileId);
    if (it == tableById.end()) {
      dictionary->problems.push_back("FIELD.DDF: field " + std::to_string(row.id) +
                                     " belongs to unknown file id " +
                                     std::to_string(row.fileId));
      continue;
    }
    if (row.dataType == kDdfKeyName) {
      keyNames[{row.fileId, row.offset}] = row.name;
      continue;
    }
    FieldDef field = {.id = row.id, .name = row.name, .dataType = row.dataType,
                      .offset = row.offset, .size = row.size,
                      .decimals = row.decimals, .flags = row.flags};
    dictionary->tables[it->second].fields.push_back(std::move(field));
  }
  for (TableDef& table : dictionary->tables) {
    std::stable_sort(table.fields.begin(), table.fields.end(),
                     [](const FieldDef& a, const FieldDef& b) { return a.offset < b.offset; });
  }

  for (const DdfIndexRow& row : indexes) {
    auto it = tableById.find(row.fileId);
    if (it == tableById.end()) {
      dictionary->problems.push_back("INDEX.DDF: segment of unknown file id " +
                                     std::to_string(row.fileId));
      continue;
    }
    TableDef& table = dictionary->tables[it->second];
    DdfKeySegment segment = {.fieldId = row.fieldId, .fieldIndex = -1,
                          .segment = row.segment, .flags = row.flags};
    for (size_t i = 0; i < table.fields.size(); ++i) {
      if (table.fields[i].id == row.fieldId) segment.fieldIndex = static_cast<int32_t>(i);
    }
    if (segment.fieldIndex < 0) {
      dictionary->problems.push_back("INDEX.DDF: key " + std::to_string(row.keyNumber) +
                                     " of " + table.name + " names unknown field " +
                                     std::to_string(row.fieldId));
    }
    auto key = std::find_if(table.keys.begin(), table.keys.end(),
                            [&](const KeyDef& k) { return k.number == row.keyNumber; });
    if (key == table.keys.end()) {
      KeyDef def = {};
      def.number = row.keyNumber;
      auto name = keyNames.find({row.fileId, row.keyNumber});
      if (name != keyNames.end()) def.name = name->second;
      table.keys.push_back(std::move(def));
      key = table.keys.end() - 1;
    }
    key->segments.push_back(segment);
  }
  for (TableDef& table : dictionary->tables) {
    std::stable_sort(table.keys.begin(), table.keys.end(),
                     [](const KeyDef& a, const KeyDef& b) { return a.number < b.number; });
    for (KeyDef& key : table.keys) {
      std::stable_sort(key.segments.begin(), key.segments.end(),
                       [](const DdfKeySegment& a, const DdfKeySegment& b) {
                         return a.segment < b.segment;
                       });
    }
  }
}

DictionaryStatus LoadDictionary(const std::string& folder,
                                const Codepage& codepage,
                                Dictionary* dictionary) {
  dictionary->problems.clear();
  std::vector<DdfFileRow> files;
  std::vector<DdfFieldRow> fields;
  std::vector<DdfIndexRow> indexes;
  const fs::path base(folder);
  const fs::path filePath = FindEntry(base, "FILE.DDF");
  const fs::path fieldPath = FindEntry(base, "FIELD.DDF");
  const fs::path indexPath = FindEntry(base, "INDEX.DDF");
  if (filePath.empty() || fieldPath.empty()) return kDictionaryMissingFile;

  auto shortRow = [&](const char* ddf, uint32_t length) {
    dictionary->problems.push_back(std::string(ddf) + ": row of " +
                                   std::to_string(length) + " bytes too short, skipped");
  };
  auto unreadable = [&](const fs::path& path, ReaderStatus status) {
    dictionary->problems.push_back(path.string() + ": " + ReaderStatusName(status));
    return kDictionaryUnreadable;
  };
  ReaderStatus status = ReadDdfRecords(filePath.string(), [&](const uint8_t* r, uint32_t n) {
    DdfFileRow row;
    if (ParseFileRow(r, n, codepage, &row) == kDictionaryOk) files.push_back(row);
    else shortRow("FILE.DDF", n);
  }, &dictionary->problems);
  if (status != kReaderOk) return unreadable(filePath, status);
  status = ReadDdfRecords(fieldPath.string(), [&](const uint8_t* r, uint32_t n) {
    DdfFieldRow row;
    if (ParseFieldRow(r, n, codepage, &row) == kDictionaryOk) fields.push_back(row);
    else shortRow("FIELD.DDF", n);
  }, &dictionary->problems);
  if (status != kReaderOk) return unreadable(fieldPath, status);
  if (!indexPath.empty()) {
    status = ReadDdfRecords(indexPath.string(), [&](const uint8_t* r, uint32_t n) {
      DdfIndexRow row;
      if (ParseIndexRow(r, n, &row) == kDictionaryOk) indexes.push_back(row);
      else shortRow("INDEX.DDF", n);
    }, &dictionary->problems);
    if (status != kReaderOk) return unreadable(indexPath, status);
  }
  BuildDictionary(files, fields, indexes, folder, dictionary);
  return kDictionaryOk;
}
