// Opening and closing a data file: the control page copies, the version and
// the geometry, the read plan made of them, and the buffers the cursor reads
// through.
#include "reader/datafile.h"

#include <cstdlib>
#include <new>

#include "reader/control_page.h"
#include "reader/format.h"
#include "reader/owner_protection.h"
#include "reader/page_directory.h"
#include "reader/page_map.h"
#include "reader/page_header.h"
#include "reader/page_scan.h"
#include "reader/reader_state.h"
#include "reader/read_plan.h"
#include "reader/stream.h"
#include "reader/v8_layout.h"
#include "reader/version_rules.h"

namespace {

// Bytes of each control page copy the programs read before 0x0800 (from
// 0x0800 both read kV8ControlBytes).
size_t ControlBytes(ReaderVariant variant) {
  return variant == ReaderVariant::Console ? kControlBytesConsole : kControlBytesWizard;
}

// Decodes the control page copies; copy 1 is in `copy1` (`got` bytes).
ReaderStatus ReadControlPage(DataFile* dataFile, ReaderVariant variant,
                             const uint8_t* copy1, uint32_t got,
                             const VersionRules** rules, ControlInfo* info) {
  uint8_t copy2[kControlBytesMost] = {};
  if (ChoosesActiveCopy((*rules)->control)) {
    if (got < kV8ControlBytes) return kReaderUnusable;
    const uint32_t copyBytes = V8CopyBytes(copy1);
    if (copyBytes == 0) return kReaderUnusable;
    const bool haveCopy2 = ReadFileAt(dataFile, copyBytes, copy2, kV8ControlBytes);
    const ReaderStatus status = DecodeV8Control(copy1, haveCopy2 ? copy2 : nullptr, info);
    *rules = FindVersionRules(info->version);
    return status;
  }
  const uint32_t controlBytes = static_cast<uint32_t>(ControlBytes(variant));
  if (got < controlBytes) return kReaderUnusable;
  const uint8_t* second = nullptr;
  if ((*rules)->secondCopyPage != 0) {
    const uint32_t pageSize = OldPageSize(copy1);
    if (pageSize >= kMinPageSize &&
        !ReadFileAt(dataFile, static_cast<int64_t>((*rules)->secondCopyPage) * pageSize,
                    copy2, controlBytes)) {
      return kReaderUnusable;
    }
    second = copy2;
  }
  return DecodeOldControl(**rules, copy1, second, info);
}

// The headers of the first pages after the control pages, weighed for
// owner encryption (reader/owner_protection.h).
ClearPageEvidence WeighPagesAfterControl(DataFile* dataFile, const VersionRules& rules) {
  ClearPageEvidence evidence;
  const uint64_t first = FirstPageAfterControl(rules);
  for (uint64_t physical = first; physical < first + kOwnerSamplePages; ++physical) {
    uint8_t header[kPageHeaderBytes];
    const int64_t offset = PhysicalPageOffset(dataFile, physical);
    if (offset < 0 || !ReadFileAt(dataFile, offset, header, sizeof header)) break;
    WeighPageHeader(rules, header, physical, dataFile->pageCount, &evidence);
  }
  return evidence;
}

void ApplyControl(DataFile* dataFile, const VersionRules& rules, const ControlInfo& info) {
  dataFile->version = info.version;
  dataFile->pageSize = static_cast<uint16_t>(info.pageSize);
  dataFile->mapEntriesPerPage = info.mapEntriesPerPage;
  dataFile->recordCount = info.recordCount;
  dataFile->fragmentHeaderSize = rules.fragmentHeaderSize;
  dataFile->variableLength = info.variableLength;
  dataFile->recordLength = info.recordLength;
  dataFile->slotLength = info.slotLength;
  dataFile->slotDataOffset = info.slotDataOffset;
  dataFile->state->copyBytes = info.copyBytes;
  dataFile->state->controlUsage = info.usage;
}

}  // namespace

const char* ReaderStatusName(ReaderStatus status) {
  switch (status) {
    case kReaderOk: return "ok";
    case kReaderUnusable: return "file cannot be used";
    case kReaderDirectoryFull: return "page directory cannot grow";
    case kReaderNoDataFile: return "no data file";
    case kReaderEnd: return "no more records";
    case kReaderTooSmall: return "record larger than the destination";
    case kReaderBadVersion: return "unsupported format version";
  }
  return "unknown status";
}

const char* ReaderEventName(ReaderEventKind kind) {
  switch (kind) {
    case ReaderEventKind::PageUnreadable: return "page unreadable";
    case ReaderEventKind::PageOutsideFile: return "page outside the file";
    case ReaderEventKind::PageWrongNumber: return "page carries another number";
    case ReaderEventKind::PageNotData: return "not the page the map names";
    case ReaderEventKind::PageStaleCopy: return "stale copy of a page";
    case ReaderEventKind::PageFreed: return "page not in use";
    case ReaderEventKind::PageZeroHeader: return "data page with an empty header";
    case ReaderEventKind::MapDamaged: return "page map damaged";
    case ReaderEventKind::ChainLoop: return "fragment chain loops";
    case ReaderEventKind::ChainMissingPage: return "fragment page missing";
    case ReaderEventKind::ChainDamagedTable: return "fragment table damaged";
    case ReaderEventKind::ChainBound: return "fragment chain too long";
    case ReaderEventKind::ChainUnreadable: return "fragment page unreadable";
    case ReaderEventKind::ChainChunkShort: return "chunk shorter than its table says";
    case ReaderEventKind::DirectoryFull: return "page directory full";
    case ReaderEventKind::RecordTooLong: return "record too long";
    case ReaderEventKind::FileEncrypted: return "file encrypted by its owner";
    case ReaderEventKind::OwnerNamed: return "owner name set, pages in clear";
  }
  return "unknown event";
}

