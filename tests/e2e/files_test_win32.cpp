// End to end: the file commands through the program's own file chooser (Load,
// Save, Export from the menu and from the Log Entries view), the folders they
// remember in the registry, the Log Entries view and the About box.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/e2e/harness_win32.h"
#include "ui/message_catalogue.h"

namespace sq71::e2e {
namespace {

constexpr const char* kChooserCaption = "Enter Filename";
constexpr const char* kJobCaption = "Export Report";
constexpr const char* kViewCaption = "Log Entries";
constexpr const char* kAboutCaption = "About...";
constexpr const char* kSettingsKey = "SOFTWARE\\CorvaleData";

std::string DataFile(const char* name) { return BuildPaths().data_dir + "\\" + name; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A file is complete once it has the expected size (writes go through a
// temporary file that replaces the target at the end).
bool WaitForFile(const std::string& path, std::size_t size) {
  return WaitUntil([&] { return Exists(path) && ReadFile(path).size() == size; });
}

void DeleteSettings() { RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey); }

// The stored folder, or "<none>" when the value is missing.
std::string StoredFolder(const char* value) {
  char data[2048] = {};
  DWORD size = sizeof(data) - 1;
  if (RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, value, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return "<none>";
  }
  return data;
}

void StoreFolder(const char* value, const std::string& folder) {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                  nullptr);
  RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                 static_cast<DWORD>(folder.size() + 1));
  RegCloseKey(key);
}

// Text of a control of the program, asked of the control itself (the window
// text that GetWindowTextA sees across processes is not an edit's content).
std::string ControlText(HWND control) {
  char text[2048] = {};
  SendMessageA(control, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
  return text;
}

std::string FullPath(const std::string& path) {
  char buffer[MAX_PATH * 4];
  DWORD length = GetFullPathNameA(path.c_str(), sizeof(buffer), buffer, nullptr);
  return std::string(buffer, length);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Folder names compare without case: the listing reports the drive letter in
// lower case under Wine. The program writes the folder after the chooser's
// modal loop has ended, which can be a moment after the chooser disappears
// (and after a sent message was served inside that loop), so the stored value
// is given a few seconds to arrive before it is compared.
#define EXPECT_SAME_FOLDER(expected, actual)                         \
  do {                                                               \
    const std::string wanted_folder = Lower(FullPath(expected));     \
    WaitUntil([&] { return Lower(actual) == wanted_folder; }, 5000); \
    EXPECT_EQ(wanted_folder, Lower(actual));                         \
  } while (0)

// Presses a key (with a modifier such as VK_CONTROL held) the way a person
// would: the key goes through the system's input queue. With a target, its
// thread's input is joined to ours first so the focus can be put there;
// without one, the key goes wherever the keyboard is.
void PressKey(HWND target, WORD key, WORD modifier = 0) {
  const DWORD ours = GetCurrentThreadId();
  const DWORD theirs = target != nullptr ? GetWindowThreadProcessId(target, nullptr) : 0;
  if (target != nullptr) {
    AttachThreadInput(ours, theirs, TRUE);
    SetForegroundWindow(GetAncestor(target, GA_ROOT));
    SetFocus(target);
  }
  std::vector<INPUT> input;
  for (WORD vk : {modifier, key, key, modifier}) {
    if (vk == 0) continue;
    INPUT one = {};
    one.type = INPUT_KEYBOARD;
    one.ki.wVk = vk;
    one.ki.dwFlags = input.size() >= (modifier != 0 ? 2u : 1u) ? KEYEVENTF_KEYUP : 0;
    input.push_back(one);
  }
  SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
  if (target != nullptr) AttachThreadInput(ours, theirs, FALSE);
}

// The three ways a person ends a dialog besides its buttons.
enum class Ending { kOkButton, kEscape, kCloseBox };

void EndDialogAs(HWND dialog, Ending ending) {
  switch (ending) {
    case Ending::kOkButton:
      PressButton(dialog, IDOK);
      break;
    case Ending::kEscape:
      PressKey(dialog, VK_ESCAPE);
      break;
    case Ending::kCloseBox:
      PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettings();
    LaunchOptions options;
    options.arguments = arguments_;
    ASSERT_TRUE(program_.Launch(options)) << program_.error();
    main_ = program_.WaitMainWindow();
    ASSERT_NE(nullptr, main_);
    ASSERT_TRUE(Responsive(main_));
    dir_ = program_.scratch_dir();
  }
  void TearDown() override {
    if (program_.Running()) {
      PostCommand(main_, IDM_EXIT);
      program_.WaitExit();
    }
    DeleteSettings();
  }

  std::string Scratch(const std::string& name) const { return dir_ + "\\" + name; }

  HWND OpenChooser(int command, HWND owner = nullptr) {
    if (owner == nullptr) {
      PostCommand(main_, command);
      // Export Report asks for the job first: taken as it stands.
      if (command == IDM_EXPORT_REPORT) {
        const HWND job = program_.WaitWindow("#32770", kJobCaption);
        if (job == nullptr) return nullptr;
        PostMessageA(job, WM_COMMAND, IDOK, 0);
      }
    } else {
      PostMessageA(owner, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
    }
    return program_.WaitWindow("#32770", kChooserCaption);
  }

  // Types a name into the chooser's name box and presses Enter there.
  static void EnterName(HWND chooser, const std::string& name) {
    HWND edit = GetDlgItem(chooser, IDC_CHOOSER_NAME);
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    PressKey(edit, VK_RETURN);
  }

  // A modal dialog hides at EndDialog but is destroyed only when its modal
  // loop has ended; waiting for that keeps a later sent message from being
  // served inside the loop, before the caller has finished its work.
  bool Gone(HWND window) {
    return WaitUntil([&] { return !IsWindow(window); });
  }

  // Loads a file through the chooser, typing its full path.
  void Load(const std::string& path) {
    HWND chooser = OpenChooser(IDM_LOAD);
    ASSERT_NE(nullptr, chooser);
    EnterName(chooser, path);
    ASSERT_TRUE(Gone(chooser));
    ASSERT_TRUE(Responsive(main_));
  }

  HWND OpenView() {
    PostCommand(main_, IDM_VIEW);
    return program_.WaitWindow("#32770", kViewCaption);
  }

  std::string arguments_;  // the program's command line
  Program program_;
  HWND main_ = nullptr;
  std::string dir_;
};

// Quiet mode ("+Q") silences the box for a file that cannot be written.
class QuietFiles : public Files {
 protected:
  QuietFiles() { arguments_ = "+Q"; }
};

TEST_F(QuietFiles, SaveOntoALockedFileShowsNoBoxAndKeepsIt) {
  const std::string path = Scratch("kept.ulg");
  WriteFile(path, "old content");
  // Held open without sharing, as another program may hold it.
  HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, lock);

  HWND chooser = OpenChooser(IDM_SAVE);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "kept");
  HWND question = program_.WaitBox();
  ASSERT_NE(nullptr, question);
  EXPECT_EQ(MessageText(kMsgConfirmOverwrite), BoxText(question));
  ASSERT_TRUE(PressButton(question, IDYES));
  ASSERT_TRUE(Gone(chooser));

  // A box from the failed save would come up before the box of a command
  // posted now; the first box must be that command's, and none may remain.
  PostCommand(main_, IDM_ERASE_LOG);
  HWND box = nullptr;
  ASSERT_TRUE(
      WaitUntil([&] { return (box = program_.FindBox()) != nullptr && !BoxText(box).empty(); }));
  EXPECT_EQ(MessageText(kMsgConfirmErase), BoxText(box));
  ASSERT_TRUE(PressButton(box, IDNO));
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(main_) != 0; }));
  ASSERT_TRUE(Responsive(main_));
  EXPECT_EQ(nullptr, program_.FindBox());

  CloseHandle(lock);
  EXPECT_EQ("old content", ReadFile(path));
}

