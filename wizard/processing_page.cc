// The processing page, on the window thread: its controls, the start of a
// run, Cancel, the timer that shows the run's counters, and the end of a
// run.  The worker (worker.cc) writes only counters and particulars into
// g_run; every label text and bar position is set here.  The page's windows
// may be destroyed while the worker still runs (Back, then No): the timer and
// the end of the run then find another page on screen and leave it alone.
#include <windows.h>

#include <commctrl.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "wizard/wizard.h"

WizardRun g_run;

namespace {

// What the timer last put on screen for the run on the page.
struct ShownState {
  uint32_t fileSerial;
  uint32_t openSerial;
  uint32_t filesTotal;
};

ShownState g_shown;

// The bars count with 32-bit ranges, so files of 65536 records and more
// still show their true progress.  Each range starts from an empty bar.
void SetBarRange(HWND bar, uint32_t maximum) {
  if (bar == nullptr) return;
  const LPARAM top = maximum > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<LPARAM>(maximum);
  SendMessageA(bar, PBM_SETRANGE32, 0, top);
  SendMessageA(bar, PBM_SETSTEP, 1, 0);
  SendMessageA(bar, PBM_SETPOS, 0, 0);
}

void SetBarPosition(HWND bar, uint32_t position) {
  if (bar == nullptr) return;
  const WPARAM shown = position > static_cast<uint32_t>(INT_MAX) ? INT_MAX : position;
  SendMessageA(bar, PBM_SETPOS, shown, 0);
}

void SetNumberLabel(HWND label, const char* caption, uint32_t value) {
  char text[kLabelCapacity];
  FormatNumberLabel(text, sizeof text, caption, value);
  SetLabelText(label, text);
}

// The labels of the file being dumped, each set only when the worker has
// moved on to another file (or opened it) since the last refresh.
void ShowParticulars(const FileParticulars& current) {
  char text[kLabelCapacity];
  if (current.fileSerial != g_shown.fileSerial) {
    FormatFileNameLabel(text, sizeof text, current.dataPath);
    SetLabelText(g_processingPage.fileNameLabel, text);
    g_shown.fileSerial = current.fileSerial;
  }
  if (current.openSerial == g_shown.openSerial) return;
  FormatVersionLabel(text, sizeof text, current.version);
  SetLabelText(g_processingPage.versionLabel, text);
  SetNumberLabel(g_processingPage.pageSizeLabel, kPageSizeCaption, current.pageSize);
  SetNumberLabel(g_processingPage.recordCountLabel, kRecordCountCaption, current.recordCount);
  SetNumberLabel(g_processingPage.recordLengthLabel, kRecordLengthCaption, current.recordLength);
  SetBarRange(g_processingPage.recordsBar, current.recordCount);
  g_shown.openSerial = current.openSerial;
}

// One refresh: particulars, then the two bars from the counters.
void RefreshProcessingPage() {
  FileParticulars current;
  EnterCriticalSection(&g_run.lock);
  current = g_run.current;
  LeaveCriticalSection(&g_run.lock);
  ShowParticulars(current);
  SetBarPosition(g_processingPage.recordsBar, g_run.recordsDone.load());
  const uint32_t filesTotal = g_run.filesTotal.load();
  if (filesTotal != g_shown.filesTotal) {
    SetBarRange(g_processingPage.filesBar, filesTotal);
    g_shown.filesTotal = filesTotal;
  }
  SetBarPosition(g_processingPage.filesBar, g_run.filesDone.load());
}

// Removes the bars and relabels Cancel "End".
void ShowRunEnded() {
  RemoveControls(g_processingPage.recordsBar, g_processingPage.filesBar);
  g_processingPage.recordsBar = nullptr;
  g_processingPage.filesBar = nullptr;
  SetWindowTextA(g_processingPage.cancelButton, "End");
}

// The processing page's controls, one row each, in the order of the page.
void CreateProcessingControls() {
  g_processingPage = ProcessingPageWindows{};
  ProcessingPageWindows& k = g_processingPage;
  const int8_t main = kMainWindowRow;
  const ControlRow rows[] = {
      {"Processing", StaticText, main, nullptr, 440, 72, 140, 15, nullptr, nullptr},
      {"", StaticText, main, nullptr, 20, 105, 550, 15, &k.statusLabel, "Processing file(s)"},
      {"", GroupBox, main, nullptr, 20, 120, 515, 200, nullptr, nullptr},
      {kFileNameCaption, StaticText, main, nullptr, 30, 135, 550, 15, &k.fileNameLabel, nullptr},
      {kRecordLengthCaption, StaticText, main, nullptr, 30, 165, 250, 15, &k.recordLengthLabel,
       nullptr},
      {kVersionCaption, StaticText, main, nullptr, 270, 165, 550, 15, &k.versionLabel, nullptr},
      {kPageSizeCaption, StaticText, main, nullptr, 30, 195, 100, 15, &k.pageSizeLabel, nullptr},
      {kRecordCountCaption, StaticText, main, nullptr, 270, 195, 550, 15, &k.recordCountLabel,
       nullptr},
      {"", ProgressBar, main, nullptr, 25, 240, 505, 25, &k.recordsBar, nullptr},
      {"", ProgressBar, main, nullptr, 25, 280, 505, 25, &k.filesBar, nullptr},
      {"Cancel", PushButton, main, OnCancelProcessing, 440, 330, 100, 25, &k.cancelButton, nullptr},
      {"Back", PushButton, main, OnBack, 330, 330, 100, 25, nullptr, nullptr},
      {"pendlox.dat", Bitmap, main, nullptr, 0, 0, 0, 0, nullptr, nullptr},
  };
  CreateRows(rows, static_cast<int>(sizeof rows / sizeof rows[0]));
}

// A fresh run: the worker's own copy of the settings (the output page may
// be shown and changed again while it runs) and zeroed counters.
void PrepareRun(bool singleFile) {
  const WizardState& w = g_wizard;
  WizardRun& run = g_run;
  WorkerJob& job = run.job;
  job.runNumber = ++run.number;
  job.sourceMode = g_settings.sourceMode;
  job.dumpFormat = g_settings.dumpFormat;
  std::memcpy(job.sourcePath, g_settings.sourcePath, kPathCapacity);
  std::memcpy(job.sourceExtension, g_settings.sourceExtension, kPathCapacity);
  std::memcpy(job.outputPath, g_settings.outputPath, kPathCapacity);
  std::memcpy(job.outputExtension, g_settings.outputExtension, kPathCapacity);
  job.mainWindow = w.mainWindow;
  for (std::atomic<uint32_t>* counter : {&run.recordsDone, &run.filesDone, &run.dumped,
                                         &run.notOpened, &run.notCreated, &run.recordsTooLong}) {
    counter->store(0);
  }
  run.filesTotal.store(singleFile ? 1 : 0);
  run.cancelled.store(0);
  EnterCriticalSection(&run.lock);
  g_shown = {run.current.fileSerial, run.current.openSerial, run.filesTotal.load()};
  LeaveCriticalSection(&run.lock);
}

}  // namespace

