// gandrel history: deleted records and earlier versions of records, out of
// the superseded page copies of a data file (salvage/history.h).
//
//   gandrel history FILE... -o DUMP [--format F] [--report R.json] [--versions]
//
// The dump holds the records in the salvage dump formats; the summary on
// stderr and the JSON report say where each came from.
#ifndef GANDREL_GANDREL_HISTORY_COMMAND_H_
#define GANDREL_GANDREL_HISTORY_COMMAND_H_

#include <cstdio>
#include <string>

#include "gandrel/command_line.h"
#include "salvage/history.h"

extern const CommandOption kHistoryOptions[];
extern const int kHistoryOptionCount;

// The lines on stderr: what came back, and from where.
void PrintHistorySummary(const HistoryReport& report, FILE* out);

// The report as one JSON object: every record with its address, the copy it
// came from, the usage counters and the verdict.
std::string HistoryReportJson(const HistoryReport& report);

int RunHistoryCommand(const ParsedCommandLine& parsed);

#endif  // GANDREL_GANDREL_HISTORY_COMMAND_H_