TEST_F(Files, SaveThenLoadGivesAnIdenticalImage) {
  const std::string sample = ReadFile(DataFile("sample.ulg"));
  ASSERT_EQ(sample.size(), 65536u);
  Load(DataFile("sample.ulg"));

  // Save as a new name without a dot: the chooser adds ".ulg".
  HWND chooser = OpenChooser(IDM_SAVE);
  ASSERT_NE(nullptr, chooser);
  EXPECT_EQ("", ControlText(GetDlgItem(chooser, IDC_CHOOSER_NAME)));
  EnterName(chooser, "first");
  ASSERT_TRUE(WaitForFile(Scratch("first.ulg"), 65536));
  EXPECT_TRUE(ReadFile(Scratch("first.ulg")) == sample);

  // Load what was saved and save it again.
  Load(Scratch("first.ulg"));
  chooser = OpenChooser(IDM_SAVE);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "second");
  ASSERT_TRUE(WaitForFile(Scratch("second.ulg"), 65536));
  EXPECT_TRUE(ReadFile(Scratch("second.ulg")) == ReadFile(Scratch("first.ulg")));
  // Enter never left a line break in the name box: the names were taken whole.
  EXPECT_FALSE(Exists(Scratch("second")));
}

TEST_F(Files, OverwriteAnsweredNoKeepsTheChooserOpen) {
  Load(DataFile("sample.ulg"));
  WriteFile(Scratch("log1.ulg"), "old");

  HWND chooser = OpenChooser(IDM_SAVE);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "log1");
  HWND box = program_.WaitBox();
  ASSERT_NE(nullptr, box);
  EXPECT_EQ(MessageText(kMsgConfirmOverwrite), BoxText(box));
  ASSERT_TRUE(PressButton(box, IDNO));

  ASSERT_TRUE(Gone(box));
  ASSERT_TRUE(Responsive(chooser));
  EXPECT_TRUE(IsWindowVisible(chooser));
  EXPECT_EQ("log1", ControlText(GetDlgItem(chooser, IDC_CHOOSER_NAME)));
  EXPECT_EQ("old", ReadFile(Scratch("log1.ulg")));

  // Yes replaces it whole.
  EnterName(chooser, "log1");
  box = program_.WaitBox();
  ASSERT_NE(nullptr, box);
  ASSERT_TRUE(PressButton(box, IDYES));
  ASSERT_TRUE(WaitForFile(Scratch("log1.ulg"), 65536));
  EXPECT_TRUE(ReadFile(Scratch("log1.ulg")) == ReadFile(DataFile("sample.ulg")));
}

TEST_F(Files, LoadOfAWrongSizedFileSaysInvalidDataFile) {
  WriteFile(Scratch("short.ulg"), std::string(100, 'x'));
  HWND chooser = OpenChooser(IDM_LOAD);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "short.ulg");
  HWND box = program_.WaitBox();
  ASSERT_NE(nullptr, box);
  EXPECT_EQ("Error - Invalid data file", BoxText(box));
  ASSERT_TRUE(PressButton(box, IDOK));
  ASSERT_TRUE(Gone(chooser));

  // The image is left as it was, all zeros since start-up.
  chooser = OpenChooser(IDM_SAVE);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "after");
  ASSERT_TRUE(WaitForFile(Scratch("after.ulg"), 65536));
  EXPECT_TRUE(ReadFile(Scratch("after.ulg")) == std::string(65536, '\0'));
}

TEST_F(Files, LoadOfAMissingNameSaysInvalidBinaryFileAndStays) {
  WriteFile(Scratch("log1.ulg"), std::string(65536, '\0'));
  HWND chooser = OpenChooser(IDM_LOAD);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "log1");  // no extension is tried when opening
  HWND box = program_.WaitBox();
  ASSERT_NE(nullptr, box);
  EXPECT_EQ(MessageText(kMsgInvalidBinaryFile), BoxText(box));
  ASSERT_TRUE(PressButton(box, IDOK));
  ASSERT_TRUE(Responsive(chooser));
  EXPECT_TRUE(IsWindowVisible(chooser));
  ASSERT_TRUE(PressButton(chooser, IDCANCEL));
  ASSERT_TRUE(Gone(chooser));
}

