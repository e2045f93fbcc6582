// Walks the wizard through its four pages with sample data and saves a
// picture of the window on each page as a BMP file.  Run by
// scripts/screenshots.sh under Wine; not a test.
//
//   wizard_screenshot_tour <output directory>
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/fixture/fixture_writer.h"
#include "tests/wizard/gui_driver.h"

namespace {

// Sample data inside the Wine prefix, so the pictures show short paths.
constexpr char kSampleRoot[] = "C:\\Gandrel";
constexpr uint32_t kSampleRecords = 60000;

bool Fail(const char* what) {
  std::printf("screenshot tour: %s\n", what);
  return false;
}

// Copies the window's area of the screen into a 24-bit BMP file.
bool SaveWindowPicture(HWND window, const std::string& path) {
  RECT area;
  GetWindowRect(window, &area);
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as the file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, picture);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  GdiFlush();

  const DWORD rowBytes = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
  BITMAPFILEHEADER header = {};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + imageBytes;
  info.bmiHeader.biSizeImage = imageBytes;
  bool ok = false;
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    ok = std::fwrite(&header, sizeof header, 1, file) == 1 &&
         std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file) == 1 &&
         std::fwrite(bits, imageBytes, 1, file) == 1;
    ok = std::fclose(file) == 0 && ok;
  }
  SelectObject(memory, previous);
  DeleteObject(picture);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

LRESULT Query(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 10000, &result);
  return static_cast<LRESULT>(result);
}

HWND ChildAt(HWND main, const char* className, int x, int y) {
  for (const gui::Child& child : gui::Children(main)) {
    if (_stricmp(child.className.c_str(), className) == 0 && child.rect.left == x &&
        child.rect.top == y) {
      return child.window;
    }
  }
  return nullptr;
}

void WriteSamples() {
  const std::string data = std::string(kSampleRoot) + "\\data";
  CreateDirectoryA(kSampleRoot, nullptr);
  CreateDirectoryA(data.c_str(), nullptr);
  CreateDirectoryA((data + "\\archive").c_str(), nullptr);
  CreateDirectoryA((std::string(kSampleRoot) + "\\dumps").c_str(), nullptr);
  fixture::FixtureOptions options;
  options.version = 0x0700;
  options.pageSize = 512;  // the Page Size label has room for three digits
  options.recordLength = 120;
  const char* kNames[] = {"CUSTOMER.BTR", "INVOICE.BTR", "archive\\ORDERS.BTR"};
  uint32_t seed = 1;
  for (const char* name : kNames) {
    fixture::WriteFileBytes(data + "\\" + name,
                            fixture::BuildDataFile(options, fixture::MakeRecords(kSampleRecords, 120, 0, seed++)).bytes);
  }
}

bool Tour(const std::string& outputDirectory) {
  WriteSamples();
  const std::string exe = gui::WindowsPath(GANDREL_GUI_EXE);
  gui::WizardProcess wizard;
  if (!gui::StartWizard(exe, exe.substr(0, exe.find_last_of('\\')), &wizard)) {
    return Fail("the wizard did not start");
  }
  HWND main = wizard.main;
  auto shoot = [&](const char* name, DWORD settle = 500) {
    Sleep(settle);  // let the last paint reach the screen
    return SaveWindowPicture(main, outputDirectory + "\\" + name);
  };
  auto press = [&](const char* text) {
    HWND button = gui::WaitForChild(main, "Button", text);
    if (button != nullptr) gui::Click(button);
    return button != nullptr;
  };

  bool ok = gui::WaitForChild(main, "Static", "Legal Agreement") != nullptr &&
            shoot("wizard-1-agreement.bmp") && press("I Agree") && press("Directory Recursive");
  if (!ok) return Fail("agreement page");
  gui::SetText(ChildAt(main, "Edit", 210, 157), std::string(kSampleRoot) + "\\data");
  ok = shoot("wizard-2-source.bmp") && press("Next");
  if (!ok) return Fail("source page");
  gui::SetText(ChildAt(main, "Edit", 210, 157), std::string(kSampleRoot) + "\\dumps");
  ok = press("HEX + CRC") && shoot("wizard-3-output.bmp") && press("Next");
  if (!ok) return Fail("output page");

  // The processing page while it works: the second file half done.  The
  // bars are looked up once and then only asked for their position, now
  // and then: every question is answered by the wizard's window thread,
  // which the worker needs for its own messages.
  const DWORD start = GetTickCount();
  HWND records = nullptr, files = nullptr;
  gui::WaitUntil([&] {
    records = ChildAt(main, "msctls_progress32", 25, 240);
    files = ChildAt(main, "msctls_progress32", 25, 280);
    return records != nullptr && files != nullptr;
  });
  bool caught = false;
  while (!caught && GetTickCount() - start < 300000 && IsWindow(records)) {
    const LRESULT top = Query(records, PBM_GETRANGE, FALSE);
    const LRESULT position = Query(records, PBM_GETPOS);
    caught = Query(files, PBM_GETPOS) == 1 && top > 0 && position >= top / 4 &&
             position < top * 3 / 4;
    if (!caught) Sleep(50);
  }
  if (!caught) return Fail("the run was not caught half way through its second file");
  std::printf("processing page after %lu ms: file bar %ld, record bar %ld of %ld\n",
              GetTickCount() - start, static_cast<long>(Query(files, PBM_GETPOS)),
              static_cast<long>(Query(records, PBM_GETPOS)),
              static_cast<long>(Query(records, PBM_GETRANGE, FALSE)));
  if (!shoot("wizard-4-processing.bmp", 100)) return Fail("processing page");

  gui::ClickLater(gui::WaitForChild(main, "Button", "Cancel"));
  if (HWND box = gui::WaitForDialog(wizard.process.dwProcessId, "Quit?")) {
    gui::AnswerDialog(box, IDYES);
  }
  gui::ClickLater(gui::WaitForChild(main, "Button", "End"));
  gui::WaitForExit(wizard, 30000);
  gui::StopWizard(&wizard);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc != 2) {
    std::printf("usage: wizard_screenshot_tour <output directory>\n");
    return 2;
  }
  return Tour(gui::WindowsPath(argv[1])) ? 0 : 1;
}
