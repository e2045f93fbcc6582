#include "export/sqlite_writer.h"

#include <sqlite3.h>

struct SqliteExport {
  sqlite3* db;
  sqlite3_stmt* insert;
  ProblemReporter report;
  void* reportContext;
  // The table being written.
  std::string table;
  const std::vector<ExportColumn>* columns;
  bool raw;
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
ExportStatus Execute(SqliteExport* s, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(s->db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) {
    return kExportOk;
  }
  if (s->report != nullptr) {
    s->report(s->reportContext,
              "SQLite: " + std::string(message ? message : "error") + " in: " + sql);
  }
  sqlite3_free(message);
  return kExportDatabaseError;
}

ExportStatus Failed(SqliteExport* s, const char* what) {
  if (s->report != nullptr) {
    s->report(s->reportContext, std::string("SQLite: ") + what + ": " + sqlite3_errmsg(s->db));
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

ExportStatus SqliteOpen(const std::string& path, SqliteExport** db) {
  SqliteExport* s = new SqliteExport{};
  if (sqlite3_open_v2(path.c_str(), &s->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(s->db);
    delete s;
    *db = nullptr;
    return kExportCannotCreate;
  }
  *db = s;
  return kExportOk;
}

void SqliteSetReporter(SqliteExport* db, ProblemReporter report, void* context) {
  if (db == nullptr) return;
  db->report = report;
  db->reportContext = context;
}

ExportStatus SqliteBeginTable(SqliteExport* s, const std::string& name,
                              const std::vector<ExportColumn>& columns, bool raw) {
  if (s == nullptr) return kExportCannotCreate;
  s->table = name;
  s->columns = &columns;
  s->raw = raw;
  const std::string table = QuoteSqlName(name);
  std::string create = "CREATE TABLE " + table + " (";
  std::string insert = "INSERT INTO " + table + " VALUES (";
  for (const ExportColumn& column : columns) {
    create += QuoteSqlName(column.name) + " " + SqlType(column.kind) + ", ";
    insert += "?, ";
  }
  if (!raw) {
    create += "\"_record\" BLOB, ";
    insert += "?, ";
  }
  create += "\"_page\" INTEGER)";
  insert += "?)";
  ExportStatus status = Execute(s, create);
  if (status == kExportOk) status = Execute(s, "BEGIN");
  if (status != kExportOk) return status;
  if (sqlite3_prepare_v2(s->db, insert.c_str(), -1, &s->insert, nullptr) != SQLITE_OK) {
    status = Failed(s, "prepare insert");
    Execute(s, "ROLLBACK");
  }
  return status;
}

ExportStatus SqliteWriteRow(SqliteExport* s, const std::vector<FieldValue>& values,
                            const uint8_t* record, uint32_t length, int64_t page) {
  sqlite3_stmt* insert = s->insert;
  int slot = 1;
  for (const FieldValue& value : values) {
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
  if (!s->raw) sqlite3_bind_blob(insert, slot++, record, static_cast<int>(length), SQLITE_STATIC);
  sqlite3_bind_int64(insert, slot, page);
  const int rc = sqlite3_step(insert);
  sqlite3_reset(insert);
  sqlite3_clear_bindings(insert);
  return rc == SQLITE_DONE ? kExportOk : Failed(s, "insert");
}

ExportStatus SqliteEndTable(SqliteExport* s, const std::vector<KeyDef>& keys) {
  sqlite3_finalize(s->insert);
  s->insert = nullptr;
  ExportStatus status = Execute(s, "COMMIT");
  if (status != kExportOk) return status;
  // Indexes after the rows: built once instead of kept up to date per row.
  // Keys are not UNIQUE even where the dictionary says so: salvaged
  // records may hold duplicates the engine would have refused.
  for (const KeyDef& key : keys) {
    std::string columns;
    for (const DdfKeySegment& segment : key.segments) {
      if (segment.fieldIndex < 0) continue;  // reported when the dictionary was built
      for (const ExportColumn& column : *s->columns) {
        if (column.fieldIndex != segment.fieldIndex) continue;
        if (!columns.empty()) columns += ", ";
        columns += QuoteSqlName(column.name);
      }
    }
    if (columns.empty()) continue;
    const std::string name = s->table + "_key" + std::to_string(key.number);
    const ExportStatus indexed = Execute(s, "CREATE INDEX " + QuoteSqlName(name) + " ON " +
                                                QuoteSqlName(s->table) + " (" + columns + ")");
    if (status == kExportOk) status = indexed;
  }
  return status;
}

ExportStatus SqliteClose(SqliteExport** db) {
  SqliteExport* s = *db;
  if (s == nullptr) return kExportOk;
  if (s->insert != nullptr) sqlite3_finalize(s->insert);
  const int rc = sqlite3_close(s->db);
  delete s;
  *db = nullptr;
  return rc == SQLITE_OK ? kExportOk : kExportWriteFailed;
}