TEST_F(Files, ChooserListsMatchingFilesFoldersAndDrives) {
  WriteFile(Scratch("a.ulg"), "a");
  WriteFile(Scratch("B.ULG"), "b");
  WriteFile(Scratch("e.csv"), "e");
  WriteFile(Scratch("dulg"), "d");
  CreateDirectoryA(Scratch("sub").c_str(), nullptr);

  HWND chooser = OpenChooser(IDM_LOAD);
  ASSERT_NE(nullptr, chooser);
  HWND list = GetDlgItem(chooser, IDC_CHOOSER_LIST);
  std::vector<std::string> rows = ListRows(list);
  auto has = [&rows](const char* row) {
    return std::find(rows.begin(), rows.end(), row) != rows.end();
  };
  EXPECT_TRUE(has("a.ulg"));
  EXPECT_TRUE(has("B.ULG"));
  EXPECT_TRUE(has("[sub]"));
  EXPECT_TRUE(has("[..]"));
  EXPECT_TRUE(has("[-c-]"));
  EXPECT_FALSE(has("e.csv"));
  EXPECT_FALSE(has("dulg"));

  // Show All brings the others in; unticking filters them out again.
  ASSERT_TRUE(PressButton(chooser, IDC_CHOOSER_SHOW_ALL));
  EXPECT_TRUE(WaitUntil([&] {
    rows = ListRows(list);
    return has("e.csv") && has("dulg");
  }));
  ASSERT_TRUE(PressButton(chooser, IDC_CHOOSER_SHOW_ALL));
  EXPECT_TRUE(WaitUntil([&] {
    rows = ListRows(list);
    return !has("e.csv") && !has("dulg") && has("a.ulg");
  }));
  PressButton(chooser, IDCANCEL);
}

TEST_F(Files, ViewShowsTheRowsOfTheLoadedLog) {
  Load(DataFile("sample.ulg"));
  HWND view = OpenView();
  ASSERT_NE(nullptr, view);
  std::vector<std::string> rows = ListRows(GetDlgItem(view, IDC_ENTRY_LIST));

  std::vector<std::string> expected;
  std::istringstream golden(ReadFile(DataFile("sample.view.txt")));
  for (std::string line; std::getline(golden, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    expected.push_back(line);
  }
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(expected, rows);

  EndDialogAs(view, Ending::kCloseBox);
  ASSERT_TRUE(Gone(view));
}

TEST_F(Files, ViewExportWritesTheSampleCsvAndRemembersTheFolder) {
  Load(DataFile("sample.ulg"));
  HWND view = OpenView();
  ASSERT_NE(nullptr, view);

  HWND chooser = OpenChooser(IDC_ENTRY_EXPORT, view);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "entries");
  const std::string csv = ReadFile(DataFile("sample.csv"));
  ASSERT_TRUE(WaitForFile(Scratch("entries.csv"), csv.size()));
  EXPECT_TRUE(ReadFile(Scratch("entries.csv")) == csv);
  EXPECT_SAME_FOLDER(dir_, StoredFolder("ExportDir"));

  // The view is still open and closes with Esc.
  ASSERT_TRUE(Responsive(view));
  EXPECT_TRUE(IsWindowVisible(view));
  EndDialogAs(view, Ending::kEscape);
  ASSERT_TRUE(Gone(view));
}

TEST_F(Files, ViewExportCancelledWritesNothingButKeepsTheFolder) {
  CreateDirectoryA(Scratch("exports").c_str(), nullptr);
  Load(DataFile("sample.ulg"));
  HWND view = OpenView();
  ASSERT_NE(nullptr, view);
  HWND chooser = OpenChooser(IDC_ENTRY_EXPORT, view);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "exports");
  ASSERT_TRUE(WaitUntil([&] {
    return Lower(ControlText(GetDlgItem(chooser, IDC_CHOOSER_PATH))).find("exports") !=
           std::string::npos;
  }));
  EndDialogAs(chooser, Ending::kEscape);
  ASSERT_TRUE(Gone(chooser));
  ASSERT_TRUE(Responsive(view));
  EXPECT_SAME_FOLDER(Scratch("exports"), StoredFolder("ExportDir"));
  EXPECT_FALSE(Exists(Scratch("exports\\exports.csv")));
  EXPECT_FALSE(Exists(Scratch("exports.csv")));
  EndDialogAs(view, Ending::kOkButton);
  ASSERT_TRUE(Gone(view));
}

TEST_F(Files, DoubleClickedFileAsksInSaveModeAndLoadsAtOnceInOpenMode) {
  WriteFile(Scratch("old.ulg"), "old");
  StoreFolder("LogSaveDir", dir_);
  Load(DataFile("sample.ulg"));

  auto double_click = [](HWND chooser, const char* row) {
    HWND list = GetDlgItem(chooser, IDC_CHOOSER_LIST);
    std::vector<std::string> rows = ListRows(list);
    auto it = std::find(rows.begin(), rows.end(), row);
    if (it == rows.end()) return false;
    SendMessageA(list, LB_SETCURSEL, it - rows.begin(), 0);
    PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDC_CHOOSER_LIST, LBN_DBLCLK),
                 reinterpret_cast<LPARAM>(list));
    return true;
  };

  HWND chooser = OpenChooser(IDM_SAVE);
  ASSERT_NE(nullptr, chooser);
  ASSERT_TRUE(double_click(chooser, "old.ulg"));
  HWND box = program_.WaitBox();
  ASSERT_NE(nullptr, box);
  EXPECT_EQ(MessageText(kMsgConfirmOverwrite), BoxText(box));
  ASSERT_TRUE(PressButton(box, IDCANCEL));
  ASSERT_TRUE(Gone(box));
  ASSERT_TRUE(Responsive(chooser));
  EXPECT_TRUE(IsWindowVisible(chooser));
  EXPECT_EQ("old", ReadFile(Scratch("old.ulg")));
  ASSERT_TRUE(double_click(chooser, "old.ulg"));
  box = program_.WaitBox();
  ASSERT_NE(nullptr, box);
  ASSERT_TRUE(PressButton(box, IDYES));
  ASSERT_TRUE(WaitForFile(Scratch("old.ulg"), 65536));
  ASSERT_TRUE(Gone(chooser));
  EXPECT_SAME_FOLDER(dir_, StoredFolder("LogSaveDir"));

  // Open mode: no question, the file is loaded and the folder kept.
  StoreFolder("LogLoadDir", BuildPaths().data_dir);
  chooser = OpenChooser(IDM_LOAD);
  ASSERT_NE(nullptr, chooser);
  ASSERT_TRUE(double_click(chooser, "sample.ulg"));
  ASSERT_TRUE(Gone(chooser));
  ASSERT_TRUE(Responsive(main_));
  EXPECT_EQ(nullptr, program_.FindBox());
  EXPECT_SAME_FOLDER(BuildPaths().data_dir, StoredFolder("LogLoadDir"));
}

