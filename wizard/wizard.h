// The wizard gandrelgui: one fixed main window whose child controls are
// replaced page by page, and a worker thread that dumps the data files.
//
//   registry.cc     the control registry: CreateControl, DestroyAllControls,
//                   RemoveControls
//   main_window.cc  start-up, window class and procedure, ConfirmQuit
//   pages.cc        agreement, source and output pages, navigation, Browse
//   processing_page.cc  the processing page: start, cancel, timer, end of a run
//   worker.cc       the worker thread: collection of the files, record loop
//
// Everything but the worker runs on the window thread.  The worker reads its
// own copy of the settings (WorkerJob), writes counters and the current
// file's particulars into g_run, and posts kMsgWorkerFinished when it ends;
// the window thread's timer shows what the counters say.
#ifndef GANDREL_WIZARD_WIZARD_H_
#define GANDREL_WIZARD_WIZARD_H_

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "wizard/wizard_rules.h"

// --- Control registry -----------------------------------------------------------

// Called when its control sends WM_COMMAND; takes nothing, returns nothing.
using ClickHandler = void (*)();

// What CreateControl is asked for: a window class by name, or one of three
// codes.  The class name "EDIT" and the empty name (a progress bar) get
// their own styles; any other name is used as it is.
enum class KindCode : uint8_t {
  ClassName = 0,
  RadioButton = 4,
  GroupBox = 7,
  Bitmap = 14,
};

struct ControlKind {
  KindCode code;
  const char* className;  // for KindCode::ClassName only
};

constexpr ControlKind RadioButton = {KindCode::RadioButton, nullptr};
constexpr ControlKind GroupBox = {KindCode::GroupBox, nullptr};
constexpr ControlKind Bitmap = {KindCode::Bitmap, nullptr};
constexpr ControlKind ClassKind(const char* className) {
  return {KindCode::ClassName, className};
}
constexpr ControlKind StaticText = ClassKind("STATIC");
constexpr ControlKind PushButton = ClassKind("BUTTON");
constexpr ControlKind EditField = ClassKind("EDIT");
constexpr ControlKind ProgressBar = ClassKind("");

constexpr size_t kControlTextCapacity = 255;  // 254 characters and terminator

// One child control of the page on screen.
struct ControlRecord {
  char text[kControlTextCapacity];  // as created; a Bitmap's file name
  ClickHandler onClick;             // or none
  HWND window;                      // none when creation failed
  ControlKind kind;
};

// Creates one child control at client position x, y and appends its record.
// Radio buttons, edit fields and progress bars are always children of the
// main window.  A Bitmap loads the file named by `text` from the working
// directory and is counted only when both the image and the window exist;
// every other control is counted even when its window could not be made.
// Returns the new control's window (the `window` of its record), or none
// when no window was made or the registry could not grow.
HWND CreateControl(const char* text, ControlKind kind, HWND parent,
                   ClickHandler onClick, int x, int y, int width, int height);

// One control of a page as a row of a table: its text, kind, parent,
// click handler, place and size, where its window is kept, and a text set
// on the window once it is made (longer than a record keeps), or none.
// `parent` is kMainWindowRow or the index of an earlier row of the table.
constexpr int8_t kMainWindowRow = -1;
struct ControlRow {
  const char* text;
  ControlKind kind;
  int8_t parent;
  ClickHandler onClick;
  int x, y, width, height;
  HWND* keep;
  const char* windowText;
};

// Creates the rows' controls in table order (CreateControl), keeps each
// window where its row says, then sets the window texts.
void CreateRows(const ControlRow* rows, int count);

// Destroys every registered control and empties the registry.
void DestroyAllControls();

// Hides, destroys and unregisters the controls whose window is `first` or
// `second`; the other records keep their order.  Windows that are not
// registered (none, or already removed) are ignored.
void RemoveControls(HWND first, HWND second);

// The first record whose window is `window`, or none.
ControlRecord* FindControl(HWND window);

// --- Wizard state ------------------------------------------------------------------

enum WizardPage : uint8_t {
  kPageNone = 0,
  kPageAgreement = 1,
  kPageSource = 2,
  kPageOutput = 3,
  kPageProcessing = 4,
};

// Private messages of the main window.
constexpr UINT kMsgWorkerFinished = WM_APP + 1;  // wParam: the run's number

// The processing page's timer: every kRefreshInterval milliseconds the
// window thread shows the run's counters on the labels and bars.
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshInterval = 100;

// The settings one worker uses, copied when it starts, so that nothing the
// window thread does later changes them under it.
struct WorkerJob {
  uint32_t runNumber;
  uint8_t sourceMode;
  uint8_t dumpFormat;
  char sourcePath[kPathCapacity];
  char sourceExtension[kPathCapacity];
  char outputPath[kPathCapacity];
  char outputExtension[kPathCapacity];
  HWND mainWindow;  // the only window the worker names: "finished" goes there
};

