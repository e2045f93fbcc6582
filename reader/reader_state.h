// The reader's private state beside a DataFile: the read plan, the stream's
// position and buffer, the page directory's indexes, the page map pairs
// already decoded, the variable page in its buffer and the fragments a chain
// walk has visited, and the caller's reporter.  None of it changes what is
// read; it holds what open decided and spares repeated searches and reads.
#ifndef GANDREL_READER_READER_STATE_H_
#define GANDREL_READER_READER_STATE_H_

#include <cstdint>
#include <vector>

#include "reader/chain.h"
#include "reader/datafile.h"
#include "reader/hash_index.h"
#include "reader/read_ahead.h"
#include "reader/read_plan.h"
#include "reader/report.h"

struct ReaderState {
  ReadPlan plan{};
  ReaderReporter reporter{nullptr, nullptr};

  // The data file stream (reader/stream.h).
  int64_t fileSize = 0;
  int64_t streamPosition = -1;      // where the stream stands, -1 unknown
  char* streamBuffer = nullptr;     // the stream's buffer (malloc)
  // The cursor's data pages are read into the read-ahead window
  // (reader/read_ahead.h), and pageBuffer points at the loaded page inside
  // it: the page is not copied out of a buffer again.  The window has an
  // unbuffered stream of its own, so that its reads go from the file
  // straight into it: the buffered stream's buffer, which the map and
  // variable page reads fill, would otherwise stand between them.
  // pageBytes is the page buffer allocated at open; pageBuffer points there
  // before the first page is loaded, whenever a page's header must be
  // changed (the window holds the file's bytes as they are), and where the
  // window cannot serve.
  uint8_t* pageBytes = nullptr;     // pageSize bytes (malloc)
  ReadAheadWindow window;

  // The page directory (reader/page_directory.h).
  uint32_t dataCapacity = 0;        // allocated entries of dataPages
  uint32_t variableCapacity = 0;
  // While a list's page numbers ascend in list order (the passes mostly add
  // pages so) it is searched by halves and has no index; the first page
  // added out of order indexes the whole list.
  bool dataIndexed = false;
  bool variableIndexed = false;
  PositionIndex dataIndex;          // page number -> position in the list
  PositionIndex variableIndex;

  // Page map pairs (reader/page_map.h): per pair, -1 not read yet, else the
  // start of its decoded entries in mapEntries.
  std::vector<int64_t> mapPairStart;
  std::vector<uint32_t> mapEntries;
  std::vector<uint8_t> mapPageBytes;  // two copies, read side by side

  // Versions 0x0800 to 0x0950: one control page or table copy is this long,
  // and the active control page copy's usage counter.
  uint32_t copyBytes = 0;
  uint32_t controlUsage = 0;
  std::vector<uint8_t> chunkTable;  // the chunk table of the record in hand

  // The data page in pageBuffer, for reports.
  int64_t dataPageOffset = -1;
  int64_t dataPageNumber = -1;

  // Record assembly (reader/record.h).
  int64_t variablePageOffset = -1;  // page now in variablePageBuffer
  VisitedFragments visited;
};

// Tells the caller's reporter, if there is one, the event as it is.
inline void ReportEventAs(const DataFile* dataFile, const ReaderEvent& event) {
  const ReaderReporter& reporter = dataFile->state->reporter;
  if (reporter.report != nullptr) reporter.report(reporter.context, event);
}

// A page the page map places at or beyond the end of the file.  The map
// keeps entries for logical pages the file has not grown to (engines leave
// them in healthy files); only a file that ends inside a page is visibly
// cut short, and then the page is damage.
inline void ReportMappedOutsideFile(const DataFile* dataFile, int64_t offset,
                                    int64_t logicalPage) {
  if (dataFile->state->reporter.report == nullptr) return;
  const bool cut = dataFile->state->fileSize % dataFile->pageSize != 0;
  ReportEventAs(dataFile, ReaderEvent{ReaderEventKind::PageOutsideFile, offset, logicalPage,
                                      -1, cut});
}

// The same, damage or not as its kind says.
inline void ReportEvent(const DataFile* dataFile, ReaderEventKind kind,
                        int64_t offset, int64_t logicalPage, int64_t record = -1) {
  if (dataFile->state->reporter.report == nullptr) return;
  ReportEventAs(dataFile, ReaderEvent{kind, offset, logicalPage, record,
                                      ReaderEventKindIsDamage(kind)});
}

#endif  // GANDREL_READER_READER_STATE_H_
