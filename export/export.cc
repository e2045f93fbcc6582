#include "export/export.h"

#include <filesystem>
#include <system_error>

#include "export/csv_writer.h"
#include "export/jsonl_writer.h"
#ifdef GANDREL_HAVE_SQLITE
#include "export/sqlite_writer.h"
#endif

namespace {

void Report(ExportWriter* writer, const std::string& line) {
  if (writer->report != nullptr) writer->report(writer->reportContext, line);
}

// CSV and JSON Lines write one file per table into the folder, made when
// missing.
ExportStatus OpenFolder(ExportWriter* writer) {
  std::error_code error;
  std::filesystem::create_directories(writer->destination, error);
  return std::filesystem::is_directory(writer->destination, error) ? kExportOk
                                                                   : kExportCannotCreate;
}

ExportStatus CloseNothing(ExportWriter*) { return kExportOk; }

std::string FileStem(const std::string& name) { return SafeFileStem(name); }

ExportStatus CsvBegin(ExportWriter* w) {
  w->tableFile.folder = w->destination;
  w->tableFile.stem = w->outputName;
  return CsvBeginTable(&w->tableFile, w->columns);
}
ExportStatus CsvRow(ExportWriter* w, const uint8_t*, uint32_t, int64_t page) {
  return CsvWriteRow(&w->tableFile, w->values, page);
}
ExportStatus CsvEnd(ExportWriter* w) { return CsvEndTable(&w->tableFile); }

ExportStatus JsonlBegin(ExportWriter* w) {
  w->tableFile.folder = w->destination;
  w->tableFile.stem = w->outputName;
  return JsonlBeginTable(&w->tableFile);
}
ExportStatus JsonlRow(ExportWriter* w, const uint8_t*, uint32_t, int64_t page) {
  return JsonlWriteRow(&w->tableFile, w->columns, w->values, page);
}
ExportStatus JsonlEnd(ExportWriter* w) { return JsonlEndTable(&w->tableFile); }

#ifdef GANDREL_HAVE_SQLITE
// SQLite keeps names beginning "sqlite_" for itself.
std::string SqliteTableName(const std::string& name) {
  if (name.empty()) return "table";
  return LowerAscii(name).rfind("sqlite_", 0) == 0 ? "_" + name : name;
}
ExportStatus SqliteOpenDb(ExportWriter* w) { return SqliteOpen(w->destination, &w->sqlite); }
ExportStatus SqliteBegin(ExportWriter* w) {
  SqliteSetReporter(w->sqlite, w->report, w->reportContext);
  return SqliteBeginTable(w->sqlite, w->outputName, w->columns, w->raw);
}
ExportStatus SqliteRow(ExportWriter* w, const uint8_t* record, uint32_t length, int64_t page) {
  SqliteSetReporter(w->sqlite, w->report, w->reportContext);
  return SqliteWriteRow(w->sqlite, w->values, record, length, page);
}
ExportStatus SqliteEnd(ExportWriter* w) {
  SqliteSetReporter(w->sqlite, w->report, w->reportContext);
  return SqliteEndTable(w->sqlite, w->table.keys);
}
ExportStatus SqliteCloseDb(ExportWriter* w) { return SqliteClose(&w->sqlite); }
#endif

// One row per format: its name, how output names are made, and its steps.
struct FormatRow {
  ExportFormat format;
  const char* name;
  std::string (*outputName)(const std::string& tableName);
  ExportStatus (*open)(ExportWriter*);
  ExportStatus (*begin)(ExportWriter*);
  ExportStatus (*row)(ExportWriter*, const uint8_t* record, uint32_t length, int64_t page);
  ExportStatus (*end)(ExportWriter*);
  ExportStatus (*close)(ExportWriter*);
};

const FormatRow kFormats[] = {
#ifdef GANDREL_HAVE_SQLITE
    {ExportFormat::Sqlite, "sqlite", SqliteTableName, SqliteOpenDb, SqliteBegin, SqliteRow,
     SqliteEnd, SqliteCloseDb},
#endif
    {ExportFormat::Csv, "csv", FileStem, OpenFolder, CsvBegin, CsvRow, CsvEnd, CloseNothing},
    {ExportFormat::Jsonl, "jsonl", FileStem, OpenFolder, JsonlBegin, JsonlRow, JsonlEnd,
     CloseNothing},
};

// The writer's format row; null for a format this build lacks.
const FormatRow* Format(ExportFormat format) {
  for (const FormatRow& row : kFormats) {
    if (row.format == format) return &row;
  }
  return nullptr;
}

ExportStatus StartTable(ExportWriter* writer, const std::string& name) {
  const FormatRow* format = Format(writer->format);
  if (format == nullptr) return kExportNoSqlite;
  writer->outputName = UniqueName(format->outputName(name), &writer->usedOutputNames);
  writer->values.assign(writer->columns.size(), FieldValue{});
  writer->counts = {};
  const ExportStatus status = format->begin(writer);
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

bool FindExportFormat(const std::string& name, ExportFormat* format) {
  for (const FormatRow& row : kFormats) {
    if (name == row.name) {
      *format = row.format;
      return true;
    }
  }
  return false;
}

const char* ExportFormatName(ExportFormat format) {
  const FormatRow* row = Format(format);
  if (row != nullptr) return row->name;
  return format == ExportFormat::Sqlite ? "sqlite" : "?";
}

ExportStatus OpenExport(ExportFormat format, const std::string& destination,
                        const Codepage& codepage, ExportWriter* writer) {
  writer->format = format;
  writer->destination = destination;
  writer->codepage = &codepage;
  writer->inTable = false;
  writer->usedOutputNames.clear();
  const FormatRow* row = Format(format);
  return row == nullptr ? kExportNoSqlite : row->open(writer);
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

namespace {

// Fills writer->values from the record.
void DecodeRow(ExportWriter* writer, const uint8_t* record, uint32_t length, int64_t number) {
  if (writer->raw) {
    writer->values[0].kind = ValueKind::Integer;
    writer->values[0].integer = number;
    writer->values[1].kind = ValueKind::Integer;
    writer->values[1].integer = length;
    writer->values[2].kind = ValueKind::Blob;
    writer->values[2].blob.assign(record, record + length);
    return;
  }
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

}  // namespace

ExportStatus WriteRow(ExportWriter* writer, const uint8_t* record,
                      uint32_t length, int64_t page) {
  if (!writer->inTable) return kExportNotInTable;
  DecodeRow(writer, record, length, writer->counts.rows + 1);
  const ExportStatus status = Format(writer->format)->row(writer, record, length, page);
  if (status == kExportOk) ++writer->counts.rows;
  return status;
}

ExportStatus EndTable(ExportWriter* writer, TableCounts* counts) {
  if (!writer->inTable) return kExportNotInTable;
  writer->inTable = false;
  const ExportStatus status = Format(writer->format)->end(writer);
  if (counts != nullptr) *counts = writer->counts;
  return status;
}

ExportStatus CloseExport(ExportWriter* writer) {
  ExportStatus status = kExportOk;
  if (writer->inTable) status = EndTable(writer, nullptr);
  const FormatRow* format = Format(writer->format);
  if (format != nullptr) {
    const ExportStatus closed = format->close(writer);
    if (status == kExportOk) status = closed;
  }
  return status;
}
