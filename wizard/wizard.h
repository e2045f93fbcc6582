// The wizard gandrelgui: one fixed main window whose child controls are
// replaced page by page, and a worker thread that dumps the data files.
//
//   registry.cc     the control registry: CreateControl, DestroyAllControls,
//                   RemoveControls
//   main_window.cc  start-up, window class and procedure, ConfirmQuit
//   pages.cc        agreement, source and output pages, navigation, Browse
//   worker.cc       processing page, collection of the files, record loop
//
// Everything but the worker runs on the window thread.  The worker reads its
// own copy of the settings (WorkerJob), steps the bars and sets label texts
// (SendMessage carries those to the window thread; label texts go through
// kMsgSetLabel), and posts kMsgWorkerFinished for the steps that change the
// registry.
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
constexpr UINT kMsgSetLabel = WM_APP + 2;        // wParam: label, lParam: text

// The settings and windows one worker uses, copied when it starts, so that
// nothing the window thread does later changes them under it.
struct WorkerJob {
  uint32_t runNumber;
  uint8_t sourceMode;
  uint8_t dumpFormat;
  char sourcePath[kPathCapacity];
  char sourceExtension[kPathCapacity];
  char outputPath[kPathCapacity];
  char outputExtension[kPathCapacity];
  HWND mainWindow;
  HWND statusLabel;  // "Processing file(s)", later the run's outcome
  HWND fileNameLabel;
  HWND versionLabel;
  HWND pageSizeLabel;
  HWND recordCountLabel;
  HWND recordLengthLabel;
  HWND recordsBar;
  HWND filesBar;
};

struct WizardState {
  HINSTANCE instance;
  HWND mainWindow;
  HFONT font;
  HBRUSH whiteBrush;
  ControlRecord* controls;  // the registry, in creation order
  uint16_t controlCount;
  uint8_t page;  // WizardPage
  char sourcePath[kPathCapacity];
  uint8_t sourceMode;  // SourceMode
  char sourceExtension[kPathCapacity];
  char outputPath[kPathCapacity];
  char outputExtension[kPathCapacity];
  uint8_t dumpFormat;  // 1 to 6

  // Set by the window thread just before a worker starts, cleared by the
  // worker when it ends or by the user to cancel it.
  std::atomic<uint8_t> running;
  // Set with `running`; cleared by the worker as its very last step, so it
  // stays set after a cancel until the worker has really gone.  The window
  // thread starts no second worker and leaves fileList alone while it is set.
  std::atomic<uint8_t> workerAlive;

  char (*fileList)[kPathCapacity];  // written by the worker only
  int32_t fileCount;

  // Kept windows of the source page.
  HWND sourcePathField;
  HWND sourceExtensionField;
  HWND sourceExtensionLabel;
  HWND sourceModeRadios[3];  // Single File, Single Directory, Directory Recursive
  // Kept windows of the output page.
  HWND outputPathField;
  HWND outputExtensionField;
  HWND outputExtensionLabel;
  HWND formatRadios[6];
  // Kept windows of the processing page.
  HWND statusLabel;
  HWND fileNameLabel;
  HWND versionLabel;
  HWND pageSizeLabel;
  HWND recordCountLabel;
  HWND recordLengthLabel;
  HWND recordsBar;
  HWND filesBar;
  HWND cancelButton;
  HANDLE workerThread;

  uint32_t runNumber;  // of the processing page on screen
  WorkerJob job;       // the running worker's copy; written before it starts
};

extern WizardState g_wizard;

// --- Main window (main_window.cc) ------------------------------------------------

// Asks "Are you sure you want to quit?"; on Yes closes the main window.
void ConfirmQuit();

// Sets a label's text and repaints what lies under it, so that nothing of
// the old text stays behind on the transparent label.  The work is done by
// the window thread (kMsgSetLabel); safe from the worker and on a label
// that no longer exists.
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

// --- Processing page and worker (worker.cc) --------------------------------------

// Builds the processing page and starts the worker for the current settings.
void BuildProcessingPage();
DWORD WINAPI SingleFileWorker(LPVOID unused);
DWORD WINAPI DirectoryWorker(LPVOID unused);
void OnCancelProcessing();
// The window thread's part of a worker's end: removes the two bars and
// relabels Cancel "End", if the run's page is still on screen.
void OnWorkerFinished(uint32_t runNumber);

#endif  // GANDREL_WIZARD_WIZARD_H_
