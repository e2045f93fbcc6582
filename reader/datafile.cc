// Opening and closing a data file: the control page copies, the version and
// the geometry, and the buffers the cursor reads through.
#include "reader/datafile.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "reader/file_io.h"
#include "reader/format.h"
#include "reader/scratch.h"
#include "reader/version_layout.h"

namespace {

// Large enough that the page scan and the record walk, which read pages in
// file order, reach the disk in big pieces.  Sanitizer builds ask for less:
// their allocator maps and unmaps a block this large on every open, some
// milliseconds each, and the damage tests and the fuzzer open files by the
// ten thousand.  Only the size of the stream's reads changes.
#ifndef GANDREL_STREAM_BUFFER_SIZE
#define GANDREL_STREAM_BUFFER_SIZE (1 << 20)
#endif
constexpr size_t kStreamBufferSize = GANDREL_STREAM_BUFFER_SIZE;

size_t ControlBytes(ReaderVariant variant) {
  return variant == ReaderVariant::Console ? kControlBytesConsole
                                           : kControlBytesWizard;
}

// Greater counter wins; equal counters select copy 2.  A plain unsigned
// comparison: 0xFFFF beats 0.
bool FirstCopyIsCurrent(const uint8_t* copy1, const uint8_t* copy2) {
  return DecodeLE16(copy1 + kControlCounterOffset) >
         DecodeLE16(copy2 + kControlCounterOffset);
}

ReaderStatus OpenPages(DataFile* dataFile);

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

bool ReadFileAt(DataFile* dataFile, int64_t offset, uint8_t* buffer,
                uint32_t length) {
  ReaderScratch* scratch = dataFile->scratch;
  if (offset < 0) return false;
  if (scratch->streamPosition != offset) {
    if (!SeekFile(dataFile->file, offset)) {
      scratch->streamPosition = -1;
      return false;
    }
    scratch->streamPosition = offset;
  }
  size_t got = fread(buffer, 1, length, dataFile->file);
  if (got != length) {
    // A short read leaves the stream at end of file with its error flag set;
    // the next read seeks afresh.
    clearerr(dataFile->file);
    scratch->streamPosition = -1;
    return false;
  }
  scratch->streamPosition = offset + length;
  return true;
}

// Loads the variable page at `offset`, unless it is the one already loaded.
bool LoadVariablePage(DataFile* dataFile, int64_t offset) {
  ReaderScratch* scratch = dataFile->scratch;
  if (scratch->variablePageOffset == offset) return true;
  scratch->variablePageOffset = -1;
  if (!ReadFileAt(dataFile, offset, dataFile->variablePageBuffer,
                  dataFile->pageSize)) {
    return false;
  }
  scratch->variablePageOffset = offset;
  return true;
}

void CopyPageBytes(const uint8_t* page, uint32_t pageSize, uint64_t start,
                   uint32_t length, uint8_t* out) {
  uint32_t inside = 0;
  if (start < pageSize) {
    uint64_t available = pageSize - start;
    inside = available < length ? static_cast<uint32_t>(available) : length;
    memcpy(out, page + start, inside);
  }
  if (inside < length) memset(out + inside, 0, length - inside);
}

ReaderStatus OpenDataFile(const char* path, DataFile* dataFile,
                          ReaderVariant variant) {
  if (dataFile == nullptr) return kReaderNoDataFile;

  *dataFile = DataFile{};
  dataFile->recordIndex = -1;
  dataFile->nextSlot = ~0u;
  dataFile->variant = variant;
  dataFile->pageCursor = variant == ReaderVariant::Console ? 1 : 0;

  if (path == nullptr) return kReaderUnusable;
  dataFile->file = fopen(path, "rb");
  if (dataFile->file == nullptr) return kReaderUnusable;
  dataFile->scratch = new (std::nothrow) ReaderScratch();
  if (dataFile->scratch == nullptr) {
    return CloseDataFile(dataFile, kReaderUnusable);
  }
  // The runtime takes a buffer size only together with a buffer: given none,
  // glibc keeps its 4 KiB default and reads the file 4 KiB per system call.
  // Without the memory the stream keeps its own buffer, only slower.
  dataFile->scratch->streamBuffer = static_cast<char*>(malloc(kStreamBufferSize));
  if (dataFile->scratch->streamBuffer != nullptr) {
    setvbuf(dataFile->file, dataFile->scratch->streamBuffer, _IOFBF,
            kStreamBufferSize);
  }
  SkipStreamLocking(dataFile->file);
  dataFile->scratch->streamPosition = 0;

  const size_t controlBytes = ControlBytes(variant);
  uint8_t copy1[kControlBytesWizard];
  uint8_t copy2[kControlBytesWizard];
  if (!ReadFileAt(dataFile, 0, copy1, static_cast<uint32_t>(controlBytes))) {
    return CloseDataFile(dataFile, kReaderUnusable);
  }

  const uint32_t signature = DecodeLE32(copy1 + kControlSignatureOffset);
  size_t versionOffset;
  if (signature == kSignaturePlain) {
    versionOffset = kControlVersionPlainOffset;
    dataFile->slotDataOffset = 0;
  } else if (signature == kSignatureFc) {
    versionOffset = kControlVersionFcOffset;
    dataFile->slotDataOffset = kFcSlotDataOffset;
  } else {
    return CloseDataFile(dataFile, kReaderUnusable);
  }

  // The version is the absolute value of a signed word; -32768 has none and
  // stays 0x8000, which no row accepts.
  const int16_t storedVersion =
      static_cast<int16_t>(DecodeLE16(copy1 + versionOffset));
  const int32_t absolute = storedVersion < 0 ? -static_cast<int32_t>(storedVersion)
                                             : storedVersion;
  dataFile->version = static_cast<uint16_t>(absolute);
  dataFile->variableLength = copy1[kControlVariableFlagOffset];
  dataFile->slotLength = DecodeLE16(copy1 + kControlSlotLengthOffset);
  dataFile->recordLength = DecodeLE16(copy1 + kControlRecordLengthOffset);

  const VersionLayout* layout = FindVersionLayout(dataFile->version);
  if (layout == nullptr) return CloseDataFile(dataFile, kReaderBadVersion);
  dataFile->layout = layout;

  if (layout->controlRule == ControlRule::ActiveCopyByWord6) {
    const ReaderStatus status = ReadV8ControlPage(dataFile);
    if (status != kReaderOk) return CloseDataFile(dataFile, status);
    return OpenPages(dataFile);
  }

  const uint32_t pageSize =
      layout->pageSizeFromByte43 ? copy1[kControlPageSizeBy256Offset] * 256u
                                 : DecodeLE16(copy1 + kControlPageSizeOffset);
  // A page must hold a page header and a map page at least one entry; a
  // slot length of zero gives no slots.  Such a control page is damaged.
  if (pageSize < kMinPageSize || dataFile->slotLength == 0) {
    return CloseDataFile(dataFile, kReaderUnusable);
  }
  dataFile->pageSize = static_cast<uint16_t>(pageSize);
  dataFile->fragmentHeaderSize = layout->fragmentHeaderSize;

  const uint8_t* current = copy1;
  if (layout->readsSecondCopy) {
    const uint32_t pagesIn = variant == ReaderVariant::Console
                                 ? layout->secondCopyPageConsole
                                 : layout->secondCopyPageWizard;
    if (!ReadFileAt(dataFile, static_cast<int64_t>(pagesIn) * pageSize, copy2,
                    static_cast<uint32_t>(controlBytes))) {
      return CloseDataFile(dataFile, kReaderUnusable);
    }
    if (!FirstCopyIsCurrent(copy1, copy2)) current = copy2;
  }
  dataFile->recordCount = DecodeSwappedCount(current + kControlRecordCountOffset);

  if (layout->hasMapEntriesPerPage) {
    dataFile->mapEntriesPerPage = static_cast<int32_t>((pageSize - 8) / 4);
  }
  return OpenPages(dataFile);
}

namespace {

// The part of open that follows the control page: buffers, the file's size
// in pages and the page directory.
ReaderStatus OpenPages(DataFile* dataFile) {
  const VersionLayout* layout = dataFile->layout;
  const uint32_t pageSize = dataFile->pageSize;
  dataFile->pageBuffer = static_cast<uint8_t*>(malloc(pageSize));
  if (dataFile->pageBuffer == nullptr) {
    return CloseDataFile(dataFile, kReaderUnusable);
  }

  if (!SeekFile(dataFile->file, 0) || fseek(dataFile->file, 0, SEEK_END) != 0) {
    return CloseDataFile(dataFile, kReaderUnusable);
  }
  const int64_t fileSize = TellFile(dataFile->file);
  if (fileSize < 0) return CloseDataFile(dataFile, kReaderUnusable);
  dataFile->scratch->fileSize = fileSize;
  dataFile->scratch->streamPosition = -1;
  dataFile->pageCount = fileSize / pageSize;

  ScanPages(dataFile);
  if (layout->sortDataPages) SortDataPages(dataFile);

  if (dataFile->variableLength != 0) {
    dataFile->variablePageBuffer = static_cast<uint8_t*>(malloc(pageSize));
    if (dataFile->variablePageBuffer == nullptr) {
      return CloseDataFile(dataFile, kReaderUnusable);
    }
  }
  return kReaderOk;
}

}  // namespace

ReaderStatus CloseDataFile(DataFile* dataFile, ReaderStatus status) {
  if (dataFile == nullptr) return status;
  if (dataFile->file != nullptr) fclose(dataFile->file);
  free(dataFile->dataPages);
  free(dataFile->variablePages);
  free(dataFile->pageBuffer);
  free(dataFile->variablePageBuffer);
  // The stream's buffer outlives the stream: freed only after fclose.
  if (dataFile->scratch != nullptr) free(dataFile->scratch->streamBuffer);
  delete dataFile->scratch;
  dataFile->file = nullptr;
  dataFile->dataPages = nullptr;
  dataFile->dataPageCount = 0;
  dataFile->variablePages = nullptr;
  dataFile->variablePageCount = 0;
  dataFile->pageBuffer = nullptr;
  dataFile->variablePageBuffer = nullptr;
  dataFile->currentRecord = nullptr;
  dataFile->scratch = nullptr;
  return status;
}
