// The control registry: every child control of the page on screen, in
// creation order, with the handler its clicks call.
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <cstring>

#include "wizard/wizard.h"

namespace {

// Window class, extended style, style and whether the text font is sent,
// by kind.
struct ControlStyle {
  const char* className;
  DWORD exStyle;
  DWORD style;
  bool alwaysMainWindowChild;
  bool sendFont;
};

ControlStyle StyleFor(ControlKind kind) {
  switch (kind.code) {
    case KindCode::Bitmap:
      return {"STATIC", WS_EX_COMPOSITED, WS_CHILD | WS_VISIBLE | SS_BITMAP, false, false};
    case KindCode::GroupBox:
      return {"BUTTON", WS_EX_COMPOSITED | WS_EX_TRANSPARENT,
              WS_CHILD | WS_VISIBLE | BS_GROUPBOX, false, true};
    case KindCode::RadioButton:
      // Children of the main window whatever parent is given, so that
      // their clicks reach its window procedure.
      return {"BUTTON", WS_EX_COMPOSITED | WS_EX_TOPMOST,
              WS_CHILD | WS_VISIBLE | BS_RADIOBUTTON, true, true};
    case KindCode::ClassName:
      break;
  }
  const char* name = kind.className != nullptr ? kind.className : "";
  if (std::strcmp(name, "EDIT") == 0) {
    return {"EDIT", 0, WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
            true, true};
  }
  if (std::strcmp(name, "") == 0) {
    return {PROGRESS_CLASSA, 0, WS_CHILD | WS_VISIBLE, true, false};
  }
  return {name, WS_EX_COMPOSITED | WS_EX_TOPMOST, WS_CHILD | WS_VISIBLE, false, true};
}

}  // namespace

HWND CreateControl(const char* text, ControlKind kind, HWND parent,
                   ClickHandler onClick, int x, int y, int width, int height) {
  WizardState& w = g_wizard;
  void* grown = std::realloc(w.controls, (w.controlCount + 1u) * sizeof(ControlRecord));
  if (grown == nullptr) return nullptr;  // the control is left out; the page goes on
  w.controls = static_cast<ControlRecord*>(grown);

  ControlRecord& record = w.controls[w.controlCount];
  std::memset(&record, 0, sizeof record);
  std::strncpy(record.text, text, kControlTextCapacity - 1);
  record.onClick = onClick;
  record.kind = kind;

  const ControlStyle style = StyleFor(kind);
  HWND owner = style.alwaysMainWindowChild ? w.mainWindow : parent;

  if (kind.code == KindCode::Bitmap) {
    // The file is looked up relative to the working directory; the static
    // control sizes itself to the image.
    HANDLE image = LoadImageA(nullptr, record.text, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
    HWND window = CreateWindowExA(style.exStyle, style.className, "", style.style, 0, 0,
                                  0, 0, owner, reinterpret_cast<HMENU>(-1), w.instance,
                                  nullptr);
    if (image == nullptr || window == nullptr) {
      // No banner: neither the record nor a half-made control stays.
      if (window != nullptr) DestroyWindow(window);
      if (image != nullptr) DeleteObject(image);
      return nullptr;
    }
    record.window = window;
    ++w.controlCount;
    SendMessageA(window, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image));
    return window;
  }

  record.window = CreateWindowExA(style.exStyle, style.className, record.text, style.style,
                                  x, y, width, height, owner, nullptr, w.instance, nullptr);
  ++w.controlCount;
  if (record.window != nullptr && style.sendFont) {
    SendMessageA(record.window, WM_SETFONT, reinterpret_cast<WPARAM>(w.font), FALSE);
  }
  return record.window;
}

void DestroyAllControls() {
  WizardState& w = g_wizard;
  for (uint16_t i = 0; i < w.controlCount; ++i) {
    HWND window = w.controls[i].window;
    if (window == nullptr) continue;
    // A static control does not own the bitmap it shows; release the
    // banner with its page so that page changes do not pile images up.
    HGDIOBJ image = nullptr;
    if (w.controls[i].kind.code == KindCode::Bitmap) {
      image = reinterpret_cast<HGDIOBJ>(SendMessageA(window, STM_GETIMAGE, IMAGE_BITMAP, 0));
    }
    DestroyWindow(window);
    if (image != nullptr) DeleteObject(image);
  }
  std::free(w.controls);
  w.controls = nullptr;
  w.controlCount = 0;
}

void RemoveControls(HWND first, HWND second) {
  WizardState& w = g_wizard;
  uint16_t i = 0;
  while (i < w.controlCount) {
    HWND window = w.controls[i].window;
    // A record without a window never matches: the bars are always given
    // as windows, and "none" must not remove a failed control by accident.
    if (window == nullptr || (window != first && window != second)) {
      ++i;
      continue;
    }
    ShowWindow(window, SW_HIDE);
    DestroyWindow(window);
    std::memmove(&w.controls[i], &w.controls[i + 1],
                 (w.controlCount - i - 1u) * sizeof(ControlRecord));
    --w.controlCount;
  }
}

ControlRecord* FindControl(HWND window) {
  WizardState& w = g_wizard;
  if (window == nullptr) return nullptr;
  for (uint16_t i = 0; i < w.controlCount; ++i) {
    if (w.controls[i].window == window) return &w.controls[i];
  }
  return nullptr;
}

void CreateRows(const ControlRow* rows, int count) {
  HWND made[32] = {};
  for (int i = 0; i < count && i < 32; ++i) {
    const ControlRow& row = rows[i];
    const HWND parent =
        row.parent == kMainWindowRow || row.parent >= i ? g_wizard.mainWindow : made[row.parent];
    made[i] = CreateControl(row.text, row.kind, parent, row.onClick, row.x, row.y, row.width,
                            row.height);
    if (row.keep != nullptr) *row.keep = made[i];
  }
  for (int i = 0; i < count && i < 32; ++i) {
    if (rows[i].windowText != nullptr && made[i] != nullptr) {
      SetWindowTextA(made[i], rows[i].windowText);
    }
  }
}
