// The processing page and its worker thread: collection of the data files
// of a directory run, and the record loop that dumps one data file.
//
// Threads.  The window thread builds the page, copies the settings into
// g_wizard.job, sets `running` and `workerAlive`, then starts the worker;
// it starts no other worker while `workerAlive` is set.  The worker reads
// only the job, writes fileList and the tally, steps the bars and sets
// label texts (SendMessage, served by the window thread's message loop),
// and ends by posting kMsgWorkerFinished: removing the bars from the
// registry and relabelling Cancel happen on the window thread.  The page's
// windows may be destroyed while the worker still addresses them (Back, then
// No); calls on a destroyed window simply fail.
#include <windows.h>

#include <commctrl.h>
#include <direct.h>

#include <climits>
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

// What the current run did; written by the worker only (one at a time).
RunTally g_tally;

bool StillRunning() { return g_wizard.running.load() != 0; }

void StepBar(HWND bar) { SendMessageA(bar, PBM_STEPIT, 0, 0); }

// The records bar moves one step per record, passed on in batches: every
// message to the bar waits for the window thread, and one per record made a
// busy machine dump only tens of records a second.  The bar is brought up
// to date at least every kBarInterval milliseconds and when the file ends.
constexpr DWORD kBarInterval = 40;

struct BatchedSteps {
  HWND bar;
  uint32_t pending;
  DWORD lastSent;
};

void SendSteps(BatchedSteps& steps) {
  if (steps.pending > 0) SendMessageA(steps.bar, PBM_DELTAPOS, steps.pending, 0);
  steps.pending = 0;
  steps.lastSent = GetTickCount();
}

void StepBatched(BatchedSteps& steps) {
  ++steps.pending;
  if (GetTickCount() - steps.lastSent >= kBarInterval) SendSteps(steps);
}

// The bars count with 32-bit ranges, so files of 65536 records and more
// still show their true progress.  Each range starts from an empty bar.
void SetBarRange(HWND bar, uint32_t maximum) {
  const LPARAM top = maximum > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<LPARAM>(maximum);
  SendMessageA(bar, PBM_SETRANGE32, 0, top);
  SendMessageA(bar, PBM_SETSTEP, 1, 0);
  SendMessageA(bar, PBM_SETPOS, 0, 0);
}

void SetNumberLabel(HWND label, const char* caption, uint32_t value) {
  char text[kLabelCapacity];
  FormatNumberLabel(text, sizeof text, caption, value);
  SetLabelText(label, text);
}

bool AppendToFileList(const char* path) {
  WizardState& w = g_wizard;
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
  const WorkerJob& job = g_wizard.job;
  char pattern[kPathCapacity];
  if (!JoinPath(pattern, directory, "*")) {
    ++g_tally.notOpened;  // a directory too deep to name is not searched
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
        ++g_tally.notOpened;
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
      ++g_tally.notOpened;  // its name would not fit; never cut short
      continue;
    }
    if (!AppendToFileList(path)) break;  // out of memory: keep what we have
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return carryOn;
}

