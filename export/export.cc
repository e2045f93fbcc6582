#include "export/export.h"

#include <charconv>
#include <filesystem>
#include <system_error>

#include "export/csv_writer.h"
#include "export/jsonl_writer.h"
#ifdef GANDREL_HAVE_SQLITE
#include "export/sqlite_writer.h"
#endif

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(const std::string& s) {
  std::string lower = s;
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

// `name`, or `name_2`, `name_3`, ... : the first not in `used` (compared
// without ASCII case); the result is added to `used`.
std::string UniqueName(const std::string& name, std::vector<std::string>* used) {
  auto taken = [&](const std::string& candidate) {
    const std::string lower = LowerAscii(candidate);
    for (const std::string& u : *used) {
      if (u == lower) return true;
    }
    return false;
  };
  std::string candidate = name;
  for (int n = 2; taken(candidate); ++n) candidate = name + "_" + std::to_string(n);
  used->push_back(LowerAscii(candidate));
  return candidate;
}

void Report(ExportWriter* writer, const std::string& line) {
  if (writer->report != nullptr) writer->report(writer->reportContext, line);
}

// SQLite keeps names beginning "sqlite_" for itself.
std::string SqliteTableName(const std::string& name) {
  if (name.empty()) return "table";
  return LowerAscii(name).rfind("sqlite_", 0) == 0 ? "_" + name : name;
}

ExportStatus StartTable(ExportWriter* writer, const std::string& name) {
  writer->outputName = UniqueName(writer->format == ExportFormat::Sqlite
                                      ? SqliteTableName(name)
                                      : SafeFileStem(name),
                                  &writer->usedOutputNames);
  writer->values.assign(writer->columns.size(), FieldValue{});
  writer->counts = {};
  ExportStatus status = kExportOk;
  switch (writer->format) {
    case ExportFormat::Csv: status = CsvBeginTable(writer); break;
    case ExportFormat::Jsonl: status = JsonlBeginTable(writer); break;
    case ExportFormat::Sqlite:
#ifdef GANDREL_HAVE_SQLITE
      status = SqliteBeginTable(writer);
#else
      status = kExportNoSqlite;
#endif
      break;
  }
  writer->inTable = status == kExportOk;
  return status;
}

}  // namespace

const char* ExportStatusName(ExportStatus status) {
  switch (status) {
    case kExportOk: return "ok";
    case kExportCannotCreate: return "cannot create output";
    case kExportWriteFailed: return "write failed";
    case kExportDatabaseError: return "database error";
    case kExportNoSqlite: return "built without SQLite";
    case kExportNotInTable: return "no table begun, or one already begun";
  }
  return "unknown status";
}

std::vector<ExportColumn> TableColumns(const TableDef& table) {
  std::vector<std::string> used = {"_page", "_record"};
  std::vector<ExportColumn> columns;
  for (size_t i = 0; i < table.fields.size(); ++i) {
    const FieldDef& field = table.fields[i];
    const std::string base =
        field.name.empty() ? "field_" + std::to_string(field.id) : field.name;
    columns.push_back({.name = UniqueName(base, &used),
                       .fieldIndex = static_cast<int32_t>(i),
                       .kind = ColumnKind(field)});
  }
  return columns;
}

std::string SafeFileStem(const std::string& name) {
  std::string stem = name;
  for (char& c : stem) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) {
      c = '_';
    }
  }
  if (stem.empty() || stem == "." || stem == "..") stem = "table";
  // Windows opens devices for these names whatever the extension.
  static const char* const kDeviceNames[] = {"con", "prn", "aux", "nul"};
  const std::string lower = LowerAscii(stem);
  bool device = lower.size() == 4 && (lower.rfind("com", 0) == 0 || lower.rfind("lpt", 0) == 0) &&
                lower[3] >= '1' && lower[3] <= '9';
  for (const char* d : kDeviceNames) device = device || lower == d;
  if (device) stem += "_";
  return stem;
}

FILE* CreateTableFile(const std::string& folder, const std::string& utf8Name) {
  const std::u8string name(utf8Name.begin(), utf8Name.end());
  const std::filesystem::path path = std::filesystem::path(folder) / std::filesystem::path(name);
#ifdef _WIN32
  // fopen takes names in the ANSI code page, which cannot hold most table
  // names (doclife's are Cyrillic).
  return _wfopen(path.c_str(), L"wb");
#else
  return fopen(path.c_str(), "wb");
#endif
}

