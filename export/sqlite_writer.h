// SQLite output (builds with GANDREL_HAVE_SQLITE): one database, one table
// per data table.  Columns take the SQLite type of their field (INTEGER,
// REAL, TEXT, BLOB; dates and times as ISO 8601 TEXT), then `_record` BLOB
// (the raw record; not in raw tables, whose `data` is the record) and
// `_page` INTEGER.  The rows of a table go in within one transaction
// through one prepared statement; the dictionary's keys become indexes
// ("<table>_key<n>") once the rows are in.  A table that already exists in
// the database is an error.
#ifndef GANDREL_EXPORT_SQLITE_WRITER_H_
#define GANDREL_EXPORT_SQLITE_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "export/dictionary.h"
#include "export/export_status.h"
#include "export/table_file.h"

// The database and the table being written.  Owned by the caller through
// SqliteOpen / SqliteClose.
struct SqliteExport;

// Opens or creates the database `path`; *db is null on failure.
ExportStatus SqliteOpen(const std::string& path, SqliteExport** db);

// Problems (SQLite's messages) go to `report` from now on; it may be null.
void SqliteSetReporter(SqliteExport* db, ProblemReporter report, void* context);

// Creates the table `name` with `columns` (kept by reference until
// SqliteEndTable) and begins its transaction.  `raw`: no `_record` column.
ExportStatus SqliteBeginTable(SqliteExport* db, const std::string& name,
                              const std::vector<ExportColumn>& columns, bool raw);

// One row: `values` (one per column), the record (`length` bytes, for
// `_record` unless raw) and the page.
ExportStatus SqliteWriteRow(SqliteExport* db, const std::vector<FieldValue>& values,
                            const uint8_t* record, uint32_t length, int64_t page);

// Commits, then indexes the table by `keys`.
ExportStatus SqliteEndTable(SqliteExport* db, const std::vector<KeyDef>& keys);

// Closes the database and frees *db (null is fine).
ExportStatus SqliteClose(SqliteExport** db);

// `name` as an SQL identifier: in double quotes, inner quotes doubled.
std::string QuoteSqlName(const std::string& name);

#endif  // GANDREL_EXPORT_SQLITE_WRITER_H_