TEST_F(Files, ChooserStandsRightOfTheMainWindow) {
  RECT main_rect;
  GetWindowRect(main_, &main_rect);
  HWND chooser = OpenChooser(IDM_LOAD);
  ASSERT_NE(nullptr, chooser);
  RECT chooser_rect;
  GetWindowRect(chooser, &chooser_rect);
  // The test screen leaves room on the right of the program's window.
  ASSERT_GE(GetSystemMetrics(SM_CXFULLSCREEN) - main_rect.right,
            chooser_rect.right - chooser_rect.left);
  EXPECT_EQ(main_rect.right, chooser_rect.left);
  EXPECT_EQ(main_rect.top, chooser_rect.top);
  EndDialogAs(chooser, Ending::kCloseBox);
  ASSERT_TRUE(Gone(chooser));
}

TEST_F(Files, MenuExportWritesTheSampleCsv) {
  Load(DataFile("sample.ulg"));
  HWND chooser = OpenChooser(IDM_EXPORT);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "menu");
  const std::string csv = ReadFile(DataFile("sample.csv"));
  ASSERT_TRUE(WaitForFile(Scratch("menu.csv"), csv.size()));
  EXPECT_TRUE(ReadFile(Scratch("menu.csv")) == csv);
}

// Points .html at the stand-in browser, which records the document it is
// given in `record`; the old association comes back afterwards.
class HtmlAssociation {
 public:
  // program: the stand-in's name in the build's test folder.
  explicit HtmlAssociation(const std::string& record,
                           const std::string& program = "open_recorder.exe") {
    const std::string& probe = BuildPaths().probe_dll;
    const std::string command = "\"" + probe.substr(0, probe.find_last_of('\\')) + "\\" + program +
                                "\" \"" + record + "\" \"%1\"";
    LONG size = sizeof old_;
    had_old_ = RegQueryValueA(HKEY_CLASSES_ROOT, ".html", old_, &size) == ERROR_SUCCESS;
    Set(".html", kClass);
    Set(std::string(kClass) + "\\shell\\open\\command", command);
  }
  ~HtmlAssociation() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kClass);
    if (had_old_) Set(".html", old_);
  }

 private:
  static constexpr const char* kClass = "SQ71Test.Report";
  static void Set(const std::string& key, const std::string& value) {
    RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(),
                 static_cast<DWORD>(value.size()));
  }
  char old_[256] = {};
  bool had_old_ = false;
};

// The job dialog comes before the chooser: a logo that is no picture is told
// in a box and the dialog stays; the installer is there again next time.
TEST_F(Files, MenuExportReportAsksTheJobWritesTheReportAndOpensItInTheBrowser) {
  const std::string record = Scratch("opened.txt");
  HtmlAssociation association(record);
  WriteFile(Scratch("logo.txt"), "not a picture");
  Load(DataFile("sample.ulg"));
  PostCommand(main_, IDM_EXPORT_REPORT);
  HWND job = program_.WaitWindow("#32770", kJobCaption);
  ASSERT_NE(nullptr, job);
  SetDlgItemTextW(job, IDC_JOB_CUSTOMER, L"J\u00F6rg <Smith>");
  SetDlgItemTextA(job, IDC_JOB_INSTALLER, "Bob Fixit");
  SetDlgItemTextA(job, IDC_JOB_LOGO, Scratch("logo.txt").c_str());
  PostMessageA(job, WM_COMMAND, IDOK, 0);
  HWND box = program_.WaitBox();
  ASSERT_NE(nullptr, box);
  EXPECT_NE(std::string::npos, BoxText(box).find("neither a PNG nor a JPEG"));
  ASSERT_TRUE(PressButton(box, IDOK));
  SetDlgItemTextA(job, IDC_JOB_LOGO, "");
  PostMessageA(job, WM_COMMAND, IDOK, 0);
  HWND chooser = program_.WaitWindow("#32770", kChooserCaption);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "site");
  ASSERT_TRUE(WaitUntil([&] { return !ReadFile(record).empty(); }));
  EXPECT_EQ(Lower(FullPath(Scratch("site.html"))), Lower(ReadFile(record)));
  const std::string report = ReadFile(Scratch("site.html"));
  EXPECT_NE(std::string::npos, report.find("Log file sample.ulg"));
  EXPECT_NE(std::string::npos, report.find("J\xC3\xB6rg &lt;Smith&gt;"));
  EXPECT_NE(std::string::npos, report.find("</html>\n"));
  EXPECT_SAME_FOLDER(dir_, StoredFolder("ReportDir"));
  EXPECT_EQ("Bob Fixit", StoredFolder("ReportInstaller"));
  PostCommand(main_, IDM_EXPORT_REPORT);
  job = program_.WaitWindow("#32770", kJobCaption);
  ASSERT_NE(nullptr, job);
  char installer[64] = {};  // another process's edit answers WM_GETTEXT only
  SendMessageA(GetDlgItem(job, IDC_JOB_INSTALLER), WM_GETTEXT, sizeof installer,
               reinterpret_cast<LPARAM>(installer));
  EXPECT_STREQ("Bob Fixit", installer);
  ASSERT_TRUE(PressButton(job, IDCANCEL));
  ASSERT_TRUE(Gone(job));
  EXPECT_EQ(nullptr, program_.FindBox());
}

TEST_F(Files, ExportReportOfAnEmptyLogSaysSoAndOpensNoChooser) {
  WriteFile(Scratch("erased.ulg"), std::string(65536, '\xff'));
  Load(Scratch("erased.ulg"));
  PostCommand(main_, IDM_EXPORT_REPORT);
  HWND box = program_.WaitBox();
  ASSERT_NE(nullptr, box);
  EXPECT_EQ(MessageText(kMsgNoLogData), BoxText(box));
  ASSERT_TRUE(PressButton(box, IDOK));
  ASSERT_TRUE(Responsive(main_));
  EXPECT_EQ(nullptr, program_.FindBox());
}

