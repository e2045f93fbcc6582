// JSON Lines output: one JSON object per record and line (LF), members in
// column order, then "_page".  Integers are JSON numbers, reals their
// shortest round-trip form (non-finite: null), text strings, blobs hex
// strings, NULL null.
#ifndef GANDREL_EXPORT_JSONL_WRITER_H_
#define GANDREL_EXPORT_JSONL_WRITER_H_

#include <cstdint>
#include <vector>

#include "export/export_status.h"
#include "export/table_file.h"

// Creates folder/stem.jsonl.
ExportStatus JsonlBeginTable(TableFile* table);

// One object: `values` named by `columns` (one per column), then the page.
ExportStatus JsonlWriteRow(TableFile* table, const std::vector<ExportColumn>& columns,
                           const std::vector<FieldValue>& values, int64_t page);

ExportStatus JsonlEndTable(TableFile* table);

#endif  // GANDREL_EXPORT_JSONL_WRITER_H_
