// The statuses of the export writers and the reporter they tell problems
// to; a header of its own so that the format writers need not include the
// writer that drives them (export/export.h).
#ifndef GANDREL_EXPORT_EXPORT_STATUS_H_
#define GANDREL_EXPORT_EXPORT_STATUS_H_

#include <cstdint>
#include <string>

enum ExportStatus : uint16_t {
  kExportOk = 0,
  kExportCannotCreate = 1,   // an output file or database could not be made
  kExportWriteFailed = 2,    // writing or closing an output file failed
  kExportDatabaseError = 3,  // SQLite refused a statement (message reported)
  kExportNoSqlite = 4,       // this build has no SQLite
  kExportNotInTable = 5,     // WriteRow or EndTable without BeginTable, or
                             // BeginTable inside a table
};

// Called with one line per problem (an undecodable field, an SQLite error).
using ProblemReporter = void (*)(void* context, const std::string& line);

#endif  // GANDREL_EXPORT_EXPORT_STATUS_H_
