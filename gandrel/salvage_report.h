// What gandrel salvage tells about one file: the short summary on stderr and
// the JSON report.
#ifndef GANDREL_GANDREL_SALVAGE_REPORT_H_
#define GANDREL_GANDREL_SALVAGE_REPORT_H_

#include <cstdio>
#include <string>

#include "salvage/salvage.h"

// A few lines: records salvaged against the header's count, pages read and
// skipped (with the reasons), where the geometry came from.
void PrintSalvageSummary(const SalvageReport& report, FILE* out);

// The whole report as one JSON object.
std::string SalvageReportJson(const SalvageReport& report);

#endif  // GANDREL_GANDREL_SALVAGE_REPORT_H_