// Dumps one data file into one dump file, showing the file's particulars
// and stepping the bars.  A file the reader refuses is counted and skipped;
// a dump file that cannot be made is counted, and its records are read all
// the same so that the bars move as usual.
void DumpOneFile(const char* dataPath, const char* dumpPath) {
  const WorkerJob& job = g_wizard.job;
  char text[kLabelCapacity] = {};
  std::vector<uint8_t> area(kRecordAreaSize, 0);
  RecordBuffer record = {};
  record.length = kRecordAreaSize;

  FormatFileNameLabel(text, sizeof text, dataPath);
  SetLabelText(job.fileNameLabel, text);
  UpdateWindow(job.fileNameLabel);

  DataFile dataFile = {};
  ReaderStatus status = OpenDataFile(dataPath, &dataFile, ReaderVariant::Wizard);
  if (status != kReaderOk) {
    ++g_tally.notOpened;
    StepBar(job.filesBar);
    return;
  }
  FILE* dump = std::fopen(dumpPath, "wb");
  if (dump != nullptr) {
    ++g_tally.dumped;
  } else {
    ++g_tally.notCreated;
  }

  FormatVersionLabel(text, sizeof text, dataFile.version);
  SetLabelText(job.versionLabel, text);
  SetNumberLabel(job.pageSizeLabel, kPageSizeCaption, dataFile.pageSize);
  SetNumberLabel(job.recordCountLabel, kRecordCountCaption, dataFile.recordCount);
  SetNumberLabel(job.recordLengthLabel, kRecordLengthCaption, dataFile.recordLength);
  SetBarRange(job.recordsBar, dataFile.recordCount);

  BatchedSteps recordSteps = {job.recordsBar, 0, GetTickCount()};
  status = ReadNextRecord(&dataFile, &record, area.data());
  // A record longer than the area (status 6) is left out, and the loop goes
  // on with the next one: the area holds only its first 64000 bytes, and
  // writing them would pass a cut record off as whole.
  while (status == kReaderOk || status == kReaderTooSmall) {
    if (status == kReaderOk) {
      WriteDumpRecord(job.dumpFormat, record.length, area.data(), dump);
    } else {
      ++g_tally.recordsTooLong;
    }
    if (!StillRunning()) break;  // cancelled: this dump file ends here
    std::memset(area.data(), 0, kRecordAreaSize);
    record.length = kRecordAreaSize;
    StepBatched(recordSteps);
    status = ReadNextRecord(&dataFile, &record, area.data());
  }
  SendSteps(recordSteps);
  CloseDataFile(&dataFile, status);
  if (dump != nullptr) std::fclose(dump);
  StepBar(job.filesBar);
}

// The worker's last steps: the outcome on the "Processing file(s)" label,
// `running` cleared, and the window thread asked to remove the bars.
DWORD FinishRun(bool cancelled) {
  WizardState& w = g_wizard;
  const WorkerJob& job = w.job;
  g_tally.cancelled = cancelled;
  char text[kLabelCapacity];
  FormatRunSummary(text, sizeof text, g_tally);
  SetLabelText(job.statusLabel, text);
  w.running.store(0);
  PostMessageA(job.mainWindow, kMsgWorkerFinished, job.runNumber, 0);
  w.workerAlive.store(0);
  return 0;
}

}  // namespace

DWORD WINAPI SingleFileWorker(LPVOID) {
  const WorkerJob& job = g_wizard.job;
  DumpOneFile(job.sourcePath, job.outputPath);
  return FinishRun(!StillRunning());
}

