#include "tests/wizard/gui_driver.h"

#include <cstring>

namespace gui {

namespace {

constexpr char kMainClass[] = "mirelta_XClass";
constexpr UINT kSendTimeout = 30000;

DWORD OwnerProcess(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  return processId;
}

struct MainSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<MainSearch*>(parameter);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, kMainClass) == 0 && OwnerProcess(window) == search->processId) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

struct DialogSearch {
  DWORD processId;
  const std::string* caption;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<DialogSearch*>(parameter);
  if (OwnerProcess(window) != search->processId || !IsWindowVisible(window)) return TRUE;
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "#32770") != 0) return TRUE;
  if (Text(window) != *search->caption) return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter) {
  auto* children = reinterpret_cast<std::vector<HWND>*>(parameter);
  children->push_back(window);
  return TRUE;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

bool StartWizard(const std::string& exePath, const std::string& workingDirectory,
                 WizardProcess* wizard) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string commandLine = "\"" + exePath + "\"";
  if (!CreateProcessA(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      workingDirectory.c_str(), &startup, &wizard->process)) {
    return false;
  }
  MainSearch search = {wizard->process.dwProcessId, nullptr};
  const bool found = WaitUntil([&] {
    EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
  });
  if (!found) {
    StopWizard(wizard);
    return false;
  }
  wizard->main = search.found;
  return true;
}

bool WaitForExit(const WizardProcess& wizard, DWORD milliseconds) {
  return WaitForSingleObject(wizard.process.hProcess, milliseconds) == WAIT_OBJECT_0;
}

void StopWizard(WizardProcess* wizard) {
  if (wizard->process.hProcess == nullptr) return;
  if (WaitForSingleObject(wizard->process.hProcess, 0) != WAIT_OBJECT_0) {
    TerminateProcess(wizard->process.hProcess, 99);
    WaitForSingleObject(wizard->process.hProcess, 10000);
  }
  CloseHandle(wizard->process.hThread);
  CloseHandle(wizard->process.hProcess);
  wizard->process = {};
  wizard->main = nullptr;
}

std::vector<Child> Children(HWND main) {
  std::vector<HWND> windows;
  EnumChildWindows(main, CollectChild, reinterpret_cast<LPARAM>(&windows));
  std::vector<Child> children;
  for (HWND window : windows) {
    Child child = {};
    child.window = window;
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    child.className = className;
    child.text = Text(window);
    GetWindowRect(window, &child.rect);
    MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&child.rect), 2);
    child.style = GetWindowLongA(window, GWL_STYLE);
    child.exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    child.visible = (child.style & WS_VISIBLE) != 0;
    children.push_back(child);
  }
  return children;
}

HWND FindChild(HWND main, const std::string& className, const std::string& text) {
  std::vector<HWND> windows;
  EnumChildWindows(main, CollectChild, reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (EqualNoCase(name, className) && Text(window) == text) return window;
  }
  return nullptr;
}

HWND WaitForChild(HWND main, const std::string& className, const std::string& text) {
  HWND found = nullptr;
  WaitUntil([&] {
    found = FindChild(main, className, text);
    return found != nullptr;
  });
  return found;
}

std::string Text(HWND window) {
  // One WM_GETTEXT into a buffer larger than any text of the wizard: asking
  // for the length first could race with the worker changing the text.
  std::string text(4096, '\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                           SMTO_NORMAL, kSendTimeout, &copied)) {
    return std::string();
  }
  text.resize(copied);
  return text;
}

void SetText(HWND window, const std::string& text) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                      kSendTimeout, &ignored);
}

bool IsChecked(HWND button) {
  DWORD_PTR state = 0;
  SendMessageTimeoutA(button, BM_GETCHECK, 0, 0, SMTO_NORMAL, kSendTimeout, &state);
  return state == BST_CHECKED;
}

void Click(HWND button) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, kSendTimeout, &ignored);
}

void ClickLater(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

void PressEscape(HWND window) { PostMessageA(window, WM_CHAR, 27, 1); }

HWND WaitForDialog(DWORD processId, const std::string& caption, DWORD milliseconds) {
  DialogSearch search = {processId, &caption, nullptr};
  WaitUntil(
      [&] {
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      milliseconds);
  return search.found;
}

std::string MessageBoxText(HWND box) {
  // The message is the box's static text with the identifier 0xFFFF.
  return Text(GetDlgItem(box, 0xFFFF));
}

bool AnswerDialog(HWND dialog, int buttonId) {
  HWND button = GetDlgItem(dialog, buttonId);
  if (button != nullptr) {
    PostMessageA(button, BM_CLICK, 0, 0);
  } else {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
  }
  return WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); });
}

bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= milliseconds) return false;
    Sleep(50);
  }
}

std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string converted = "Z:" + path;
  for (char& c : converted) {
    if (c == '/') c = '\\';
  }
  return converted;
}

}  // namespace gui