TEST_F(QuietFiles, ExportReportOntoALockedFileShowsNoBoxAndOpensNothing) {
  const std::string record = Scratch("opened.txt");
  HtmlAssociation association(record);
  const std::string path = Scratch("kept.html");
  WriteFile(path, "old content");
  HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  Load(DataFile("sample.ulg"));
  PostCommand(main_, IDM_EXPORT_REPORT);
  HWND job = program_.WaitWindow("#32770", kJobCaption);
  ASSERT_NE(nullptr, job);
  PostMessageA(job, WM_COMMAND, IDOK, 0);
  HWND chooser = program_.WaitWindow("#32770", kChooserCaption);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "kept");
  HWND question = program_.WaitBox();
  ASSERT_NE(nullptr, question);
  ASSERT_TRUE(PressButton(question, IDYES));
  ASSERT_TRUE(Gone(chooser));
  ASSERT_TRUE(Responsive(main_));
  EXPECT_EQ(nullptr, program_.FindBox());
  CloseHandle(lock);
  EXPECT_EQ("old content", ReadFile(path));
  EXPECT_FALSE(Exists(record));
}

TEST_F(Files, RegistryHoldsTheFoldersUsed) {
  CreateDirectoryA(Scratch("saves").c_str(), nullptr);
  Load(DataFile("sample.ulg"));
  // Load was typed as a full path: the folder kept is the one listed.
  EXPECT_SAME_FOLDER(dir_, StoredFolder("LogLoadDir"));

  // Save into a sub-folder: enter it by name, then save there.
  HWND chooser = OpenChooser(IDM_SAVE);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "saves");
  ASSERT_TRUE(WaitUntil([&] {
    return ControlText(GetDlgItem(chooser, IDC_CHOOSER_NAME)).empty() &&
           Lower(ControlText(GetDlgItem(chooser, IDC_CHOOSER_PATH))).find("saves") !=
               std::string::npos;
  }));
  EnterName(chooser, "kept");
  ASSERT_TRUE(WaitForFile(Scratch("saves\\kept.ulg"), 65536));
  ASSERT_TRUE(Gone(chooser));
  ASSERT_TRUE(Responsive(main_));
  EXPECT_SAME_FOLDER(Scratch("saves"), StoredFolder("LogSaveDir"));
  EXPECT_EQ("<none>", StoredFolder("ExportDir"));

  // The next Save starts in the remembered folder.
  chooser = OpenChooser(IDM_SAVE);
  ASSERT_NE(nullptr, chooser);
  EXPECT_NE(std::string::npos,
            Lower(ControlText(GetDlgItem(chooser, IDC_CHOOSER_PATH))).find("saves"));
  PressButton(chooser, IDCANCEL);
}

TEST_F(Files, CancelAfterNavigatingStoresTheLastListedFolder) {
  CreateDirectoryA(Scratch("deeper").c_str(), nullptr);
  StoreFolder("LogLoadDir", dir_);
  HWND chooser = OpenChooser(IDM_LOAD);
  ASSERT_NE(nullptr, chooser);

  // Double-click the folder, as a person would.
  HWND list = GetDlgItem(chooser, IDC_CHOOSER_LIST);
  std::vector<std::string> rows = ListRows(list);
  auto it = std::find(rows.begin(), rows.end(), "[deeper]");
  ASSERT_NE(rows.end(), it);
  SendMessageA(list, LB_SETCURSEL, it - rows.begin(), 0);
  SendMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDC_CHOOSER_LIST, LBN_DBLCLK),
               reinterpret_cast<LPARAM>(list));
  ASSERT_NE(std::string::npos,
            Lower(ControlText(GetDlgItem(chooser, IDC_CHOOSER_PATH))).find("deeper"));

  ASSERT_TRUE(PressButton(chooser, IDCANCEL));
  ASSERT_TRUE(Gone(chooser));
  ASSERT_TRUE(Responsive(main_));
  EXPECT_SAME_FOLDER(Scratch("deeper"), StoredFolder("LogLoadDir"));
}

// The picture's top row is the sky's darkest blue from edge to edge; it
// starts 58 pixels below the client top, centred across the client area.
void ExpectPictureAtItsPlace(HWND about) {
  const COLORREF kSkyTop = RGB(0x2b, 0x5f, 0xa8);
  RECT client;
  GetClientRect(about, &client);
  const int middle = client.right / 2;
  EXPECT_TRUE(WaitUntil([&] { return ClientPixel(about, middle, 58) == kSkyTop; }, 3000));
  EXPECT_NE(kSkyTop, ClientPixel(about, middle, 57));
}

TEST_F(Files, AboutShowsTitleAndVersionAndClosesWithOkOrEsc) {
  for (Ending ending : {Ending::kOkButton, Ending::kEscape, Ending::kCloseBox}) {
    PostCommand(main_, IDM_ABOUT);
    HWND about = program_.WaitWindow("#32770", kAboutCaption);
    ASSERT_NE(nullptr, about);
    EXPECT_EQ("SQ-71 Satellite Meter V1.09", ControlText(GetDlgItem(about, IDC_ABOUT_VERSION)));
    EXPECT_EQ("", ControlText(GetDlgItem(about, IDC_ABOUT_EXTRA)));
    EXPECT_FALSE(IsWindowEnabled(main_));
    ExpectPictureAtItsPlace(about);
    // Painted again, at the same place, after the box was covered.
    RedrawWindow(about, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    ExpectPictureAtItsPlace(about);
    EndDialogAs(about, ending);
    ASSERT_TRUE(Gone(about));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(main_) != FALSE; }));
  }
}

// --- A load while a download runs -------------------------------------------

class LoadDuringDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettings();
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    dir_ = std::string(temp) + "sq71-load-during-read-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override {
    if (program_.Running()) {
      PostCommand(main_, IDM_EXIT);
      program_.WaitExit();
    }
    for (const char* name : {"scenario.txt", "other.ulg", "after.ulg"}) {
      DeleteFileA((dir_ + "\\" + name).c_str());
    }
    RemoveDirectoryA(dir_.c_str());
    DeleteSettings();
  }

  std::string dir_;
  Program program_;
  HWND main_ = nullptr;
};

