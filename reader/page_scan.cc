#include "reader/page_scan.h"

#include "reader/page_directory.h"
#include "reader/page_header.h"
#include "reader/page_map.h"
#include "reader/reader_state.h"
#include "reader/stream.h"

namespace {

// Lists a page of the kinds the plan keeps.
void ListPage(DataFile* dataFile, const uint8_t* page, int64_t offset) {
  const ReadPlan& plan = dataFile->state->plan;
  const PageKindResult kind = ClassifyPage(plan.kind, page);
  if ((kind == PageKindResult::Data && plan.listsDataPages) ||
      (kind == PageKindResult::Variable && plan.listsVariablePages)) {
    AddPageEntry(dataFile, page, kind, offset);
  }
}

// Every physical page in file order, control and map pages and stale
// copies included, until a read fails at the end of the file.  The pages
// are viewed in the read-ahead window, which reads the file in pieces of
// its full size: each page is copied once, by the runtime, into it.
void ScanPhysicalPages(DataFile* dataFile) {
  for (uint64_t physical = 0;; ++physical) {
    const int64_t offset = PhysicalPageOffset(dataFile, physical);
    const uint8_t* page = ViewPassPage(dataFile, offset, kReadAheadBytes);
    if (page == nullptr) {
      // A last page cut short is the one page of the file not looked at.
      if (offset < dataFile->state->fileSize) {
        ReportEvent(dataFile, ReaderEventKind::PageUnreadable, offset, -1);
      }
      return;
    }
    ListPage(dataFile, page, offset);
  }
}

// Logical pages through the page map; a page that cannot be read is
// skipped and the pass goes on.
void ScanLogicalPages(DataFile* dataFile) {
  uint8_t* page = dataFile->pageBuffer;
  for (int64_t logical = 1; logical < dataFile->pageCount && logical <= INT32_MAX;
       ++logical) {
    const int64_t offset = PageOffset(dataFile, static_cast<int32_t>(logical));
    if (offset < 0) continue;
    if (offset >= dataFile->state->fileSize) {
      ReportMappedOutsideFile(dataFile, offset, logical);
      continue;
    }
    if (!ReadFileAt(dataFile, offset, page, dataFile->pageSize)) {
      ReportEvent(dataFile, ReaderEventKind::PageUnreadable, offset, logical);
      continue;
    }
    ListPage(dataFile, page, offset);
  }
}

}  // namespace

void ScanPages(DataFile* dataFile) {
  switch (dataFile->state->plan.directory) {
    case DirectoryBuild::None:
      return;
    case DirectoryBuild::PhysicalScan:
      ScanPhysicalPages(dataFile);
      return;
    case DirectoryBuild::LogicalScan:
      ScanLogicalPages(dataFile);
      return;
    case DirectoryBuild::AllocationTables:
      ScanAllocationTables(dataFile);
      return;
  }
}
