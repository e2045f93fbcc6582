// JSON Lines output: one JSON object per record and line (LF), members in
// column order, then "_page".  Integers are JSON numbers, reals their
// shortest round-trip form (non-finite: null), text strings, blobs hex
// strings, NULL null.
#ifndef GANDREL_EXPORT_JSONL_WRITER_H_
#define GANDREL_EXPORT_JSONL_WRITER_H_

#include "export/export.h"

// Called by export.cc with the writer's columns and values set.
ExportStatus JsonlBeginTable(ExportWriter* writer);
ExportStatus JsonlWriteRow(ExportWriter* writer, int64_t page);
ExportStatus JsonlEndTable(ExportWriter* writer);

#endif  // GANDREL_EXPORT_JSONL_WRITER_H_
