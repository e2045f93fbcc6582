// The agreement, source and output pages, the navigation between the four
// pages, the mode and format radio buttons and the Browse dialogs.  Each
// builder creates its page's controls in the order of the page's table;
// where controls overlap (fields inside group boxes, the extension field
// over the end of its label) that order decides what lies on top.
#include <windows.h>

#include <commdlg.h>
#include <shlobj.h>

#include <cstring>

#include "wizard/wizard.h"

namespace {

constexpr char kExtensionLabel[] = "File Extension:      myFile.";
constexpr char kDefaultOutputExtension[] = "dmp";

HWND Main() { return g_wizard.mainWindow; }

// Reads a field into a path buffer (at most 259 characters).  A field whose
// window was never made leaves the buffer as it is.
void ReadField(HWND field, char* out) {
  if (field == nullptr) return;
  GetWindowTextA(field, out, static_cast<int>(kPathCapacity));
}

void SetCheck(HWND radio, bool checked) {
  SendMessageA(radio, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void SelectSingleFile() { SelectSourceMode(kModeSingleFile); }
void SelectSingleDirectory() { SelectSourceMode(kModeSingleDirectory); }
void SelectRecursive() { SelectSourceMode(kModeRecursive); }

void SelectBinary() { SelectDumpFormat(1); }
void SelectBinaryLength() { SelectDumpFormat(2); }
void SelectBinaryCrc() { SelectDumpFormat(3); }
void SelectHex() { SelectDumpFormat(4); }
void SelectHexLength() { SelectDumpFormat(5); }
void SelectHexCrc() { SelectDumpFormat(6); }

// Both source fields into the settings, as Next and Back on the source
// page do: the extension only in the directory modes.
void ReadSourceFields() {
  if (!IsSingleFileMode(g_settings.sourceMode)) ReadField(g_sourcePage.sourceExtensionField, g_settings.sourceExtension);
  ReadField(g_sourcePage.sourcePathField, g_settings.sourcePath);
}

// The dialogs take the full 88-byte description of Windows 2000 and later.
static_assert(sizeof(OPENFILENAMEA) == 88, "OPENFILENAMEA of the wrong size");

// The open-file or save-file dialog over `path` (kPathCapacity bytes).
// True when the user chose a file; `path` is unchanged otherwise.
bool AskForFile(char* path, bool save, const char* filter, const char* title) {
  char chosen[kPathCapacity];
  std::memcpy(chosen, path, kPathCapacity);
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Main();
  dialog.lpstrFilter = filter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = chosen;
  dialog.nMaxFile = kPathCapacity;
  dialog.lpstrTitle = title;
  dialog.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  const BOOL ok = save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
  if (!ok) return false;
  std::memcpy(path, chosen, kPathCapacity);
  return true;
}

// The shell's folder browser; true when the user chose a file system
// folder, whose path is then in `path`.
bool AskForFolder(char* path) {
  char displayName[kPathCapacity] = {};
  BROWSEINFOA browse = {};
  browse.hwndOwner = GetParent(Main());  // the main window has none
  browse.pszDisplayName = displayName;
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  LPITEMIDLIST item = SHBrowseForFolderA(&browse);
  if (item == nullptr) return false;
  char chosen[kPathCapacity] = {};
  const bool ok = SHGetPathFromIDListA(item, chosen) != FALSE;
  CoTaskMemFree(item);
  if (ok) std::memcpy(path, chosen, kPathCapacity);
  return ok;
}

// The proposed or chosen output path, and a directory's dump extension, in
// the output page's fields.
void ShowOutputSettings(bool single) {
  const OutputPageWindows& k = g_outputPage;
  ProposeOutputPath(g_settings.outputPath, g_settings.outputExtension, g_settings.sourcePath,
                    g_settings.sourceMode);
  if (k.outputPathField != nullptr) SetWindowTextA(k.outputPathField, g_settings.outputPath);
  if (single) return;
  if (g_settings.outputExtension[0] == '\0') {
    std::memcpy(g_settings.outputExtension, kDefaultOutputExtension, sizeof kDefaultOutputExtension);
  }
  if (k.outputExtensionField != nullptr) {
    SetWindowTextA(k.outputExtensionField, g_settings.outputExtension);
  }
}

}  // namespace

void BuildAgreementPage() {
  DestroyAllControls();
  const ControlRow rows[] = {
      {"Legal Agreement", StaticText, kMainWindowRow, nullptr, 5, 72, 140, 15, nullptr, nullptr},
      {"", GroupBox, kMainWindowRow, nullptr, 25, 100, 490, 205, nullptr, nullptr},
      // The notice is longer than a record's text, so it goes onto the window.
      {"", StaticText, kMainWindowRow, nullptr, 35, 113, 450, 200, nullptr, kAgreementNotice},
      {"I Agree", PushButton, kMainWindowRow, OnNext, 440, 330, 100, 25, nullptr, nullptr},
      {"Cancel", PushButton, kMainWindowRow, ConfirmQuit, 330, 330, 100, 25, nullptr, nullptr},
      {"Salqua.ocx", Bitmap, kMainWindowRow, nullptr, 0, 0, 0, 0, nullptr, nullptr},
  };
  CreateRows(rows, static_cast<int>(sizeof rows / sizeof rows[0]));
  g_settings.page = kPageAgreement;
}

void BuildSourcePage() {
  DestroyAllControls();
  g_sourcePage = SourcePageWindows{};
  SourcePageWindows& k = g_sourcePage;
  const int8_t main = kMainWindowRow;
  const ControlRow rows[] = {
      {"Source - Setup", StaticText, main, nullptr, 160, 72, 140, 15, nullptr, nullptr},
      {"", StaticText, main, nullptr, 20, 105, 550, 15, nullptr, "Define the source file(s):"},
      {"Type", GroupBox, main, nullptr, 20, 130, 160, 100, nullptr, nullptr},
      {"Single File", RadioButton, 2, SelectSingleFile, 30, 145, 150, 25, &k.sourceModeRadios[0],
       nullptr},
      {"Single Directory", RadioButton, 3, SelectSingleDirectory, 30, 170, 150, 25,
       &k.sourceModeRadios[1], nullptr},
      {"Directory Recursive", RadioButton, 4, SelectRecursive, 30, 195, 150, 25,
       &k.sourceModeRadios[2], nullptr},
      {"File / Directory", GroupBox, main, nullptr, 200, 130, 340, 100, nullptr, nullptr},
      {"", EditField, main, nullptr, 210, 157, 200, 18, &k.sourcePathField, nullptr},
      {"btr", EditField, main, nullptr, 330, 188, 30, 18, &k.sourceExtensionField, nullptr},
      {kExtensionLabel, StaticText, main, nullptr, 210, 190, 190, 15, &k.sourceExtensionLabel, nullptr},
      {"Browse", PushButton, main, OnBrowseSource, 415, 152, 100, 25, nullptr, nullptr},
      {"Next", PushButton, main, OnNext, 440, 330, 100, 25, nullptr, nullptr},
      {"Back", PushButton, main, OnBack, 330, 330, 100, 25, nullptr, nullptr},
      {"Cancel", PushButton, main, ConfirmQuit, 220, 330, 100, 25, nullptr, nullptr},
      {"Trevik.dll", Bitmap, main, nullptr, 0, 0, 0, 0, nullptr, nullptr},
  };
  CreateRows(rows, static_cast<int>(sizeof rows / sizeof rows[0]));

  // The path field is still empty here, so the trim of the directory modes
  // leaves sourcePath alone.
  if (IsSingleFileMode(g_settings.sourceMode)) {
    SelectSourceMode(kModeSingleFile);
  } else if (g_settings.sourceMode == kModeSingleDirectory) {
    SelectSourceMode(kModeSingleDirectory);
  } else {
    SelectSourceMode(kModeRecursive);
  }
  if (g_sourcePage.sourcePathField != nullptr) SetWindowTextA(g_sourcePage.sourcePathField, g_settings.sourcePath);
  g_settings.page = kPageSource;
}

void SelectSourceMode(uint8_t mode) {
  g_settings.sourceMode = mode;
  if (!IsSingleFileMode(mode)) TrimSourceToDirectory();
  for (int i = 0; i < 3; ++i) SetCheck(g_sourcePage.sourceModeRadios[i], i + 1 == mode);
  const int show = IsSingleFileMode(mode) ? SW_HIDE : SW_SHOWNORMAL;
  if (g_sourcePage.sourceExtensionField != nullptr) ShowWindow(g_sourcePage.sourceExtensionField, show);
  if (g_sourcePage.sourceExtensionLabel != nullptr) ShowWindow(g_sourcePage.sourceExtensionLabel, show);
}

void TrimSourceToDirectory() {
  if (g_sourcePage.sourcePathField == nullptr) return;
  char text[kPathCapacity] = {};
  GetWindowTextA(g_sourcePage.sourcePathField, text, static_cast<int>(kPathCapacity));
  if (IsDirectory(text)) return;  // kept as typed, closing backslash or not
  if (!CutAfterLastBackslash(text)) return;
  std::memcpy(g_settings.sourcePath, text, kPathCapacity);
  SetWindowTextA(g_sourcePage.sourcePathField, g_settings.sourcePath);
}

// Asks the file system for the path's attributes rather than making it the
// current directory for a moment: the worker may be resolving relative
// paths against the current directory at the same time.
bool IsDirectory(const char* path) {
  if (path == nullptr || path[0] == '\0') return false;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void OnBrowseSource() {
  bool chosen;
  if (IsSingleFileMode(g_settings.sourceMode)) {
    chosen = AskForFile(g_settings.sourcePath, false, "Btrieve file(*.*)\0*.*\0",
                        "Please select the input file(Btrieve data file)");
  } else {
    chosen = AskForFolder(g_settings.sourcePath);
  }
  if (chosen && g_sourcePage.sourcePathField != nullptr) SetWindowTextA(g_sourcePage.sourcePathField, g_settings.sourcePath);
}

void BuildOutputPage() {
  DestroyAllControls();
  g_outputPage = OutputPageWindows{};
  OutputPageWindows& k = g_outputPage;
  const int8_t main = kMainWindowRow;
  const ControlRow head[] = {
      {"Output - Setup", StaticText, main, nullptr, 300, 72, 140, 15, nullptr, nullptr},
      {"", StaticText, main, nullptr, 20, 105, 550, 15, nullptr, "Define the target file(s):"},
      {"Output Format", GroupBox, main, nullptr, 20, 130, 160, 150, nullptr, nullptr},
      {"Binary", RadioButton, 2, SelectBinary, 30, 145, 150, 25, &k.formatRadios[0], nullptr},
      {"Binary + Lenght", RadioButton, 3, SelectBinaryLength, 30, 165, 150, 25,
       &k.formatRadios[1], nullptr},
      {"Binary + CRC", RadioButton, 4, SelectBinaryCrc, 30, 185, 150, 25, &k.formatRadios[2],
       nullptr},
      {"HEX ", RadioButton, 5, SelectHex, 30, 205, 150, 25, &k.formatRadios[3], nullptr},
      {"HEX + length", RadioButton, 6, SelectHexLength, 30, 225, 150, 25, &k.formatRadios[4],
       nullptr},
      {"HEX + CRC", RadioButton, 7, SelectHexCrc, 30, 245, 150, 25, &k.formatRadios[5], nullptr},
      {"", EditField, main, nullptr, 210, 157, 200, 18, &k.outputPathField, nullptr},
  };
  // A single file's dump is a file; a directory's dumps take an extension.
  const ControlRow file[] = {
      {"File", GroupBox, main, nullptr, 200, 130, 340, 100, nullptr, nullptr},
  };
  const ControlRow directory[] = {
      {"Directory", GroupBox, main, nullptr, 200, 130, 340, 100, nullptr, nullptr},
      {kDefaultOutputExtension, EditField, main, nullptr, 330, 188, 30, 18, &k.outputExtensionField,
       nullptr},
      {kExtensionLabel, StaticText, main, nullptr, 210, 190, 190, 15, &k.outputExtensionLabel,
       nullptr},
  };
  const ControlRow tail[] = {
      {"Browse", PushButton, main, OnBrowseOutput, 415, 152, 100, 25, nullptr, nullptr},
      {"Next", PushButton, main, OnNext, 440, 330, 100, 25, nullptr, nullptr},
      {"Back", PushButton, main, OnBack, 330, 330, 100, 25, nullptr, nullptr},
      {"Cancel", PushButton, main, ConfirmQuit, 220, 330, 100, 25, nullptr, nullptr},
      {"Ombrel.ici", Bitmap, main, nullptr, 0, 0, 0, 0, nullptr, nullptr},
  };
  const bool single = IsSingleFileMode(g_settings.sourceMode);
  CreateRows(head, static_cast<int>(sizeof head / sizeof head[0]));
  if (single) CreateRows(file, 1);
  else CreateRows(directory, static_cast<int>(sizeof directory / sizeof directory[0]));
  CreateRows(tail, static_cast<int>(sizeof tail / sizeof tail[0]));
  ShowOutputSettings(single);
  if (g_settings.dumpFormat >= 1 && g_settings.dumpFormat <= 6) SelectDumpFormat(g_settings.dumpFormat);
  g_settings.page = kPageOutput;
}

void SelectDumpFormat(uint8_t format) {
  g_settings.dumpFormat = format;
  for (int i = 0; i < 6; ++i) SetCheck(g_outputPage.formatRadios[i], i + 1 == format);
}

void OnBrowseOutput() {
  bool chosen;
  if (IsSingleFileMode(g_settings.sourceMode)) {
    chosen = AskForFile(g_settings.outputPath, true, "Dump file(*.*)\0*.*\0",
                        "Please specify the ouput file");
  } else {
    chosen = AskForFolder(g_settings.outputPath);
  }
  if (chosen && g_outputPage.outputPathField != nullptr) SetWindowTextA(g_outputPage.outputPathField, g_settings.outputPath);
}

void ReadOutputFields() {
  if (!IsSingleFileMode(g_settings.sourceMode) && g_outputPage.outputExtensionField != nullptr) {
    ReadField(g_outputPage.outputExtensionField, g_settings.outputExtension);
    if (g_settings.outputExtension[0] == '\0') {
      SetWindowTextA(g_outputPage.outputExtensionField, kDefaultOutputExtension);
      std::memcpy(g_settings.outputExtension, kDefaultOutputExtension, sizeof kDefaultOutputExtension);
    }
  }
  ReadField(g_outputPage.outputPathField, g_settings.outputPath);
}

void OnNext() {
  switch (g_settings.page) {
    case kPageAgreement:
      BuildSourcePage();
      break;
    case kPageSource:
      ReadSourceFields();
      BuildOutputPage();
      break;
    case kPageOutput:
      // A worker left running by Back keeps its settings and its list; no
      // second one starts until it has gone.
      if (g_run.workerAlive.load() != 0) break;
      ReadOutputFields();
      BuildProcessingPage();
      break;
    default:
      break;
  }
}

void OnBack() {
  switch (g_settings.page) {
    case kPageSource:
      ReadSourceFields();
      BuildAgreementPage();
      break;
    case kPageOutput:
      ReadOutputFields();
      BuildSourcePage();
      break;
    case kPageProcessing:
      // The worker, cancelled or not, ends on its own; nothing waits for it.
      AskToCancelRun();
      BuildOutputPage();
      break;
    default:
      break;
  }
}