TEST_F(LoadDuringDownload, EndsTheDownloadSoTheLoadedLogStaysAsLoaded) {
  // The meter answers records 3 to 35 half a second late, so the download of
  // its 36 entries is still running while the chooser is used.
  std::string scenario = "timing = instant\n\n[device]\nname = SQ-71 Meter\nlog = sample\n";
  for (int record = 3; record <= 35; ++record) {
    scenario += "fault = record " + std::to_string(record) + " delay 500\n";
  }
  WriteFile(dir_ + "\\scenario.txt", scenario);
  // A log the meter does not hold: the sample with every entry renamed.
  std::string other = ReadFile(DataFile("sample.ulg"));
  ASSERT_EQ(other.size(), 65536u);
  for (int record = 0; record < 36; ++record) other[record * 64 + 5] = 'Z';
  WriteFile(dir_ + "\\other.ulg", other);

  LaunchOptions options;
  options.scenario = dir_ + "\\scenario.txt";
  options.working_dir = dir_;
  ASSERT_TRUE(program_.Launch(options)) << program_.error();
  main_ = program_.WaitMainWindow();
  ASSERT_NE(nullptr, main_);
  ASSERT_TRUE(Responsive(main_));

  // While reading, the bar's black frame is drawn; when idle the area is white.
  auto reading = [&] { return ClientPixel(main_, 10, 25) == RGB(0, 0, 0); };
  PostCommand(main_, IDM_READ);
  ASSERT_TRUE(WaitUntil(reading));

  PostCommand(main_, IDM_LOAD);
  HWND chooser = program_.WaitWindow("#32770", kChooserCaption);
  ASSERT_NE(nullptr, chooser);
  HWND edit = GetDlgItem(chooser, IDC_CHOOSER_NAME);
  const std::string path = dir_ + "\\other.ulg";
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PressKey(edit, VK_RETURN);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(chooser); }));
  ASSERT_TRUE(WaitUntil([&] { return !reading(); }));

  // Time for several more ticks, had the download gone on.
  Sleep(1500);
  EXPECT_EQ(nullptr, program_.FindBox()) << "no Transfer Complete after the load";
  PostCommand(main_, IDM_SAVE);
  chooser = program_.WaitWindow("#32770", kChooserCaption);
  ASSERT_NE(nullptr, chooser);
  edit = GetDlgItem(chooser, IDC_CHOOSER_NAME);
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("after"));
  PressKey(edit, VK_RETURN);
  ASSERT_TRUE(WaitForFile(dir_ + "\\after.ulg", 65536));
  EXPECT_TRUE(ReadFile(dir_ + "\\after.ulg") == other);
}

// --- Names outside the ANSI code page, long paths, the command line --------

// Long paths are handed to the file functions in their "\\?\" form.
std::wstring Literal(const std::wstring& path) { return L"\\\\?\\" + path; }

std::string ReadWide(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(Literal(path)), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void EnterWideName(HWND chooser, const std::wstring& name) {
  HWND edit = GetDlgItem(chooser, IDC_CHOOSER_NAME);
  SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  PressKey(edit, VK_RETURN);
}

std::wstring WideControlText(HWND control) {
  wchar_t text[2048] = {};
  SendMessageW(control, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
  return text;
}

// A folder in Cyrillic, one in CJK characters, and one whose files' paths run
// past 260 characters: each gets the sample log under a name of its own
// script, picked from the chooser's listing (or typed, for the long path),
// saved and exported again under such names.
TEST_F(Files, NamesInAnyScriptAndLongPathsLoadSaveAndExport) {
  const std::wstring scratch = Wide(dir_);
  std::wstring long_folder = scratch;
  for (int i = 0; i < 4; ++i) {
    long_folder += L"\\длинная папка " + std::to_wstring(i) + std::wstring(60, L'x');
    CreateDirectoryW(Literal(long_folder).c_str(), nullptr);
  }
  ASSERT_GT(long_folder.size() + 12, 260u);
  const std::string sample = ReadFile(DataFile("sample.ulg"));
  const std::string csv = ReadFile(DataFile("sample.csv"));
  const struct {
    std::wstring folder, name;
  } cases[] = {{scratch + L"\\Мир", L"Мир"},
               {scratch + L"\\日本語のログ", L"日本語"},
               {long_folder, L"Мир日本"}};
  for (const auto& c : cases) {
    const bool listed = c.folder != long_folder;
    CreateDirectoryW(Literal(c.folder).c_str(), nullptr);
    const std::wstring log = c.folder + L"\\" + c.name + L".ulg";
    ASSERT_TRUE(CopyFileW(Wide(DataFile("sample.ulg")).c_str(), Literal(log).c_str(), FALSE));

    HWND chooser = OpenChooser(IDM_LOAD);
    ASSERT_NE(nullptr, chooser);
    if (listed) {
      // Into the folder, then the file picked from the list: its name goes
      // to the name box as it is.
      EnterWideName(chooser, c.folder);
      HWND list = GetDlgItem(chooser, IDC_CHOOSER_LIST);
      LRESULT row = LB_ERR;
      ASSERT_TRUE(WaitUntil([&] {
        return (row = SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                   reinterpret_cast<LPARAM>((c.name + L".ulg").c_str()))) != LB_ERR;
      }));
      SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
      SendMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDC_CHOOSER_LIST, LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
      HWND name_box = GetDlgItem(chooser, IDC_CHOOSER_NAME);
      EXPECT_EQ(c.name + L".ulg", WideControlText(name_box));
      PressKey(name_box, VK_RETURN);
    } else {
      EnterWideName(chooser, log);
    }
    ASSERT_TRUE(Gone(chooser));
    ASSERT_TRUE(Responsive(main_));
    ASSERT_EQ(nullptr, program_.FindBox()) << BoxText(program_.FindBox());

    chooser = OpenChooser(IDM_SAVE);
    ASSERT_NE(nullptr, chooser);
    EnterWideName(chooser, c.folder + L"\\копия " + c.name);
    ASSERT_TRUE(
        WaitUntil([&] { return ReadWide(c.folder + L"\\копия " + c.name + L".ulg") == sample; }));
    ASSERT_TRUE(Gone(chooser));

    PostCommand(main_, IDM_EXPORT);
    chooser = program_.WaitWindow("#32770", kChooserCaption);
    ASSERT_NE(nullptr, chooser);
    EnterWideName(chooser, c.folder + L"\\" + c.name);
    EXPECT_TRUE(WaitUntil([&] { return ReadWide(c.folder + L"\\" + c.name + L".csv") == csv; }));
    ASSERT_TRUE(Gone(chooser));
  }
}

// What Explorer starts for a double-clicked log: the path quoted, or not
// quoted though it holds a space, anywhere around a "+Q".
class OpenedFromExplorer : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(OpenedFromExplorer, LoadsTheLogAndViewListsIt) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      temp + std::wstring(L"sq71 мои логи ") + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring log = folder + L"\\Мир.ulg";
  ASSERT_TRUE(CopyFileW(Wide(DataFile("sample.ulg")).c_str(), log.c_str(), FALSE));

  Program opened;
  LaunchOptions options;
  options.wide_arguments = GetParam();
  const size_t at = options.wide_arguments.find(L"%1");
  options.wide_arguments.replace(at, 2, log);
  ASSERT_TRUE(opened.Launch(options)) << opened.error();
  HWND main = opened.WaitMainWindow();
  ASSERT_NE(nullptr, main);
  ASSERT_TRUE(Responsive(main));
  EXPECT_EQ(nullptr, opened.FindBox()) << BoxText(opened.FindBox());
  PostCommand(main, IDM_VIEW);
  HWND view = opened.WaitWindow("#32770", kViewCaption);
  ASSERT_NE(nullptr, view);
  EXPECT_EQ(36u, ListRows(GetDlgItem(view, IDC_ENTRY_LIST)).size());
  opened.Kill();
  DeleteFileW(log.c_str());
  RemoveDirectoryW(folder.c_str());
}

