// Drives a running gandrelgui from another process, the way a user would:
// finds the main window by its class, reads and types into the controls,
// clicks buttons with BM_CLICK and answers the message boxes.  Test-only.
#ifndef GANDREL_TESTS_WIZARD_GUI_DRIVER_H_
#define GANDREL_TESTS_WIZARD_GUI_DRIVER_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace gui {

// How long the driver waits for the wizard to react before it gives up.
// Generous: under Wine on a busy machine a page change can take seconds.
constexpr DWORD kPatience = 60000;

struct WizardProcess {
  PROCESS_INFORMATION process = {};
  HWND main = nullptr;
};

// Starts `exePath` in `workingDirectory` and waits for its main window of
// class "mirelta_XClass".  False, with the process ended, when it does not
// appear in time.
bool StartWizard(const std::string& exePath, const std::string& workingDirectory,
                 WizardProcess* wizard);

// True when the process ends within `milliseconds`.
bool WaitForExit(const WizardProcess& wizard, DWORD milliseconds);

// Ends the process if it still runs and releases its handles.
void StopWizard(WizardProcess* wizard);

// One child window of the main window, as the driver sees it.
struct Child {
  HWND window;
  std::string className;
  std::string text;
  RECT rect;  // in the main window's client coordinates
  LONG style;
  LONG exStyle;
  bool visible;
};

// Every child window of `main` in the order the system lists them.
std::vector<Child> Children(HWND main);

// The first child of the given class (compared without regard to case)
// and text, or none.
HWND FindChild(HWND main, const std::string& className, const std::string& text);

// Waits for such a child; none when it does not appear within kPatience.
HWND WaitForChild(HWND main, const std::string& className, const std::string& text);

std::string Text(HWND window);
// Types a whole new text into a field (WM_SETTEXT).
void SetText(HWND window, const std::string& text);
bool IsChecked(HWND button);

// Clicks and waits until the wizard has handled the click (for buttons
// whose handler returns at once).
void Click(HWND button);
// Clicks without waiting (for buttons that open a message box or dialog).
void ClickLater(HWND button);

// Sends the Escape character to a window of the wizard.
void PressEscape(HWND window);

// The process's top-level dialog with the given caption (a message box or
// a common dialog), waiting for it up to `milliseconds`; none otherwise.
HWND WaitForDialog(DWORD processId, const std::string& caption, DWORD milliseconds = kPatience);
// The message text of a message box.
std::string MessageBoxText(HWND box);
// Presses Yes (IDYES), No (IDNO) or Cancel (IDCANCEL) in a dialog and waits
// for it to close.
bool AnswerDialog(HWND dialog, int buttonId);

// Polls `condition` until it holds or `milliseconds` pass.
bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds = kPatience);

// Paths: the build gives Unix paths; under Wine they are reached through
// drive Z:.  Windows paths pass unchanged.
std::string WindowsPath(const std::string& path);

}  // namespace gui

#endif  // GANDREL_TESTS_WIZARD_GUI_DRIVER_H_
