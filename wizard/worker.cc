// The worker thread: collection of the data files of a directory run, and
// the record loop that dumps one data file.
//
// The worker reads only g_run.job, writes fileList, the counters and the
// current file's particulars (under g_run.lock), and ends by posting
// kMsgWorkerFinished to the main window, the only window it names.  What the
// page shows is the window thread's business (processing_page.cc).
#include <windows.h>

#include <direct.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "dump/dump_writer.h"
#include "reader/datafile.h"
#include "wizard/wizard.h"

namespace {

constexpr uint32_t kRecordAreaSize = 64000;

// Deepest directory level a recursive run descends to, the source being
// level 0.  Links and junctions are never followed; this bound is the safety
// net against a tree that leads back into itself some other way.
constexpr int kMaxDirectoryDepth = 64;

bool StillRunning() { return g_run.running.load() != 0; }

// The file begun: its name for the FileName label.
void PublishFileName(const char* dataPath) {
  EnterCriticalSection(&g_run.lock);
  std::memcpy(g_run.current.dataPath, dataPath, std::strlen(dataPath) + 1);
  ++g_run.current.fileSerial;
  LeaveCriticalSection(&g_run.lock);
}

// The file opened: its figures, and the records bar starts again.
void PublishOpenedFile(const DataFile& dataFile) {
  EnterCriticalSection(&g_run.lock);
  FileParticulars& current = g_run.current;
  current.version = dataFile.version;
  current.pageSize = dataFile.pageSize;
  current.recordCount = dataFile.recordCount;
  current.recordLength = dataFile.recordLength;
  g_run.recordsDone.store(0);
  ++current.openSerial;
  LeaveCriticalSection(&g_run.lock);
}

bool AppendToFileList(const char* path) {
  WizardRun& w = g_run;
  void* grown = std::realloc(w.fileList, (static_cast<size_t>(w.fileCount) + 1) * kPathCapacity);
  if (grown == nullptr) return false;
  w.fileList = static_cast<char(*)[kPathCapacity]>(grown);
  std::memcpy(w.fileList[w.fileCount], path, std::strlen(path) + 1);
  ++w.fileCount;
  return true;
}

// Scans `directory` into fileList, depth first.  Returns false when the run
// was cancelled; every search on the way down is closed before returning.
bool CollectFiles(const char* directory, const char* extension, int depth) {
  const WorkerJob& job = g_run.job;
  char pattern[kPathCapacity];
  if (!JoinPath(pattern, directory, "*")) {
    ++g_run.notOpened;  // a directory too deep to name is not searched
    return true;
  }
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return true;  // nothing from here

  bool carryOn = true;
  do {
    if (!StillRunning()) {
      carryOn = false;
      break;
    }
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      // Directories count only in a recursive run; ".", ".." and every
      // name that begins with a point are passed over.
      if (job.sourceMode != kModeRecursive || entry.cFileName[0] == '.') continue;
      // A link or junction may lead back up the tree: not followed.
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
      if (depth >= kMaxDirectoryDepth) continue;
      char subdirectory[kPathCapacity];
      if (!JoinPath(subdirectory, directory, entry.cFileName)) {
        ++g_run.notOpened;
        continue;
      }
      if (!CollectFiles(subdirectory, extension, depth + 1)) {
        carryOn = false;
        break;
      }
      continue;
    }
    UpperCaseInPlace(entry.cFileName);
    if (!NameMatchesExtension(entry.cFileName, extension)) continue;
    char path[kPathCapacity];
    if (!JoinPath(path, directory, entry.cFileName)) {
      ++g_run.notOpened;  // its name would not fit; never cut short
      continue;
    }
    if (!AppendToFileList(path)) break;  // out of memory: keep what we have
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return carryOn;
}

// Dumps one data file into one dump file, publishing the file's particulars
// and counting its records and the file.  A file the reader refuses is counted and skipped;
// a dump file that cannot be made is counted, and its records are read all
// the same so that the bars move as usual.
void DumpOneFile(const char* dataPath, const char* dumpPath) {
  const WorkerJob& job = g_run.job;
  std::vector<uint8_t> area(kRecordAreaSize, 0);
  RecordBuffer record = {};
  record.length = kRecordAreaSize;

  PublishFileName(dataPath);

  DataFile dataFile = {};
  ReaderStatus status = OpenDataFile(dataPath, &dataFile, ReaderVariant::Wizard);
  if (status != kReaderOk) {
    ++g_run.notOpened;
    ++g_run.filesDone;
    return;
  }
  FILE* dump = std::fopen(dumpPath, "wb");
  if (dump != nullptr) {
    ++g_run.dumped;
  } else {
    ++g_run.notCreated;
  }

  PublishOpenedFile(dataFile);

  status = ReadNextRecord(&dataFile, &record, area.data());
  // A record longer than the area (status 6) is left out, and the loop goes
  // on with the next one: the area holds only its first 64000 bytes, and
  // writing them would pass a cut record off as whole.
  while (status == kReaderOk || status == kReaderTooSmall) {
    if (status == kReaderOk) {
      WriteDumpRecord(job.dumpFormat, record.length, area.data(), dump);
    } else {
      ++g_run.recordsTooLong;
    }
    if (!StillRunning()) break;  // cancelled: this dump file ends here
    std::memset(area.data(), 0, kRecordAreaSize);
    record.length = kRecordAreaSize;
    ++g_run.recordsDone;
    status = ReadNextRecord(&dataFile, &record, area.data());
  }
  CloseDataFile(&dataFile, status);
  if (dump != nullptr) std::fclose(dump);
  ++g_run.filesDone;
}

// The worker's last steps: the outcome recorded, `running` cleared, and
// the window thread told; the outcome text is its to show.
DWORD FinishRun(bool cancelled) {
  WizardRun& w = g_run;
  w.cancelled.store(cancelled ? 1 : 0);
  w.running.store(0);
  PostMessageA(w.job.mainWindow, kMsgWorkerFinished, w.job.runNumber, 0);
  w.workerAlive.store(0);
  return 0;
}

}  // namespace

DWORD WINAPI SingleFileWorker(LPVOID) {
  const WorkerJob& job = g_run.job;
  DumpOneFile(job.sourcePath, job.outputPath);
  return FinishRun(!StillRunning());
}

DWORD WINAPI DirectoryWorker(LPVOID) {
  WizardRun& w = g_run;
  const WorkerJob& job = w.job;

  if (!CollectFiles(job.sourcePath, job.sourceExtension, 0)) return FinishRun(true);

  w.filesTotal.store(static_cast<uint32_t>(w.fileCount));
  for (int32_t i = 0; i < w.fileCount; ++i) {
    if (!StillRunning()) return FinishRun(true);
    const char* dataPath = w.fileList[i];
    const char* relative = RelativePart(dataPath, job.sourcePath);
    char dumpPath[kPathCapacity];
    if (!BuildDumpPath(dumpPath, job.outputPath, relative, job.outputExtension)) {
      ++g_run.notOpened;  // no room for its dump path; never cut short
      ++g_run.filesDone;
      continue;
    }
    // Existing directories are fine; one that cannot be made shows up as
    // a dump file that cannot be created.
    for (const std::string& directory : IntermediateDirectories(job.outputPath, relative)) {
      _mkdir(directory.c_str());
      if (!StillRunning()) return FinishRun(true);
    }
    DumpOneFile(dataPath, dumpPath);
  }
  return FinishRun(!StillRunning());
}