bool ReaderEventKindIsDamage(ReaderEventKind kind) {
  switch (kind) {
    case ReaderEventKind::PageStaleCopy:
    case ReaderEventKind::PageFreed:
    case ReaderEventKind::DirectoryFull:
    case ReaderEventKind::RecordTooLong:
    case ReaderEventKind::FileEncrypted:
    case ReaderEventKind::OwnerNamed:
      return false;
    default:
      return true;
  }
}

PageKindResult PageKind(const DataFile* dataFile, const uint8_t* page) {
  return ClassifyPage(dataFile->state->plan.kind, page);
}

ReaderStatus OpenDataFile(const char* path, DataFile* dataFile,
                          ReaderVariant variant, const ReaderReporter* reporter) {
  if (dataFile == nullptr) return kReaderNoDataFile;
  *dataFile = DataFile{};
  dataFile->recordIndex = -1;
  dataFile->nextSlot = ~0u;
  if (path == nullptr) return kReaderUnusable;
  dataFile->state = new (std::nothrow) ReaderState();
  if (dataFile->state == nullptr) return kReaderUnusable;
  if (reporter != nullptr) dataFile->state->reporter = *reporter;
  if (!OpenStream(dataFile, path)) return CloseDataFile(dataFile, kReaderUnusable);

  uint8_t copy1[kControlBytesMost] = {};
  const uint32_t got = ReadFileUpTo(dataFile, 0, copy1, sizeof copy1);
  const size_t least = variant == ReaderVariant::Console ? kControlBytesConsole
                                                         : kControlBytesWizard;
  if (got < least) return CloseDataFile(dataFile, kReaderUnusable);
  ControlInfo info;
  ReaderStatus status = DecodeLayout(copy1, &info);
  if (status != kReaderOk) return CloseDataFile(dataFile, status);
  const VersionRules* rules = FindVersionRules(info.version);
  if (rules == nullptr) return CloseDataFile(dataFile, kReaderBadVersion);
  status = ReadControlPage(dataFile, variant, copy1, got, &rules, &info);
  if (status != kReaderOk) return CloseDataFile(dataFile, status);

  ReaderState* state = dataFile->state;
  ApplyControl(dataFile, *rules, info);
  state->plan = MakeReadPlan(*rules, variant, info);
  dataFile->pageCursor = state->plan.pageSource == PageSource::LogicalWalk ? 1 : 0;
  state->pageBytes = static_cast<uint8_t*>(malloc(dataFile->pageSize));
  dataFile->pageBuffer = state->pageBytes;
  if (dataFile->pageBuffer == nullptr) return CloseDataFile(dataFile, kReaderUnusable);
  dataFile->pageCount = state->fileSize / dataFile->pageSize;
  // An owner's encrypted pages read as noise: refuse the file rather than
  // hand out ciphertext as records.  The mode byte only claims it; pages
  // that read in clear are read.
  if (info.encrypted && !PagesInClear(WeighPagesAfterControl(dataFile, *rules))) {
    ReportEvent(dataFile, ReaderEventKind::FileEncrypted, 0, -1);
    return CloseDataFile(dataFile, kReaderUnusable);
  }
  if (info.ownerProtected) {
    ReaderEvent named{ReaderEventKind::OwnerNamed, 0, -1, -1, false, info.ownerMode};
    ReportEventAs(dataFile, named);
  }

  ScanPages(dataFile);
  if (state->plan.sortDataPages) SortDataPages(dataFile);
  if (dataFile->variableLength != 0) {
    dataFile->variablePageBuffer = static_cast<uint8_t*>(malloc(dataFile->pageSize));
    if (dataFile->variablePageBuffer == nullptr) {
      return CloseDataFile(dataFile, kReaderUnusable);
    }
  }
  return kReaderOk;
}

ReaderStatus CloseDataFile(DataFile* dataFile, ReaderStatus status) {
  if (dataFile == nullptr) return status;
  CloseStream(dataFile);
  free(dataFile->dataPages);
  free(dataFile->variablePages);
  FreePageBuffers(dataFile);  // pageBuffer points into one of them
  free(dataFile->variablePageBuffer);
  delete dataFile->state;
  dataFile->dataPages = nullptr;
  dataFile->dataPageCount = 0;
  dataFile->variablePages = nullptr;
  dataFile->variablePageCount = 0;
  dataFile->pageBuffer = nullptr;
  dataFile->variablePageBuffer = nullptr;
  dataFile->currentRecord = nullptr;
  dataFile->state = nullptr;
  return status;
}