DWORD WINAPI DirectoryWorker(LPVOID) {
  WizardState& w = g_wizard;
  const WorkerJob& job = w.job;

  if (!CollectFiles(job.sourcePath, job.sourceExtension, 0)) return FinishRun(true);

  SetBarRange(job.filesBar, static_cast<uint32_t>(w.fileCount));
  for (int32_t i = 0; i < w.fileCount; ++i) {
    if (!StillRunning()) return FinishRun(true);
    const char* dataPath = w.fileList[i];
    const char* relative = RelativePart(dataPath, job.sourcePath);
    char dumpPath[kPathCapacity];
    if (!BuildDumpPath(dumpPath, job.outputPath, relative, job.outputExtension)) {
      ++g_tally.notOpened;  // no room for its dump path; never cut short
      StepBar(job.filesBar);
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

namespace {

// The processing page's controls, one row each, in the order of the page.
void CreateProcessingControls() {
  WizardState& w = g_wizard;
  HWND main = w.mainWindow;
  CreateControl("Processing", ClassKind("STATIC"), main, nullptr, 440, 72, 140, 15);
  w.statusLabel = CreateControl("", ClassKind("STATIC"), main, nullptr, 20, 105, 550, 15);
  if (w.statusLabel != nullptr) SetWindowTextA(w.statusLabel, "Processing file(s)");
  CreateControl("", GroupBox, main, nullptr, 20, 120, 515, 200);
  w.fileNameLabel = CreateControl(kFileNameCaption, ClassKind("STATIC"), main, nullptr, 30, 135, 550, 15);
  w.recordLengthLabel =
      CreateControl(kRecordLengthCaption, ClassKind("STATIC"), main, nullptr, 30, 165, 250, 15);
  w.versionLabel = CreateControl(kVersionCaption, ClassKind("STATIC"), main, nullptr, 270, 165, 550, 15);
  w.pageSizeLabel = CreateControl(kPageSizeCaption, ClassKind("STATIC"), main, nullptr, 30, 195, 100, 15);
  w.recordCountLabel =
      CreateControl(kRecordCountCaption, ClassKind("STATIC"), main, nullptr, 270, 195, 550, 15);
  w.recordsBar = CreateControl("", ClassKind(""), main, nullptr, 25, 240, 505, 25);
  w.filesBar = CreateControl("", ClassKind(""), main, nullptr, 25, 280, 505, 25);
  w.cancelButton =
      CreateControl("Cancel", ClassKind("BUTTON"), main, OnCancelProcessing, 440, 330, 100, 25);
  CreateControl("Back", ClassKind("BUTTON"), main, OnBack, 330, 330, 100, 25);
  CreateControl("pendlox.dat", Bitmap, main, nullptr, 0, 0, 0, 0);
}

// The worker's own copy of the settings: the output page may be shown
// and changed again while it runs.
void PrepareWorkerJob() {
  WizardState& w = g_wizard;
  WorkerJob& job = w.job;
  job.runNumber = ++w.runNumber;
  job.sourceMode = w.sourceMode;
  job.dumpFormat = w.dumpFormat;
  std::memcpy(job.sourcePath, w.sourcePath, kPathCapacity);
  std::memcpy(job.sourceExtension, w.sourceExtension, kPathCapacity);
  std::memcpy(job.outputPath, w.outputPath, kPathCapacity);
  std::memcpy(job.outputExtension, w.outputExtension, kPathCapacity);
  job.mainWindow = w.mainWindow;
  job.statusLabel = w.statusLabel;
  job.fileNameLabel = w.fileNameLabel;
  job.versionLabel = w.versionLabel;
  job.pageSizeLabel = w.pageSizeLabel;
  job.recordCountLabel = w.recordCountLabel;
  job.recordLengthLabel = w.recordLengthLabel;
  job.recordsBar = w.recordsBar;
  job.filesBar = w.filesBar;
}

}  // namespace

void BuildProcessingPage() {
  WizardState& w = g_wizard;
  DestroyAllControls();
  std::free(w.fileList);
  w.fileList = nullptr;
  w.fileCount = 0;
  CreateProcessingControls();
  PrepareWorkerJob();
  g_tally = {};
  w.page = kPageProcessing;

  const bool singleFile = IsSingleFileMode(w.sourceMode);
  if (singleFile) SetBarRange(w.filesBar, 1);
  // The run counts as going on from here, before the thread's first step.
  w.running.store(1);
  w.workerAlive.store(1);
  w.workerThread = CreateThread(nullptr, 0, singleFile ? SingleFileWorker : DirectoryWorker,
                                nullptr, 0, nullptr);
  if (w.workerThread == nullptr) {
    w.running.store(0);
    w.workerAlive.store(0);
    OnWorkerFinished(w.job.runNumber);
  }
}

void OnCancelProcessing() {
  WizardState& w = g_wizard;
  if (w.running.load() != 0) {
    if (MessageBoxA(w.mainWindow, "Are you sure you want to cancel?", "Quit?",
                    MB_ICONQUESTION | MB_YESNO) == IDYES) {
      w.running.store(0);
    }
    RemoveControls(w.recordsBar, w.filesBar);
    SetWindowTextA(w.cancelButton, "End");
    return;
  }
  // A cancelled worker may not have reached its next check yet; its list
  // goes with the process.
  if (w.workerAlive.load() == 0) {
    std::free(w.fileList);
    w.fileList = nullptr;
    w.fileCount = 0;
  }
  SendMessageA(w.mainWindow, WM_CLOSE, 0, 0);
}

void OnWorkerFinished(uint32_t runNumber) {
  WizardState& w = g_wizard;
  // A run whose page was left (Back) or replaced by a later run's page
  // has nothing of its own on screen any more.
  if (w.page != kPageProcessing || runNumber != w.runNumber) return;
  RemoveControls(w.recordsBar, w.filesBar);
  SetWindowTextA(w.cancelButton, "End");
}
