// End-to-end tests of the real gandrelgui.exe: each test starts the wizard,
// operates its pages from outside as a user would, and checks the screen,
// the dump files and the program's end.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dump/crc32.h"
#include "tests/fixture/data_file_writer.h"
#include "tests/fixture/fixture_writer.h"
#include "tests/wizard/gui_driver.h"

namespace {

using fixture::FixtureRecord;

// --- Files ------------------------------------------------------------------------

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      const bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (directory && !link) {
        RemoveTree(child);
      } else if (directory) {
        RemoveDirectoryA(child.c_str());
      } else {
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

void MakeDirectories(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadAll(const std::string& path) {
  const std::vector<uint8_t> bytes = fixture::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// Writes a data file of `count` records and returns them as the reader will
// hand them out.
std::vector<FixtureRecord> WriteDataFile(const std::string& path, uint32_t count,
                                         uint16_t recordLength, uint16_t version = 0x0600,
                                         uint16_t pageSize = 512, uint32_t seed = 7) {
  fixture::FixtureOptions options;
  options.version = version;
  options.pageSize = pageSize;
  options.recordLength = recordLength;
  std::vector<FixtureRecord> records = fixture::MakeRecords(count, recordLength, 0, seed);
  EXPECT_TRUE(fixture::WriteFileBytes(path, fixture::BuildDataFile(options, records).bytes))
      << path;
  return records;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// The dump file the wizard writes for these records in `format` (1 to 6).
std::string ExpectedDump(const std::vector<FixtureRecord>& records, int format) {
  std::string out;
  for (const FixtureRecord& record : records) {
    const std::string raw(record.fixed.begin(), record.fixed.end());
    const uint32_t crc = Crc32(static_cast<uint32_t>(raw.size()),
                               reinterpret_cast<const uint8_t*>(raw.data()));
    char crcHex[16];
    std::snprintf(crcHex, sizeof crcHex, "%02x", static_cast<unsigned>(crc));
    const std::string length = std::to_string(raw.size());
    switch (format) {
      case 1: out += raw; break;
      case 2: out += length + "," + raw; break;
      case 3: out += std::to_string(crc) + "," + raw; break;
      case 4: out += Hex(raw); break;
      case 5: out += length + "," + Hex(raw); break;
      case 6: out += std::string(crcHex) + ":" + Hex(raw); break;
    }
    out += "\r\n";
  }
  return out;
}

// Compares a dump file with its expected bytes, reporting the first
// difference rather than both files whole.
::testing::AssertionResult SameBytes(const std::string& path, const std::string& expected) {
  const std::string actual = ReadAll(path);
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure()
         << path << ": " << actual.size() << " bytes, expected " << expected.size()
         << "; first difference at offset " << at << ": \""
         << actual.substr(at, 40) << "\" instead of \"" << expected.substr(at, 40) << "\"";
}

std::string FileNameLabel(const std::string& path) {
  if (path.size() > 50) return "FileName:  ..." + path.substr(path.size() - 50) + "             ";
  return "FileName:     " + path + "             ";
}

// --- The pages as tables ---------------------------------------------------------

// One expected child control: class, text (none: not compared), position,
// style and extended style.
struct Row {
  const char* className;
  const char* text;
  int x, y, width, height;
  DWORD style;
  DWORD exStyle;
  DWORD styleIgnored = WS_VISIBLE;  // bits the control changes as it is used
};

// WS_EX_TOPMOST (0x00000008) means nothing for a child window and the
// system drops it, so 0x02000008 reads back as 0x02000000.
constexpr DWORD kTextStyle = 0x50000000, kTextEx = 0x02000000;
constexpr DWORD kGroupStyle = 0x50000007, kGroupEx = 0x02000020;
constexpr DWORD kRadioStyle = 0x50000004, kRadioEx = 0x02000000;
// The edit control takes WS_BORDER off its window and draws the border
// itself, so 0x50810080 reads back without 0x00800000.
constexpr DWORD kEditStyle = 0x50010080, kEditEx = 0;
constexpr DWORD kBarStyle = 0x50000000, kBarEx = 0;
constexpr DWORD kBannerStyle = 0x5000000E, kBannerEx = 0x02000000;

Row Text(const char* text, int x, int y, int w, int h) {
  return {"Static", text, x, y, w, h, kTextStyle, kTextEx};
}
Row Group(const char* text, int x, int y, int w, int h) {
  return {"Button", text, x, y, w, h, kGroupStyle, kGroupEx};
}
// A radio button gains WS_TABSTOP while it is checked (BM_SETCHECK).
Row Radio(const char* text, int x, int y) {
  return {"Button", text, x, y, 150, 25, kRadioStyle, kRadioEx, WS_VISIBLE | WS_TABSTOP};
}
Row Field(const char* text, int x, int y, int w, int h) {
  return {"Edit", text, x, y, w, h, kEditStyle, kEditEx};
}
Row Push(const char* text, int x, int y) {
  return {"Button", text, x, y, 100, 25, kTextStyle, kTextEx};
}
Row Bar(int y) { return {"msctls_progress32", "", 25, y, 505, 25, kBarStyle, kBarEx}; }
Row Banner() { return {"Static", "", 0, 0, 560, 64, kBannerStyle, kBannerEx}; }

std::vector<Row> AgreementPage() {
  return {Text("Legal Agreement", 5, 72, 140, 15), Group("", 25, 100, 490, 205),
          Text(nullptr, 35, 113, 450, 200),        Push("I Agree", 440, 330),
          Push("Cancel", 330, 330),                Banner()};
}

std::vector<Row> SourcePage(const char* path) {
  return {Text("Source - Setup", 160, 72, 140, 15),
          Text("Define the source file(s):", 20, 105, 550, 15),
          Group("Type", 20, 130, 160, 100),
          Radio("Single File", 30, 145),
          Radio("Single Directory", 30, 170),
          Radio("Directory Recursive", 30, 195),
          Group("File / Directory", 200, 130, 340, 100),
          Field(path, 210, 157, 200, 18),
          Field("btr", 330, 188, 30, 18),
          Text("File Extension:      myFile.", 210, 190, 190, 15),
          Push("Browse", 415, 152),
          Push("Next", 440, 330),
          Push("Back", 330, 330),
          Push("Cancel", 220, 330),
          Banner()};
}

std::vector<Row> OutputPage(const char* path, const char* extension) {
  std::vector<Row> rows = {Text("Output - Setup", 300, 72, 140, 15),
                           Text("Define the target file(s):", 20, 105, 550, 15),
                           Group("Output Format", 20, 130, 160, 150),
                           Radio("Binary", 30, 145),
                           Radio("Binary + Lenght", 30, 165),
                           Radio("Binary + CRC", 30, 185),
                           Radio("HEX ", 30, 205),
                           Radio("HEX + length", 30, 225),
                           Radio("HEX + CRC", 30, 245),
                           Field(path, 210, 157, 200, 18)};
  if (extension == nullptr) {
    rows.push_back(Group("File", 200, 130, 340, 100));
  } else {
    rows.push_back(Group("Directory", 200, 130, 340, 100));
    rows.push_back(Field(extension, 330, 188, 30, 18));
    rows.push_back(Text("File Extension:      myFile.", 210, 190, 190, 15));
  }
  for (const Row& row : {Push("Browse", 415, 152), Push("Next", 440, 330),
                         Push("Back", 330, 330), Push("Cancel", 220, 330), Banner()}) {
    rows.push_back(row);
  }
  return rows;
}

std::vector<Row> ProcessingPage(bool withBars, const char* button) {
  std::vector<Row> rows = {Text("Processing", 440, 72, 140, 15),
                           Text(nullptr, 20, 105, 550, 15),
                           Group("", 20, 120, 515, 200),
                           Text(nullptr, 30, 135, 550, 15),
                           Text(nullptr, 30, 165, 250, 15),
                           Text(nullptr, 270, 165, 550, 15),
                           Text(nullptr, 30, 195, 100, 15),
                           Text(nullptr, 270, 195, 550, 15)};
  if (withBars) {
    rows.push_back(Bar(240));
    rows.push_back(Bar(280));
  }
  for (const Row& row : {Push(button, 440, 330), Push("Back", 330, 330), Banner()}) {
    rows.push_back(row);
  }
  return rows;
}

std::string Describe(const std::vector<gui::Child>& children) {
  std::string out;
  for (const gui::Child& c : children) {
    char line[512];
    std::snprintf(line, sizeof line, "  %s \"%s\" %ld,%ld %ldx%ld style %08lx ex %08lx\n",
                  c.className.c_str(), c.text.substr(0, 40).c_str(), c.rect.left, c.rect.top,
                  c.rect.right - c.rect.left, c.rect.bottom - c.rect.top,
                  static_cast<unsigned long>(c.style), static_cast<unsigned long>(c.exStyle));
    out += line;
  }
  return out;
}

// --- The fixture: one wizard process per test -------------------------------------

class WizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exe_ = gui::WindowsPath(GANDREL_GUI_EXE);
    exeDirectory_ = exe_.substr(0, exe_.find_last_of('\\'));
    work_ = gui::WindowsPath(GANDREL_E2E_WORK) + "\\" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    RemoveTree(work_);
    MakeDirectories(work_);
  }

  void TearDown() override { gui::StopWizard(&wizard_); }

  void Start() {
    ASSERT_TRUE(gui::StartWizard(exe_, exeDirectory_, &wizard_)) << exe_;
    main_ = wizard_.main;
  }

  DWORD ProcessId() const { return wizard_.process.dwProcessId; }

  // Compares the main window's children, in order, with a page table.
  void ExpectPage(const std::vector<Row>& rows) {
    // The page is complete once its banner, created last, is there.
    gui::WaitUntil([&] { return gui::Children(main_).size() == rows.size(); }, 5000);
    const std::vector<gui::Child> children = gui::Children(main_);
    ASSERT_EQ(children.size(), rows.size()) << Describe(children);
    for (size_t i = 0; i < rows.size(); ++i) {
      const Row& row = rows[i];
      const gui::Child& child = children[i];
      SCOPED_TRACE("control " + std::to_string(i + 1) + "\n" + Describe(children));
      EXPECT_EQ(_stricmp(child.className.c_str(), row.className), 0) << child.className;
      if (row.text != nullptr) {
        EXPECT_EQ(child.text, row.text);
      }
      EXPECT_EQ(child.rect.left, row.x);
      EXPECT_EQ(child.rect.top, row.y);
      EXPECT_EQ(child.rect.right - child.rect.left, row.width);
      EXPECT_EQ(child.rect.bottom - child.rect.top, row.height);
      EXPECT_EQ(static_cast<DWORD>(child.style) & ~row.styleIgnored, row.style & ~row.styleIgnored);
      EXPECT_EQ(static_cast<DWORD>(child.exStyle), row.exStyle);
    }
  }

  HWND Find(const char* className, const char* text) {
    HWND window = gui::WaitForChild(main_, className, text);
    EXPECT_NE(window, nullptr) << className << " \"" << text << "\"";
    return window;
  }

  // The child of the given class whose top-left corner is at x, y.
  HWND At(const char* className, int x, int y) {
    for (const gui::Child& child : gui::Children(main_)) {
      if (_stricmp(child.className.c_str(), className) == 0 && child.rect.left == x &&
          child.rect.top == y) {
        return child.window;
      }
    }
    ADD_FAILURE() << "no " << className << " at " << x << "," << y;
    return nullptr;
  }

  void Press(const char* text) {
    HWND button = Find("Button", text);
    if (button != nullptr) gui::Click(button);
  }

  // Waits for the message box that `action` opens, checks its question and
  // answers it.
  void Answer(const char* question, int answer) {
    HWND box = gui::WaitForDialog(ProcessId(), "Quit?");
    ASSERT_NE(box, nullptr) << "no message box for: " << question;
    EXPECT_EQ(gui::MessageBoxText(box), question);
    EXPECT_TRUE(gui::AnswerDialog(box, answer));
  }

  void ExpectEndsWithCodeZero() {
    ASSERT_TRUE(gui::WaitForExit(wizard_, gui::kPatience));
    DWORD code = 1;
    GetExitCodeProcess(wizard_.process.hProcess, &code);
    EXPECT_EQ(code, 0u);
  }

  // Source page: the path field and the extension field.
  HWND SourcePath() { return At("Edit", 210, 157); }
  HWND SourceExtension() { return At("Edit", 330, 188); }
  HWND OutputPath() { return At("Edit", 210, 157); }
  HWND OutputExtension() { return At("Edit", 330, 188); }
  HWND StatusLabel() { return At("Static", 20, 105); }

  // From the agreement page to the output page with these source settings
  // (mode 1, 2 or 3; the extension only for the directory modes).
  void SetUpSource(int mode, const std::string& path, const char* extension = "btr") {
    Press("I Agree");
    const char* kModes[] = {"Single File", "Single Directory", "Directory Recursive"};
    HWND field = SourcePath();
    gui::SetText(field, path);
    Press(kModes[mode - 1]);
    gui::SetText(field, path);  // the directory modes trim a file name away
    if (mode != 1) gui::SetText(SourceExtension(), extension);
    Press("Next");
    Find("Static", "Output - Setup");
  }

  // Waits until the run on the processing page has ended and returns the
  // outcome shown on the "Processing file(s)" label.
  std::string WaitForRunEnd() {
    HWND status = StatusLabel();
    std::string text;
    const bool ended = gui::WaitUntil(
        [&] {
          text = gui::Text(status);
          return text.rfind("Done:", 0) == 0 || text.rfind("Cancelled:", 0) == 0;
        },
        300000);
    EXPECT_TRUE(ended) << "run still going: " << text;
    EXPECT_NE(gui::WaitForChild(main_, "Button", "End"), nullptr);
    gui::WaitUntil([&] { return gui::FindChild(main_, "msctls_progress32", "") == nullptr; },
                   10000);
    return text;
  }

  gui::WizardProcess wizard_;
  HWND main_ = nullptr;
  std::string exe_;
  std::string exeDirectory_;
  std::string work_;
};

// --- Pages, navigation and settings -----------------------------------------------

using PagesTest = WizardTest;

TEST_F(PagesTest, MainWindowAgreementPageAndQuitQuestions) {
  Start();
  char className[64] = {};
  GetClassNameA(main_, className, sizeof className);
  EXPECT_STREQ(className, "mirelta_XClass");
  EXPECT_EQ(gui::Text(main_), "Visual Gandrel 1.0");
  RECT frame;
  GetWindowRect(main_, &frame);
  EXPECT_EQ(frame.right - frame.left, 560);
  EXPECT_EQ(frame.bottom - frame.top, 420);
  const LONG style = GetWindowLongA(main_, GWL_STYLE);
  EXPECT_EQ(style & (WS_DLGFRAME | WS_SYSMENU), WS_DLGFRAME | WS_SYSMENU);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);

  ExpectPage(AgreementPage());
  const std::string notice = gui::Text(At("Static", 35, 113));
  EXPECT_GT(notice.size(), 500u);
  EXPECT_NE(notice.find("Visual Gandrel"), std::string::npos);
  EXPECT_NE(notice.find("I Agree"), std::string::npos);

  // Cancel and Escape ask; No leaves the page as it was.
  gui::ClickLater(Find("Button", "Cancel"));
  Answer("Are you sure you want to quit?", IDNO);
  gui::PressEscape(main_);
  Answer("Are you sure you want to quit?", IDNO);
  ExpectPage(AgreementPage());

  // The close box closes at once, without a question.
  PostMessageA(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
  ExpectEndsWithCodeZero();
}

TEST_F(PagesTest, SourcePageModesAndTrim) {
  const std::string data = work_ + "\\data";
  MakeDirectories(data);
  Start();
  Press("I Agree");
  // First visit: the working directory, Single File, no extension field.
  ExpectPage(SourcePage(exeDirectory_.c_str()));
  EXPECT_TRUE(gui::IsChecked(Find("Button", "Single File")));
  EXPECT_FALSE(gui::IsChecked(Find("Button", "Single Directory")));
  EXPECT_FALSE(gui::IsChecked(Find("Button", "Directory Recursive")));
  EXPECT_FALSE(IsWindowVisible(SourceExtension()));
  EXPECT_FALSE(IsWindowVisible(At("Static", 210, 190)));

  // Back and forth: the registry holds each page's controls and no more.
  Press("Back");
  ExpectPage(AgreementPage());
  Press("I Agree");
  ExpectPage(SourcePage(exeDirectory_.c_str()));

  HWND path = SourcePath();
  // A file name is cut back to its directory, closing backslash kept.
  gui::SetText(path, data + "\\cust.btr");
  Press("Single Directory");
  EXPECT_EQ(gui::Text(path), data + "\\");
  EXPECT_TRUE(gui::IsChecked(Find("Button", "Single Directory")));
  EXPECT_FALSE(gui::IsChecked(Find("Button", "Single File")));
  EXPECT_TRUE(IsWindowVisible(SourceExtension()));
  EXPECT_TRUE(IsWindowVisible(At("Static", 210, 190)));
  // An existing directory stays as typed; a bare name has nothing to cut.
  gui::SetText(path, data);
  Press("Directory Recursive");
  EXPECT_EQ(gui::Text(path), data);
  EXPECT_TRUE(gui::IsChecked(Find("Button", "Directory Recursive")));
  EXPECT_FALSE(gui::IsChecked(Find("Button", "Single Directory")));
  gui::SetText(path, "cust.btr");
  Press("Single Directory");
  EXPECT_EQ(gui::Text(path), "cust.btr");
  // Single File never touches the path.
  gui::SetText(path, data + "\\cust.btr");
  Press("Single File");
  EXPECT_EQ(gui::Text(path), data + "\\cust.btr");
  EXPECT_FALSE(IsWindowVisible(SourceExtension()));

  // Escape typed into a field asks as well; No changes nothing.
  gui::PressEscape(path);
  Answer("Are you sure you want to quit?", IDNO);
  EXPECT_EQ(gui::Text(path), data + "\\cust.btr");

  gui::ClickLater(Find("Button", "Cancel"));
  Answer("Are you sure you want to quit?", IDYES);
  ExpectEndsWithCodeZero();
}

TEST_F(PagesTest, OutputPageProposalsAndSettingsAcrossPages) {
  const std::string a = work_ + "\\a", b = work_ + "\\b", out = work_ + "\\out";
  MakeDirectories(a);
  MakeDirectories(b);
  Start();

  // Single File: the dump file is proposed next to the data file.
  SetUpSource(1, a + "\\cust.btr");
  ExpectPage(OutputPage((a + "\\cust.btr.dmp").c_str(), nullptr));
  EXPECT_TRUE(gui::IsChecked(Find("Button", "Binary")));
  for (const char* other : {"Binary + Lenght", "Binary + CRC", "HEX ", "HEX + length", "HEX + CRC"}) {
    EXPECT_FALSE(gui::IsChecked(Find("Button", other))) << other;
  }
  gui::SetText(OutputPath(), work_ + "\\typed.dmp");
  Press("HEX + CRC");
  EXPECT_TRUE(gui::IsChecked(Find("Button", "HEX + CRC")));
  EXPECT_FALSE(gui::IsChecked(Find("Button", "Binary")));

  // Browse opens the save dialog; cancelling it changes nothing.
  gui::ClickLater(Find("Button", "Browse"));
  HWND save = gui::WaitForDialog(ProcessId(), "Please specify the ouput file");
  ASSERT_NE(save, nullptr);
  EXPECT_TRUE(gui::AnswerDialog(save, IDCANCEL));
  EXPECT_EQ(gui::Text(OutputPath()), work_ + "\\typed.dmp");

  // Back keeps the source; another source gives a new proposal, even over
  // the typed path, and the chosen format stays.
  Press("Back");
  ExpectPage(SourcePage((a + "\\cust.btr").c_str()));
  gui::SetText(SourcePath(), b + "\\other.btr");
  Press("Next");
  ExpectPage(OutputPage((b + "\\other.btr.dmp").c_str(), nullptr));
  EXPECT_TRUE(gui::IsChecked(Find("Button", "HEX + CRC")));

  // A directory mode proposes the source directory and "dmp".
  Press("Back");
  Press("Single Directory");
  EXPECT_EQ(gui::Text(SourcePath()), b + "\\");
  gui::SetText(SourcePath(), b);
  Press("Next");
  ExpectPage(OutputPage(b.c_str(), "dmp"));

  // A typed path survives Back and Next; an emptied extension comes back
  // as "dmp".
  gui::SetText(OutputPath(), out);
  gui::SetText(OutputExtension(), "");
  Press("Back");
  EXPECT_EQ(gui::Text(SourceExtension()), "btr");
  Press("Next");
  ExpectPage(OutputPage(out.c_str(), "dmp"));
  gui::SetText(OutputExtension(), ".txt");

  // Back to Single File: the directory stays in the output field now that
  // an output extension has been set.
  Press("Back");
  Press("Single File");
  Press("Next");
  ExpectPage(OutputPage(out.c_str(), nullptr));
  Press("Back");
  Press("Directory Recursive");
  Press("Next");
  ExpectPage(OutputPage(out.c_str(), ".txt"));

  gui::PressEscape(main_);
  Answer("Are you sure you want to quit?", IDYES);
  ExpectEndsWithCodeZero();
}

// --- Single File runs ------------------------------------------------------------

using SingleFileTest = WizardTest;

TEST_F(SingleFileTest, DumpsTheFileInTheChosenFormatAndShowsItsParticulars) {
  const std::string data = work_ + "\\CUSTOMER.BTR";
  const std::string dump = work_ + "\\customer.dmp";
  const std::vector<FixtureRecord> records = WriteDataFile(data, 100, 40, 0x0610, 1024);
  Start();
  SetUpSource(1, data);
  gui::SetText(OutputPath(), dump);
  Press("HEX + length");
  Press("Next");

  EXPECT_EQ(WaitForRunEnd(),
            "Done: 1 file(s) dumped, 0 could not be opened, 0 dump file(s) could not be created");
  ExpectPage(ProcessingPage(false, "End"));
  EXPECT_EQ(gui::Text(At("Static", 30, 135)), FileNameLabel(data));
  EXPECT_EQ(gui::Text(At("Static", 270, 165)), "Version:     6");
  EXPECT_EQ(gui::Text(At("Static", 30, 195)), "Page Size:     1024");
  EXPECT_EQ(gui::Text(At("Static", 270, 195)), "Number of Records:     100");
  EXPECT_EQ(gui::Text(At("Static", 30, 165)), "Fixed Record Lenght:     40");
  EXPECT_TRUE(SameBytes(dump, ExpectedDump(records, 5)));

  // Back after the run asks nothing.  The output page keeps the format; in
  // Single File mode it proposes the dump file afresh from the source.
  Press("Back");
  ExpectPage(OutputPage((data + ".dmp").c_str(), nullptr));
  EXPECT_TRUE(gui::IsChecked(Find("Button", "HEX + length")));
  gui::SetText(OutputPath(), dump);
  Press("Binary + CRC");
  Press("Next");
  WaitForRunEnd();
  EXPECT_TRUE(SameBytes(dump, ExpectedDump(records, 3)));

  // End closes the program without a question.
  gui::ClickLater(Find("Button", "End"));
  ExpectEndsWithCodeZero();
}

TEST_F(SingleFileTest, LossesAreCountedOnTheStatusLine) {
  const std::string good = work_ + "\\GOOD.BTR";
  const std::string bad = work_ + "\\BAD.BTR";
  const std::vector<FixtureRecord> records = WriteDataFile(good, 12, 20, 0x0900, 4096);
  ASSERT_TRUE(fixture::WriteFileBytes(bad, std::vector<uint8_t>(3000, 0x55)));

  // A record too long for the 64000-byte area is left out; the ones after
  // it are still dumped.
  const std::string big = work_ + "\\BIG.BTR";
  fixture::FixtureOptions options;
  options.version = 0x0600;
  options.pageSize = 4096;
  options.recordLength = 16;
  options.variableLength = true;
  std::vector<FixtureRecord> variable = fixture::MakeRecords(3, 16, 50, 3);
  variable[1].variable.assign(70000, 0x42);
  ASSERT_TRUE(fixture::WriteFileBytes(big, fixture::BuildDataFile(options, variable).bytes));

  Start();
  SetUpSource(1, bad);
  gui::SetText(OutputPath(), work_ + "\\bad.dmp");
  Press("Next");
  EXPECT_EQ(WaitForRunEnd(),
            "Done: 0 file(s) dumped, 1 could not be opened, 0 dump file(s) could not be created");
  EXPECT_FALSE(Exists(work_ + "\\bad.dmp"));

  // A dump file in a directory that does not exist: the records are read
  // (the labels show the file) but go nowhere.
  Press("Back");
  Press("Back");
  gui::SetText(SourcePath(), good);
  Press("Next");
  gui::SetText(OutputPath(), work_ + "\\missing\\good.dmp");
  Press("Next");
  EXPECT_EQ(WaitForRunEnd(),
            "Done: 0 file(s) dumped, 0 could not be opened, 1 dump file(s) could not be created");
  EXPECT_EQ(gui::Text(At("Static", 270, 165)), "Version:     9");
  EXPECT_EQ(gui::Text(At("Static", 270, 195)), "Number of Records:     12");

  Press("Back");
  Press("Back");
  gui::SetText(SourcePath(), big);
  Press("Next");
  gui::SetText(OutputPath(), work_ + "\\big.dmp");
  Press("Binary + Lenght");
  Press("Next");
  EXPECT_EQ(WaitForRunEnd(),
            "Done: 1 file(s) dumped, 0 could not be opened, 0 dump file(s) could not be created, "
            "1 record(s) too long to dump");
  std::string expected;
  for (int i : {0, 2}) {
    std::string whole(variable[i].fixed.begin(), variable[i].fixed.end());
    whole.append(variable[i].variable.begin(), variable[i].variable.end());
    expected += std::to_string(whole.size()) + "," + whole + "\r\n";
  }
  EXPECT_TRUE(SameBytes(work_ + "\\big.dmp", expected));
}

// --- Directory runs ---------------------------------------------------------------

using DirectoryTest = WizardTest;

TEST_F(DirectoryTest, SingleDirectoryAndRecursiveRunsMirrorTheTree) {
  const std::string src = work_ + "\\src";
  MakeDirectories(src + "\\sub\\deeper");
  MakeDirectories(src + "\\.hidden");
  const auto a = WriteDataFile(src + "\\A.BTR", 5, 16, 0x0600, 512, 1);
  const auto b = WriteDataFile(src + "\\b.btr", 6, 16, 0x0500, 512, 2);
  const auto c = WriteDataFile(src + "\\sub\\C.BTR", 7, 16, 0x0700, 1024, 3);
  const auto d = WriteDataFile(src + "\\sub\\deeper\\d.Btr", 8, 16, 0x0800, 1024, 4);
  WriteDataFile(src + "\\.hidden\\E.BTR", 2, 16);
  WriteDataFile(src + "\\CUST.BTR.BAK", 2, 16);
  WriteDataFile(src + "\\CUST.DAT", 2, 16);
  ASSERT_TRUE(fixture::WriteFileBytes(src + "\\BROKEN.BTR", std::vector<uint8_t>(100, 1)));

  const std::string out1 = work_ + "\\out1", out2 = work_ + "\\out2";
  MakeDirectories(out1);
  MakeDirectories(out2);
  Start();

  // One directory, output without a closing backslash, extension "dmp".
  SetUpSource(2, src, "btr");
  gui::SetText(OutputPath(), out1);
  Press("Next");
  EXPECT_EQ(WaitForRunEnd(),
            "Done: 2 file(s) dumped, 1 could not be opened, 0 dump file(s) could not be created");
  EXPECT_TRUE(SameBytes(out1 + "\\A.BTR.dmp", ExpectedDump(a, 1)));
  EXPECT_TRUE(SameBytes(out1 + "\\B.BTR.dmp", ExpectedDump(b, 1)));  // names upper-cased
  EXPECT_FALSE(Exists(out1 + "\\BROKEN.BTR.dmp"));
  EXPECT_FALSE(Exists(out1 + "\\sub"));
  EXPECT_FALSE(Exists(out1 + "\\CUST.BTR.BAK.dmp"));
  EXPECT_FALSE(Exists(out1 + "\\CUST.DAT.dmp"));

  // The whole tree, output with a closing backslash, extension with its
  // point, another format.
  Press("Back");
  Press("Back");
  Press("Directory Recursive");
  Press("Next");
  gui::SetText(OutputPath(), out2 + "\\");
  gui::SetText(OutputExtension(), ".txt");
  Press("HEX ");
  Press("Next");
  EXPECT_EQ(WaitForRunEnd(),
            "Done: 4 file(s) dumped, 1 could not be opened, 0 dump file(s) could not be created");
  EXPECT_TRUE(SameBytes(out2 + "\\A.BTR.txt", ExpectedDump(a, 4)));
  EXPECT_TRUE(SameBytes(out2 + "\\B.BTR.txt", ExpectedDump(b, 4)));
  EXPECT_TRUE(SameBytes(out2 + "\\sub\\C.BTR.txt", ExpectedDump(c, 4)));
  EXPECT_TRUE(SameBytes(out2 + "\\sub\\deeper\\D.BTR.txt", ExpectedDump(d, 4)));
  EXPECT_FALSE(Exists(out2 + "\\.hidden"));
  EXPECT_FALSE(Exists(out2 + "\\.hidden\\E.BTR.txt"));

  // Output "directory" that is a file: every dump file fails, and says so.
  Press("Back");
  gui::SetText(OutputPath(), out1 + "\\A.BTR.dmp");
  Press("Next");
  EXPECT_EQ(WaitForRunEnd(),
            "Done: 0 file(s) dumped, 1 could not be opened, 4 dump file(s) could not be created");

  gui::ClickLater(Find("Button", "End"));
  ExpectEndsWithCodeZero();
}

// --- Cancelling a long run ----------------------------------------------------------

using CancelTest = WizardTest;

// Enough files and records that the run is still going when the driver
// reacts, even on a fast machine.
constexpr int kLongRunFiles = 6;
// Long enough that a run outlasts the clicks and answers below on a quiet
// machine: the worker no longer waits for the window thread, and 300000
// records a file were dumped before Back, No and Next were through.
constexpr uint32_t kLongRunRecords = 1000000;

// Record i of a long run's file: "R" and the record number, eight bytes, as
// MakeRecords makes them.
void ReadLongRunRecord(const void*, uint64_t index, FixtureRecord* record) {
  char head[16];
  snprintf(head, sizeof head, "R%07u", static_cast<unsigned>(index + 1));
  record->fixed.assign(head, head + 8);
  record->variable.clear();
}

// Writes a 0x0600 file of 4096-byte pages holding `count` such records,
// page by page: millions of records held in memory at once can exhaust a
// 32-bit process under an emulated Wine.
void WriteLongRunFile(const std::string& path, uint32_t count) {
  fixture::FixtureOptions options;
  options.version = 0x0600;
  options.pageSize = 4096;
  options.recordLength = 8;
  fixture::RecordSource source;
  source.count = count;
  source.read = ReadLongRunRecord;
  FILE* out = fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr) << path;
  const bool written = fixture::WriteDataFile(options, source, fixture::FileSink(out), nullptr);
  EXPECT_EQ(fclose(out), 0) << path;
  EXPECT_TRUE(written) << path;
}

std::vector<std::string> DumpFilesIn(const std::string& directory) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((directory + "\\*.dmp").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.push_back(entry.cFileName);
  while (FindNextFileA(search, &entry));
  FindClose(search);
  return names;
}

uint64_t TotalSize(const std::string& directory) {
  uint64_t total = 0;
  for (const std::string& name : DumpFilesIn(directory)) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA((directory + "\\" + name).c_str(), GetFileExInfoStandard, &data)) {
      total += (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    }
  }
  return total;
}

TEST_F(CancelTest, YesStopsTheRunNoLetsItFinish) {
  const std::string src = work_ + "\\src", out = work_ + "\\out";
  MakeDirectories(src);
  MakeDirectories(out);
  for (int i = 0; i < kLongRunFiles; ++i) {
    WriteLongRunFile(src + "\\F" + std::to_string(i) + ".BTR", kLongRunRecords);
  }
  Start();
  SetUpSource(2, src, "btr");
  gui::SetText(OutputPath(), out);
  Press("Next");

  // While the run goes on, the page holds all its controls.
  ASSERT_TRUE(gui::WaitUntil([&] { return !DumpFilesIn(out).empty(); }));
  ExpectPage(ProcessingPage(true, "Cancel"));
  EXPECT_EQ(gui::Text(StatusLabel()), "Processing file(s)");

  // Yes: the bars go, the button reads End, no further file is touched.
  gui::ClickLater(Find("Button", "Cancel"));
  Answer("Are you sure you want to cancel?", IDYES);
  const std::string outcome = WaitForRunEnd();
  EXPECT_EQ(outcome.rfind("Cancelled:", 0), 0u) << outcome;
  ExpectPage(ProcessingPage(false, "End"));
  const size_t filesAtCancel = DumpFilesIn(out).size();
  const uint64_t bytesAtCancel = TotalSize(out);
  EXPECT_LT(filesAtCancel, static_cast<size_t>(kLongRunFiles));
  Sleep(2000);
  EXPECT_EQ(DumpFilesIn(out).size(), filesAtCancel);
  EXPECT_EQ(TotalSize(out), bytesAtCancel);

  // A new run from the output page; Back during it, answered No, leaves the
  // worker going, and Next is ignored until it has finished.
  Press("Back");
  ExpectPage(OutputPage(out.c_str(), "dmp"));
  Press("Next");
  ASSERT_NE(gui::WaitForChild(main_, "Static", "Processing"), nullptr);
  gui::ClickLater(Find("Button", "Back"));
  Answer("Are you sure you want to cancel?", IDNO);
  ASSERT_NE(gui::WaitForChild(main_, "Static", "Output - Setup"), nullptr);
  // Next is ignored only while the run goes on; with a whole file still to
  // write, it is still going when Next arrives.
  const uint64_t fullSize = static_cast<uint64_t>(kLongRunFiles) * kLongRunRecords * 10;
  if (TotalSize(out) + uint64_t{kLongRunRecords} * 10 > fullSize) {
    GTEST_SKIP() << "the run left behind had all but finished before Next could be tried; "
                    "kLongRunRecords is too small for this machine";
  }
  Press("Next");
  EXPECT_NE(gui::FindChild(main_, "Static", "Output - Setup"), nullptr)
      << "a second run started while the first one was going";
  ASSERT_TRUE(gui::WaitUntil([&] { return TotalSize(out) == fullSize; }, 300000))
      << "the run left behind did not finish all files";

  // Cancel answered No: the bars go and the button reads End, but the run
  // goes on; End asks again while it runs and closes once it has finished.
  for (int i = 0; i < kLongRunFiles; ++i) DeleteFileA((out + "\\F" + std::to_string(i) + ".BTR.dmp").c_str());
  gui::WaitUntil([&] {
    Press("Next");
    return gui::FindChild(main_, "Static", "Processing") != nullptr;
  });
  ASSERT_TRUE(gui::WaitUntil([&] { return !DumpFilesIn(out).empty(); }));
  gui::ClickLater(Find("Button", "Cancel"));
  Answer("Are you sure you want to cancel?", IDNO);
  ASSERT_NE(gui::WaitForChild(main_, "Button", "End"), nullptr);
  EXPECT_EQ(gui::FindChild(main_, "msctls_progress32", ""), nullptr);
  gui::ClickLater(Find("Button", "End"));
  Answer("Are you sure you want to cancel?", IDNO);
  EXPECT_EQ(WaitForRunEnd(),
            "Done: 6 file(s) dumped, 0 could not be opened, 0 dump file(s) could not be created");
  EXPECT_EQ(TotalSize(out), static_cast<uint64_t>(kLongRunFiles) * kLongRunRecords * 10);
  gui::ClickLater(Find("Button", "End"));
  ExpectEndsWithCodeZero();
}

TEST_F(CancelTest, EscapeDuringARunEndsTheProgram) {
  const std::string src = work_ + "\\src";
  MakeDirectories(src);
  WriteLongRunFile(src + "\\ONE.BTR", kLongRunRecords * 3);
  Start();
  SetUpSource(1, src + "\\ONE.BTR");
  Press("Next");
  ASSERT_TRUE(gui::WaitUntil([&] { return Exists(src + "\\ONE.BTR.dmp"); }));
  gui::PressEscape(main_);
  Answer("Are you sure you want to quit?", IDYES);
  ExpectEndsWithCodeZero();
}

// --- A tree that leads back into itself ----------------------------------------------

using LinkLoopTest = WizardTest;

TEST_F(LinkLoopTest, RecursiveRunSkipsLinksAndStopsAtTheDepthBound) {
  const std::string root = gui::WindowsPath(GANDREL_LINK_TREE);
  if (root.empty()) GTEST_SKIP() << "the build made no tree with a link loop";
  const std::string tree = root + "\\tree", out = root + "\\out";
  ASSERT_TRUE(Exists(tree + "\\sub\\loop")) << "link tree missing: " << tree;

  const auto a = WriteDataFile(tree + "\\A.BTR", 3, 16);
  const auto b = WriteDataFile(tree + "\\sub\\B.BTR", 4, 16);
  // A chain of directories one level deeper than a run descends.
  std::string deep = tree;
  for (int level = 1; level <= 65; ++level) {
    deep += "\\d";
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    if (level == 64) WriteDataFile(deep + "\\LEVEL64.BTR", 2, 16);
    if (level == 65) WriteDataFile(deep + "\\LEVEL65.BTR", 2, 16);
  }

  Start();
  SetUpSource(3, tree, "btr");
  gui::SetText(OutputPath(), out);
  Press("Next");
  EXPECT_EQ(WaitForRunEnd(),
            "Done: 3 file(s) dumped, 0 could not be opened, 0 dump file(s) could not be created");
  EXPECT_TRUE(SameBytes(out + "\\A.BTR.dmp", ExpectedDump(a, 1)));
  EXPECT_TRUE(SameBytes(out + "\\sub\\B.BTR.dmp", ExpectedDump(b, 1)));
  EXPECT_FALSE(Exists(out + "\\sub\\loop"));
  std::string mirrored = out;
  for (int level = 1; level <= 64; ++level) mirrored += "\\d";
  EXPECT_TRUE(Exists(mirrored + "\\LEVEL64.BTR.dmp"));
  EXPECT_FALSE(Exists(mirrored + "\\d"));

  gui::ClickLater(Find("Button", "End"));
  ExpectEndsWithCodeZero();
}

}  // namespace
