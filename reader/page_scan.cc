#include "reader/page_scan.h"

#include <cstdlib>

#include "reader/page_directory.h"
#include "reader/page_header.h"
#include "reader/page_map.h"
#include "reader/reader_state.h"
#include "reader/stream.h"

namespace {

// The physical pass reads pages in batches of up to this many bytes, into a
// buffer at least as large as the stream's: the runtime then reads them
// straight into it, and no page is copied out of the stream's buffer only
// for its header to be looked at.
constexpr uint32_t kScanBatchBytes = 1 << 20;

// Lists a page of the kinds the plan keeps.
void ListPage(DataFile* dataFile, const uint8_t* page, int64_t offset) {
  const ReadPlan& plan = dataFile->state->plan;
  const PageKindResult kind = ClassifyPage(plan.kind, page);
  if ((kind == PageKindResult::Data && plan.listsDataPages) ||
      (kind == PageKindResult::Variable && plan.listsVariablePages)) {
    AddPageEntry(dataFile, page, kind, offset);
  }
}

// Classifies physical pages from 0 on, a batch of pages that lie back to
// back in the file at a time, as far as whole pages are there.  Returns the
// first physical page not scanned: the end of the file, or a batch that
// could not be read, which the page by page pass then takes over.
uint64_t ScanPhysicalBatches(DataFile* dataFile, uint8_t* batch) {
  const uint32_t pageSize = dataFile->pageSize;
  const int64_t fileSize = dataFile->state->fileSize;
  const uint64_t batchPages = kScanBatchBytes / pageSize;
  uint64_t physical = 0;
  for (;;) {
    const int64_t start = PhysicalPageOffset(dataFile, physical);
    if (start < 0 || start > fileSize - static_cast<int64_t>(pageSize)) return physical;
    const uint64_t whole = static_cast<uint64_t>(fileSize - start) / pageSize;
    uint64_t pages = 1;
    // Not across the 4096-byte gap.
    while (pages < batchPages && pages < whole &&
           PhysicalPageOffset(dataFile, physical + pages) ==
               start + static_cast<int64_t>(pages * pageSize)) {
      ++pages;
    }
    // A read shorter than the stream's buffer goes through the buffer and
    // leaves part of it unread, and every later batch would then be copied
    // through it too.  Before the gap and at the end of the file the batch
    // reaches back over pages already scanned instead, so that it is whole.
    uint64_t back = 0;
    while (pages + back < batchPages && back < physical &&
           PhysicalPageOffset(dataFile, physical - back - 1) ==
               start - static_cast<int64_t>((back + 1) * pageSize)) {
      ++back;
    }
    const int64_t from = start - static_cast<int64_t>(back * pageSize);
    if (!ReadFileAt(dataFile, from, batch, static_cast<uint32_t>((back + pages) * pageSize))) {
      return physical;
    }
    for (uint64_t i = back; i < back + pages; ++i) {
      ListPage(dataFile, batch + i * pageSize, from + static_cast<int64_t>(i * pageSize));
    }
    physical += pages;
  }
}

// Every physical page in file order, control and map pages and stale
// copies included, until a read fails at the end of the file.
void ScanPhysicalPages(DataFile* dataFile) {
  uint8_t* page = dataFile->pageBuffer;
  uint64_t physical = 0;
  if (uint8_t* batch = static_cast<uint8_t*>(malloc(kScanBatchBytes))) {
    physical = ScanPhysicalBatches(dataFile, batch);
    free(batch);
  }
  for (;; ++physical) {
    const int64_t offset = PhysicalPageOffset(dataFile, physical);
    if (!ReadFileAt(dataFile, offset, page, dataFile->pageSize)) {
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