void BuildProcessingPage() {
  WizardState& w = g_wizard;
  WizardRun& run = g_run;
  DestroyAllControls();
  std::free(run.fileList);
  run.fileList = nullptr;
  run.fileCount = 0;
  CreateProcessingControls();
  const bool singleFile = IsSingleFileMode(g_settings.sourceMode);
  PrepareRun(singleFile);
  g_settings.page = kPageProcessing;

  if (singleFile) SetBarRange(g_processingPage.filesBar, 1);
  // The run counts as going on from here, before the thread's first step.
  run.running.store(1);
  run.workerAlive.store(1);
  SetTimer(w.mainWindow, kRefreshTimer, kRefreshInterval, nullptr);
  run.thread = CreateThread(nullptr, 0, singleFile ? SingleFileWorker : DirectoryWorker,
                            nullptr, 0, nullptr);
  if (run.thread == nullptr) {
    run.running.store(0);
    run.workerAlive.store(0);
    OnWorkerFinished(run.job.runNumber);
  }
}

void AskToCancelRun() {
  if (g_run.running.load() == 0) return;
  if (MessageBoxA(g_wizard.mainWindow, "Are you sure you want to cancel?", "Quit?",
                  MB_ICONQUESTION | MB_YESNO) == IDYES) {
    g_run.running.store(0);
  }
}

void OnCancelProcessing() {
  WizardState& w = g_wizard;
  WizardRun& run = g_run;
  if (run.running.load() != 0) {
    AskToCancelRun();
    ShowRunEnded();
    return;
  }
  // A cancelled worker may not have reached its next check yet; its list
  // goes with the process.
  if (run.workerAlive.load() == 0) {
    std::free(run.fileList);
    run.fileList = nullptr;
    run.fileCount = 0;
  }
  SendMessageA(w.mainWindow, WM_CLOSE, 0, 0);
}

void OnRefreshTimer() {
  if (g_settings.page != kPageProcessing) return;
  RefreshProcessingPage();
}

void OnWorkerFinished(uint32_t runNumber) {
  WizardState& w = g_wizard;
  const WizardRun& run = g_run;
  // A run whose page was left (Back) or replaced by a later run's page
  // has nothing of its own on screen any more.
  if (runNumber != run.number) return;
  KillTimer(w.mainWindow, kRefreshTimer);
  if (g_settings.page != kPageProcessing) return;
  RefreshProcessingPage();
  RunTally tally = {run.dumped.load(), run.notOpened.load(), run.notCreated.load(),
                    run.recordsTooLong.load(), run.cancelled.load() != 0};
  char text[kLabelCapacity];
  FormatRunSummary(text, sizeof text, tally);
  SetLabelText(g_processingPage.statusLabel, text);
  ShowRunEnded();
}