INSTANTIATE_TEST_SUITE_P(CommandLines, OpenedFromExplorer,
                         ::testing::Values(L"\"%1\"", L"%1", L"+Q \"%1\"", L"%1 +Q"));

// --- The keyboard after a box, and the view's clipboard --------------------

TEST_F(Files, BoxDismissedWithEnterLeavesTheKeyboardWithItsOwner) {
  // A name that is not there: a box over the chooser.
  HWND chooser = OpenChooser(IDM_LOAD);
  ASSERT_NE(nullptr, chooser);
  EnterName(chooser, "missing");
  HWND box = program_.WaitBox();
  ASSERT_NE(nullptr, box);
  EXPECT_EQ(chooser, GetWindow(box, GW_OWNER));
  PressKey(box, VK_RETURN);
  ASSERT_TRUE(Gone(box));
  ASSERT_TRUE(Responsive(chooser));
  // The next key goes to the name box, which had the keyboard before.
  PressKey(nullptr, 'Q');
  HWND name_box = GetDlgItem(chooser, IDC_CHOOSER_NAME);
  EXPECT_TRUE(
      WaitUntil([&] { return Lower(ControlText(name_box)).find('q') != std::string::npos; }, 5000))
      << ControlText(name_box);
  PressButton(chooser, IDCANCEL);
  ASSERT_TRUE(Gone(chooser));
}

TEST_F(Files, CtrlCInTheViewCopiesTheSelectedRows) {
  Load(DataFile("sample.ulg"));
  HWND view = OpenView();
  ASSERT_NE(nullptr, view);
  HWND list = GetDlgItem(view, IDC_ENTRY_LIST);
  const std::vector<std::wstring> rows = WideListRows(list);
  ASSERT_EQ(36u, rows.size());
  auto clipboard = [] {
    std::wstring text;
    HANDLE data = OpenClipboard(nullptr) ? GetClipboardData(CF_UNICODETEXT) : nullptr;
    if (data != nullptr) text = static_cast<const wchar_t*>(GlobalLock(data));
    if (data != nullptr) GlobalUnlock(data);
    CloseClipboard();
    return text;
  };

  SendMessageW(list, LB_SETSEL, TRUE, 1);
  SendMessageW(list, LB_SETSEL, TRUE, 4);
  PressKey(list, 'C', VK_CONTROL);
  const std::wstring two_rows = rows[1] + L"\r\n" + rows[4] + L"\r\n";
  EXPECT_TRUE(WaitUntil([&] { return clipboard() == two_rows; }, 5000)) << clipboard().size();

  PressKey(list, 'A', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return SendMessageW(list, LB_GETSELCOUNT, 0, 0) == 36; }, 5000));
  PressKey(list, 'C', VK_CONTROL);
  std::wstring all;
  for (const std::wstring& row : rows) all += row + L"\r\n";
  EXPECT_TRUE(WaitUntil([&] { return clipboard() == all; }, 5000)) << clipboard().size();
  EndDialogAs(view, Ending::kCloseBox);
  ASSERT_TRUE(Gone(view));
}

// --- Long paths and the display scale ------------------------------------

// A folder whose path is exactly length characters, in levels named with letter.
std::wstring FolderOfLength(std::wstring folder, std::size_t length, wchar_t letter) {
  while (folder.size() < length) {
    const std::size_t left = length - folder.size() - 1;
    folder += L"\\" + std::wstring(left > 200 ? 150 : left, letter);
    CreateDirectoryW(Literal(folder).c_str(), nullptr);
  }
  return folder;
}

