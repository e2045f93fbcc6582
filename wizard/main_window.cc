// Start-up, the main window and its window procedure.
#include <windows.h>

#include <commctrl.h>

#include <cstring>

#include "common/version.h"
#include "dump/crc32.h"
#include "wizard/wizard.h"

WizardState g_wizard;
WizardSettings g_settings;
SourcePageWindows g_sourcePage;
OutputPageWindows g_outputPage;
ProcessingPageWindows g_processingPage;

namespace {

constexpr char kWindowClass[] = "mirelta_XClass";
// The product name and the release version, "Visual Gandrel 1.0".
constexpr char kWindowCaption[] = "Visual Gandrel " GANDREL_VERSION_SHORT;
constexpr int kWindowWidth = 560;
constexpr int kWindowHeight = 420;
constexpr WPARAM kEscape = 27;

LRESULT OnCreate() {
  g_wizard.whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
  return 0;
}

void OnDestroy() {
  if (g_wizard.whiteBrush != nullptr) {
    DeleteObject(g_wizard.whiteBrush);
    g_wizard.whiteBrush = nullptr;
  }
  PostQuitMessage(0);
}

// Any command from a registered control calls its handler; the
// notification code is not looked at.
void OnCommand(LPARAM lParam) {
  ControlRecord* record = FindControl(reinterpret_cast<HWND>(lParam));
  if (record != nullptr && record->onClick != nullptr) record->onClick();
}

// Keeps a control from painting over the edit fields that lie on top of it
// (the extension field over the end of its label).  The controls do not
// clip their siblings, and where the window is not composited the label,
// painted after the field, would write over the field's text.
void ExcludeEditFields(HDC dc, HWND control) {
  RECT controlArea;
  if (!GetWindowRect(control, &controlArea)) return;
  const WizardState& w = g_wizard;
  for (uint16_t i = 0; i < w.controlCount; ++i) {
    const ControlRecord& record = w.controls[i];
    if (record.window == nullptr || record.window == control ||
        record.kind.code != KindCode::ClassName || record.kind.className == nullptr ||
        std::strcmp(record.kind.className, "EDIT") != 0 || !IsWindowVisible(record.window)) {
      continue;
    }
    RECT field, overlap;
    if (!GetWindowRect(record.window, &field) || !IntersectRect(&overlap, &field, &controlArea)) {
      continue;
    }
    MapWindowPoints(nullptr, control, reinterpret_cast<POINT*>(&overlap), 2);
    ExcludeClipRect(dc, overlap.left, overlap.top, overlap.right, overlap.bottom);
  }
}

// Texts and group boxes are drawn transparently on the white window, radio
// buttons on white.
LRESULT OnControlColour(WPARAM wParam, LPARAM lParam) {
  HDC dc = reinterpret_cast<HDC>(wParam);
  SetBkColor(dc, RGB(255, 255, 255));
  SetTextColor(dc, RGB(0, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  ExcludeEditFields(dc, reinterpret_cast<HWND>(lParam));
  ControlRecord* record = FindControl(reinterpret_cast<HWND>(lParam));
  if (record != nullptr && record->kind.code == KindCode::RadioButton) {
    return reinterpret_cast<LRESULT>(g_wizard.whiteBrush);
  }
  return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

}  // namespace

// A label paints no background of its own: a new text would be drawn over
// the old one.  So the main window repaints the label's area at once,
// itself first (erasing it) and then the controls there: the group box
// frame crossing it and the label with its new text.
void SetLabelText(HWND label, const char* text) {
  // Only the labels of the processing page on screen: a worker left running
  // after Back must not write into whatever page is shown now.
  const WizardState& w = g_wizard;
  const bool onScreen = g_settings.page == kPageProcessing && label != nullptr &&
                        (label == g_processingPage.statusLabel || label == g_processingPage.fileNameLabel ||
                         label == g_processingPage.versionLabel || label == g_processingPage.pageSizeLabel ||
                         label == g_processingPage.recordCountLabel || label == g_processingPage.recordLengthLabel);
  if (!onScreen) return;
  SetWindowTextA(label, text);
  RECT area;
  if (!GetWindowRect(label, &area)) return;
  MapWindowPoints(nullptr, w.mainWindow, reinterpret_cast<POINT*>(&area), 2);
  RedrawWindow(w.mainWindow, &area, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASENOW);
}

namespace {

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate();
    case WM_DESTROY:
      OnDestroy();
      break;
    case WM_CHAR:
      if ((wParam & 0xFFFF) == kEscape) {
        ConfirmQuit();
        return 0;
      }
      break;
    case WM_COMMAND:
      OnCommand(lParam);
      break;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      return OnControlColour(wParam, lParam);
    case kMsgWorkerFinished:
      OnWorkerFinished(static_cast<uint32_t>(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == kRefreshTimer) OnRefreshTimer();
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterMainWindowClass() {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC | CS_DROPSHADOW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = g_wizard.instance;
  windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = kWindowClass;
  return RegisterClassExA(&windowClass) != 0;
}

HFONT CreateTextFont() {
  return CreateFontA(14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, "Arial");
}

}  // namespace

void ConfirmQuit() {
  if (MessageBoxA(g_wizard.mainWindow, "Are you sure you want to quit?", "Quit?",
                  MB_ICONQUESTION | MB_YESNO) == IDYES) {
    SendMessageA(g_wizard.mainWindow, WM_CLOSE, 0, 0);
  }
}


int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WizardState& w = g_wizard;
  w.instance = instance;
  g_settings.page = kPageNone;
  g_settings.sourceMode = kModeUnset;
  g_settings.dumpFormat = 1;
  GetCurrentDirectoryA(kPathCapacity, g_settings.sourcePath);

  // The CRC table is read by the worker; build it before any worker exists,
  // and the lock over the current file's particulars with it.
  BuildCrcTable();
  InitializeCriticalSection(&g_run.lock);
  InitCommonControls();
  RegisterMainWindowClass();  // a failure shows as no main window below

  w.mainWindow = CreateWindowExA(WS_EX_COMPOSITED, kWindowClass, kWindowCaption,
                                 WS_DLGFRAME | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT,
                                 kWindowWidth, kWindowHeight, nullptr, nullptr, instance,
                                 nullptr);
  if (w.mainWindow == nullptr) return 1;
  ShowWindow(w.mainWindow, SW_SHOWNORMAL);
  UpdateWindow(w.mainWindow);
  w.font = CreateTextFont();

  BuildAgreementPage();

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    // Escape asks to quit wherever the focus is: a key typed into an edit
    // field or on a button that was clicked last goes to that control, so
    // it is handed to the main window instead.
    if (message.message == WM_CHAR && message.wParam == kEscape &&
        message.hwnd != w.mainWindow && IsChild(w.mainWindow, message.hwnd)) {
      message.hwnd = w.mainWindow;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