void AppendValueText(const FieldValue& value, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  char buffer[32];
  switch (value.kind) {
    case ValueKind::Null:
      return;
    case ValueKind::Integer: {
      const auto r = std::to_chars(buffer, buffer + sizeof buffer, value.integer);
      out->append(buffer, r.ptr);
      return;
    }
    case ValueKind::Real: {
      const auto r = std::to_chars(buffer, buffer + sizeof buffer, value.real);
      out->append(buffer, r.ptr);
      return;
    }
    case ValueKind::Text:
      out->append(value.text);
      return;
    case ValueKind::Blob:
      for (uint8_t b : value.blob) {
        out->push_back(kHex[b >> 4]);
        out->push_back(kHex[b & 0x0F]);
      }
      return;
  }
}

ExportStatus OpenExport(ExportFormat format, const std::string& destination,
                        const Codepage& codepage, ExportWriter* writer) {
  writer->format = format;
  writer->destination = destination;
  writer->codepage = &codepage;
  writer->inTable = false;
  writer->usedOutputNames.clear();
  if (format == ExportFormat::Sqlite) {
#ifdef GANDREL_HAVE_SQLITE
    return SqliteOpen(writer);
#else
    return kExportNoSqlite;
#endif
  }
  std::error_code error;
  std::filesystem::create_directories(destination, error);
  return std::filesystem::is_directory(destination, error) ? kExportOk
                                                           : kExportCannotCreate;
}

ExportStatus BeginTable(ExportWriter* writer, const TableDef& table) {
  if (writer->inTable) return kExportNotInTable;
  writer->raw = false;
  writer->table = table;
  writer->columns = TableColumns(table);
  return StartTable(writer, table.name);
}

ExportStatus BeginRawTable(ExportWriter* writer, const std::string& name) {
  if (writer->inTable) return kExportNotInTable;
  writer->raw = true;
  writer->table = TableDef{};
  writer->table.name = name;
  writer->columns = {
      {.name = "record", .fieldIndex = -1, .kind = ValueKind::Integer},
      {.name = "length", .fieldIndex = -1, .kind = ValueKind::Integer},
      {.name = "data", .fieldIndex = -1, .kind = ValueKind::Blob},
  };
  return StartTable(writer, name);
}

ExportStatus WriteRow(ExportWriter* writer, const uint8_t* record,
                      uint32_t length, int64_t page) {
  if (!writer->inTable) return kExportNotInTable;
  const int64_t number = writer->counts.rows + 1;
  if (writer->raw) {
    writer->values[0].kind = ValueKind::Integer;
    writer->values[0].integer = number;
    writer->values[1].kind = ValueKind::Integer;
    writer->values[1].integer = length;
    writer->values[2].kind = ValueKind::Blob;
    writer->values[2].blob.assign(record, record + length);
  } else {
    for (size_t i = 0; i < writer->columns.size(); ++i) {
      const FieldDef& field = writer->table.fields[writer->columns[i].fieldIndex];
      const DecodeStatus status =
          DecodeField(field, record, length, *writer->codepage, &writer->values[i]);
      if (status != kDecodeOk) {
        ++writer->counts.nullFields;
        Report(writer, writer->table.name + " record " + std::to_string(number) + ": " +
                           DecodeProblemText(field, status));
      }
    }
  }
  ExportStatus status = kExportOk;
  switch (writer->format) {
    case ExportFormat::Csv: status = CsvWriteRow(writer, page); break;
    case ExportFormat::Jsonl: status = JsonlWriteRow(writer, page); break;
    case ExportFormat::Sqlite:
#ifdef GANDREL_HAVE_SQLITE
      status = SqliteWriteRow(writer, record, length, page);
#else
      status = kExportNoSqlite;
#endif
      break;
  }
  if (status == kExportOk) ++writer->counts.rows;
  return status;
}

ExportStatus EndTable(ExportWriter* writer, TableCounts* counts) {
  if (!writer->inTable) return kExportNotInTable;
  writer->inTable = false;
  ExportStatus status = kExportOk;
  switch (writer->format) {
    case ExportFormat::Csv: status = CsvEndTable(writer); break;
    case ExportFormat::Jsonl: status = JsonlEndTable(writer); break;
    case ExportFormat::Sqlite:
#ifdef GANDREL_HAVE_SQLITE
      status = SqliteEndTable(writer);
#else
      status = kExportNoSqlite;
#endif
      break;
  }
  if (counts != nullptr) *counts = writer->counts;
  return status;
}

ExportStatus CloseExport(ExportWriter* writer) {
  ExportStatus status = kExportOk;
  if (writer->inTable) status = EndTable(writer, nullptr);
#ifdef GANDREL_HAVE_SQLITE
  if (writer->format == ExportFormat::Sqlite) {
    const ExportStatus closed = SqliteClose(writer);
    if (status == kExportOk) status = closed;
  }
#endif
  return status;
}