// A log named in 300 UTF-8 bytes keeps its whole name in its report. The
// browser gets a report at a path of 252 characters; past the shell's limit,
// or with no browser there, a box says where the report is.
TEST_F(Files, ReportOpensFromALongPathOrABoxSaysWhereItIs) {
  const std::wstring log = Wide(dir_) + L"\\" + std::wstring(100, L'\x65E5') + L".ulg";
  ASSERT_TRUE(CopyFileW(Wide(DataFile("sample.ulg")).c_str(), log.c_str(), FALSE));
  HWND chooser;
  ASSERT_NE(nullptr, chooser = OpenChooser(IDM_LOAD));
  EnterWideName(chooser, log);
  ASSERT_TRUE(Gone(chooser));
  std::string name;
  for (int i = 0; i < 100; ++i) name += "\xE6\x97\xA5";
  for (const auto& [length, browser] :
       {std::pair<std::size_t, const char*>{252, "open_recorder.exe"},
        {300, "open_recorder.exe"},
        {120, "no_browser.exe"}}) {
    const std::string record = Scratch("opened.txt");
    DeleteFileA(record.c_str());
    HtmlAssociation association(record, browser);
    const std::wstring report = FolderOfLength(Wide(dir_), length - 7, L'a') + L"\\r.html";
    ASSERT_NE(nullptr, chooser = OpenChooser(IDM_EXPORT_REPORT));
    EnterWideName(chooser, report);
    const std::string narrow(report.begin(), report.end());
    if (length == 252) {
      ASSERT_TRUE(WaitUntil([&] { return !ReadFile(record).empty(); }));
      EXPECT_EQ(Lower(narrow), Lower(ReadFile(record)));
    } else {
      HWND box;
      ASSERT_NE(nullptr, box = program_.WaitBox()) << length;
      std::string shown = BoxText(box);  // the path broken into lines
      shown.erase(std::remove(shown.begin(), shown.end(), '\n'), shown.end());
      EXPECT_NE(std::string::npos, shown.find(narrow + "but it could not be opened")) << shown;
      ASSERT_TRUE(PressButton(box, IDOK));
    }
    ASSERT_TRUE(Gone(chooser));
    EXPECT_NE(std::string::npos, ReadWide(report).find("Log file " + name + ".ulg")) << length;
  }
}

// A folder of 436 characters (1,303 UTF-8 bytes), listed and left, is where
// the chooser starts after a restart.
TEST_F(Files, LongFolderOutsideTheCodePageIsRememberedAcrossARestart) {
  const std::wstring folder = FolderOfLength(Wide(dir_), 436, L'\x8A18');
  ASSERT_TRUE(
      CopyFileW(Wide(DataFile("sample.ulg")).c_str(), Literal(folder + L"\\x.ulg").c_str(), FALSE));
  for (bool restarted : {false, true}) {
    if (restarted) {
      PostCommand(main_, IDM_EXIT);
      ASSERT_EQ(0, program_.WaitExit());
      LaunchOptions options;
      options.working_dir = dir_;
      ASSERT_TRUE(program_.Launch(options)) << program_.error();
      ASSERT_NE(nullptr, main_ = program_.WaitMainWindow());
    }
    HWND chooser;
    ASSERT_NE(nullptr, chooser = OpenChooser(IDM_LOAD));
    if (!restarted) EnterWideName(chooser, folder);
    EXPECT_TRUE(WaitUntil([&] {
      return SendDlgItemMessageW(chooser, IDC_CHOOSER_LIST, LB_FINDSTRINGEXACT, WPARAM(-1),
                                 LPARAM(L"x.ulg")) != LB_ERR;
    })) << restarted;
    ASSERT_TRUE(PressButton(chooser, IDCANCEL));
    ASSERT_TRUE(Gone(chooser));
  }
}

// Moved to a monitor of 144 DPI, the view lays its list and Close out half as
// large again, and cannot be made smaller than its template at that scale.
TEST_F(Files, ViewMovedToAnotherScaleLaysItselfOutAgain) {
  Load(DataFile("sample.ulg"));
  HWND view = OpenView();
  ASSERT_NE(nullptr, view);
  const auto layout = [&] {
    POINT origin = {0, 0};
    ClientToScreen(view, &origin);
    RECT list, close, window;
    GetWindowRect(GetDlgItem(view, IDC_ENTRY_LIST), &list);
    GetWindowRect(GetDlgItem(view, IDOK), &close);
    GetWindowRect(view, &window);
    return std::array<LONG, 5>{list.left - origin.x, list.top - origin.y, close.right - close.left,
                               close.bottom - close.top, window.bottom - window.top};
  };
  const auto before = layout();
  RECT window;
  GetWindowRect(view, &window);
  // Half as high again; as wide, for the template is wider than this screen.
  ProbeBlock block{};
  block.dpi_change = 144;
  const LONG suggested[4] = {window.left, window.top, window.right, window.bottom + before[4] / 2};
  std::copy(std::begin(suggested), std::end(suggested), block.suggested);
  ASSERT_TRUE(program_.Probe(view, &block));
  SetWindowPos(view, nullptr, 0, 0, window.right - window.left, window.bottom - window.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  const auto after = layout();
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_NEAR(1.5, static_cast<double>(after[i]) / before[i], 0.2) << i;
  }
  EndDialogAs(view, Ending::kCloseBox);
  ASSERT_TRUE(Gone(view));
}

// At each scale the About box's picture lies inside the client area: the
// area's edges keep the dialog's colour, once whatever else paints settles.
TEST(About, PictureLiesInsideTheBoxAtEachScale) {
  for (DWORD dpi : {96, 120, 144, 192}) {
    SetLogPixels(dpi);
    Program program;
    // The program reads the scale as it starts up: put back once it is up.
    HWND main = program.Launch() ? program.WaitMainWindow() : nullptr;
    SetLogPixels(96);
    ASSERT_NE(nullptr, main) << program.error();
    PostCommand(main, IDM_ABOUT);
    HWND about = program.WaitWindow("#32770", kAboutCaption);
    ASSERT_NE(nullptr, about);
    RECT client;
    GetClientRect(about, &client);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const auto outside = [&] {
      int count = 0;
      for (int y = 0; y < client.bottom; ++y) {
        count +=
            (ClientPixel(about, 0, y) != face) + (ClientPixel(about, client.right - 1, y) != face);
      }
      for (int x = 0; x < client.right; ++x)
        count += ClientPixel(about, x, client.bottom - 1) != face;
      return count;
    };
    WaitUntil([&] { return outside() == 0; }, 5000);
    EXPECT_EQ(0, outside()) << dpi << " DPI, client " << client.right << " x " << client.bottom;
  }
}

}  // namespace
}  // namespace sq71::e2e
