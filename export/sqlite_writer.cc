#include "export/sqlite_writer.h"

#include <sqlite3.h>

struct SqliteExport {
  sqlite3* db;
  sqlite3_stmt* insert;
};

namespace {

const char* SqlType(ValueKind kind) {
  switch (kind) {
    case ValueKind::Integer: return "INTEGER";
    case ValueKind::Real: return "REAL";
    case ValueKind::Text: return "TEXT";
    case ValueKind::Null:
    case ValueKind::Blob: break;
  }
  return "BLOB";
}

// Runs one statement; on failure tells the reporter SQLite's message.
ExportStatus Execute(ExportWriter* writer, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(writer->sqlite->db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) {
    return kExportOk;
  }
  if (writer->report != nullptr) {
    writer->report(writer->reportContext,
                   "SQLite: " + std::string(message ? message : "error") + " in: " + sql);
  }
  sqlite3_free(message);
  return kExportDatabaseError;
}

ExportStatus Failed(ExportWriter* writer, const char* what) {
  if (writer->report != nullptr) {
    writer->report(writer->reportContext, std::string("SQLite: ") + what + ": " +
                                              sqlite3_errmsg(writer->sqlite->db));
  }
  return kExportDatabaseError;
}

}  // namespace

std::string QuoteSqlName(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

ExportStatus SqliteOpen(ExportWriter* writer) {
  writer->sqlite = new SqliteExport{};
  if (sqlite3_open_v2(writer->destination.c_str(), &writer->sqlite->db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    sqlite3_close(writer->sqlite->db);
    delete writer->sqlite;
    writer->sqlite = nullptr;
    return kExportCannotCreate;
  }
  return kExportOk;
}

ExportStatus SqliteBeginTable(ExportWriter* writer) {
  if (writer->sqlite == nullptr) return kExportCannotCreate;
  const std::string table = QuoteSqlName(writer->outputName);
  std::string create = "CREATE TABLE " + table + " (";
  std::string insert = "INSERT INTO " + table + " VALUES (";
  for (const ExportColumn& column : writer->columns) {
    create += QuoteSqlName(column.name) + " " + SqlType(column.kind) + ", ";
    insert += "?, ";
  }
  if (!writer->raw) {
    create += "\"_record\" BLOB, ";
    insert += "?, ";
  }
  create += "\"_page\" INTEGER)";
  insert += "?)";
  ExportStatus status = Execute(writer, create);
  if (status == kExportOk) status = Execute(writer, "BEGIN");
  if (status != kExportOk) return status;
  if (sqlite3_prepare_v2(writer->sqlite->db, insert.c_str(), -1, &writer->sqlite->insert,
                         nullptr) != SQLITE_OK) {
    status = Failed(writer, "prepare insert");
    Execute(writer, "ROLLBACK");
  }
  return status;
}

ExportStatus SqliteWriteRow(ExportWriter* writer, const uint8_t* record,
                            uint32_t length, int64_t page) {
  sqlite3_stmt* insert = writer->sqlite->insert;
  int slot = 1;
  for (const FieldValue& value : writer->values) {
    switch (value.kind) {
      case ValueKind::Null: sqlite3_bind_null(insert, slot); break;
      case ValueKind::Integer: sqlite3_bind_int64(insert, slot, value.integer); break;
      case ValueKind::Real: sqlite3_bind_double(insert, slot, value.real); break;
      case ValueKind::Text:
        sqlite3_bind_text(insert, slot, value.text.data(), static_cast<int>(value.text.size()),
                          SQLITE_STATIC);
        break;
      case ValueKind::Blob:
        sqlite3_bind_blob(insert, slot, value.blob.data(), static_cast<int>(value.blob.size()),
                          SQLITE_STATIC);
        break;
    }
    ++slot;
  }
  if (!writer->raw) {
    sqlite3_bind_blob(insert, slot++, record, static_cast<int>(length), SQLITE_STATIC);
  }
  sqlite3_bind_int64(insert, slot, page);
  const int rc = sqlite3_step(insert);
  sqlite3_reset(insert);
  sqlite3_clear_bindings(insert);
  return rc == SQLITE_DONE ? kExportOk : Failed(writer, "insert");
}

ExportStatus SqliteEndTable(ExportWriter* writer) {
  sqlite3_finalize(writer->sqlite->insert);
  writer->sqlite->insert = nullptr;
  ExportStatus status = Execute(writer, "COMMIT");
  if (status != kExportOk) return status;
  // Indexes after the rows: built once instead of kept up to date per row.
  // Keys are not UNIQUE even where the dictionary says so: salvaged
  // records may hold duplicates the engine would have refused.
  for (const KeyDef& key : writer->table.keys) {
    std::string columns;
    for (const DdfKeySegment& segment : key.segments) {
      if (segment.fieldIndex < 0) continue;  // reported when the dictionary was built
      for (const ExportColumn& column : writer->columns) {
        if (column.fieldIndex != segment.fieldIndex) continue;
        if (!columns.empty()) columns += ", ";
        columns += QuoteSqlName(column.name);
      }
    }
    if (columns.empty()) continue;
    const std::string name = writer->outputName + "_key" + std::to_string(key.number);
    const ExportStatus indexed =
        Execute(writer, "CREATE INDEX " + QuoteSqlName(name) + " ON " +
                            QuoteSqlName(writer->outputName) + " (" + columns + ")");
    if (status == kExportOk) status = indexed;
  }
  return status;
}

ExportStatus SqliteClose(ExportWriter* writer) {
  if (writer->sqlite == nullptr) return kExportOk;
  if (writer->sqlite->insert != nullptr) sqlite3_finalize(writer->sqlite->insert);
  const int rc = sqlite3_close(writer->sqlite->db);
  delete writer->sqlite;
  writer->sqlite = nullptr;
  return rc == SQLITE_OK ? kExportOk : kExportWriteFailed;
}