// The particulars of the data file being dumped, as the worker last wrote
// them under WizardRun::lock.  `fileSerial` grows with each file begun,
// `openSerial` with each file opened (only then are the four figures new).
struct FileParticulars {
  char dataPath[kPathCapacity];
  uint16_t version;
  uint32_t pageSize;
  uint32_t recordCount;
  uint32_t recordLength;
  uint32_t fileSerial;
  uint32_t openSerial;
};

// One run of the worker, owned by the processing page.  The window thread
// fills job, number and thread before the worker starts; from then on the
// worker writes the list, the counters and `current` (under `lock`), and
// the window thread only reads them, from its timer and when "finished"
// arrives.
struct WizardRun {
  HANDLE thread;
  uint32_t number;  // of the processing page on screen
  WorkerJob job;    // the running worker's copy; written before it starts

  char (*fileList)[kPathCapacity];  // written by the worker only
  int32_t fileCount;

  // Set by the window thread just before a worker starts, cleared by the
  // worker when it ends or by the user to cancel it.
  std::atomic<uint8_t> running;
  // Set with `running`; cleared by the worker as its very last step, so it
  // stays set after a cancel until the worker has really gone.  The window
  // thread starts no second worker and leaves fileList alone while it is set.
  std::atomic<uint8_t> workerAlive;

  std::atomic<uint32_t> recordsDone;  // of the current file
  std::atomic<uint32_t> filesDone;
  std::atomic<uint32_t> filesTotal;  // 1 for a single file
  // The tally (RunTally's fields).
  std::atomic<uint32_t> dumped;
  std::atomic<uint32_t> notOpened;
  std::atomic<uint32_t> notCreated;
  std::atomic<uint32_t> recordsTooLong;
  std::atomic<uint8_t> cancelled;

  CRITICAL_SECTION lock;  // made once at start-up; guards `current`
  FileParticulars current;
};

extern WizardRun g_run;

// What the user chose on the pages; the worker gets its own copy at start.
struct WizardSettings {
  uint8_t page;  // WizardPage
  char sourcePath[kPathCapacity];
  uint8_t sourceMode;  // SourceMode
  char sourceExtension[kPathCapacity];
  char outputPath[kPathCapacity];
  char outputExtension[kPathCapacity];
  uint8_t dumpFormat;  // 1 to 6
};

// The kept windows of each page, reset by the page's builder.
struct SourcePageWindows {
  HWND sourcePathField;
  HWND sourceExtensionField;
  HWND sourceExtensionLabel;
  HWND sourceModeRadios[3];  // Single File, Single Directory, Directory Recursive
};

struct OutputPageWindows {
  HWND outputPathField;
  HWND outputExtensionField;
  HWND outputExtensionLabel;
  HWND formatRadios[6];
};

struct ProcessingPageWindows {
  HWND statusLabel;
  HWND fileNameLabel;
  HWND versionLabel;
  HWND pageSizeLabel;
  HWND recordCountLabel;
  HWND recordLengthLabel;
  HWND recordsBar;
  HWND filesBar;
  HWND cancelButton;
};

// The application and its window registry.
struct WizardState {
  HINSTANCE instance;
  HWND mainWindow;
  HFONT font;
  HBRUSH whiteBrush;
  ControlRecord* controls;  // the registry, in creation order
  uint16_t controlCount;
};

extern WizardState g_wizard;
extern WizardSettings g_settings;
extern SourcePageWindows g_sourcePage;
extern OutputPageWindows g_outputPage;
extern ProcessingPageWindows g_processingPage;

// --- Main window (main_window.cc) ------------------------------------------------

// Asks "Are you sure you want to quit?"; on Yes closes the main window.
void ConfirmQuit();

// Sets a label's text and repaints what lies under it, so that nothing of
// the old text stays behind on the transparent label.  Window thread only;
// a label that no longer exists is left alone.
void SetLabelText(HWND label, const char* text);

// --- Pages and navigation (pages.cc) -----------------------------------------------

void BuildAgreementPage();
void BuildSourcePage();
void BuildOutputPage();
void OnNext();
void OnBack();
void SelectSourceMode(uint8_t mode);
void SelectDumpFormat(uint8_t format);
void OnBrowseSource();
void OnBrowseOutput();
void TrimSourceToDirectory();
bool IsDirectory(const char* path);
void ReadOutputFields();

// --- Processing page (processing_page.cc, window thread) ---------------------------

// Builds the processing page and starts the worker for the current settings.
void BuildProcessingPage();
void OnCancelProcessing();
// Asks "Are you sure you want to cancel?" while a run goes on; on Yes
// clears `running`.  Returns at once, never waiting for the worker.
void AskToCancelRun();
// The timer: shows the run's counters and particulars, if its page is on screen.
void OnRefreshTimer();
// The window thread's part of a worker's end: a last refresh, the outcome
// on the status label, the two bars removed and Cancel relabelled "End",
// if the run's page is still on screen; a stale run number is ignored.
void OnWorkerFinished(uint32_t runNumber);

// --- Worker thread (worker.cc) ------------------------------------------------------

DWORD WINAPI SingleFileWorker(LPVOID unused);
DWORD WINAPI DirectoryWorker(LPVOID unused);

#endif  // GANDREL_WIZARD_WIZARD_H_
