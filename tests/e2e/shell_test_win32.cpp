// End to end: start-up, the main window, its menu and resources, the
// commands that the shell answers itself, and shut-down.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/e2e/harness_win32.h"
#include "ui/message_catalogue.h"

namespace sq71::e2e {
namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);

// Posted commands run when the program next takes a message; answering two
// sent messages means it has been through its queue since. A command that
// opens a box is then waited for by the box itself.
void LetItRun(HWND main) {
  ASSERT_TRUE(Responsive(main));
  ASSERT_TRUE(Responsive(main));
}

void ExpectMessageBox(HWND box, int message, BoxIcon icon, std::vector<int> buttons) {
  ASSERT_NE(nullptr, box);
  EXPECT_EQ(kCaption, WindowText(box));
  EXPECT_EQ(MessageText(message), BoxText(box));
  std::vector<int> shown = VisibleButtons(box);
  std::sort(shown.begin(), shown.end());
  std::sort(buttons.begin(), buttons.end());
  EXPECT_EQ(buttons, shown);
  BoxIcon seen = BoxIcon::kNone;
  WaitUntil([&] { return (seen = IdentifyBoxIcon(box)) == icon; }, 3000);
  EXPECT_EQ(icon, seen) << "box shows the " << BoxIconName(seen) << " icon, wanted "
                        << BoxIconName(icon);
}

// --- Start-up without the driver library -----------------------------------

class WithoutDriver : public ::testing::TestWithParam<const char*> {};

TEST_P(WithoutDriver, ShowsMessage8AsInformationThenEndsWithZero) {
  Program program;
  LaunchOptions options;
  options.with_driver = false;
  options.arguments = GetParam();
  ASSERT_TRUE(program.Launch(options)) << program.error();

  HWND box = program.WaitBox();
  ASSERT_NE(nullptr, box) << "no box titled with the caption";
  ExpectMessageBox(box, kMsgNoDriver, BoxIcon::kInformation, {IDOK});
  // Task-modal: the main window, already shown, is disabled meanwhile.
  HWND main = program.WaitMainWindow();
  ASSERT_NE(nullptr, main);
  EXPECT_FALSE(IsWindowEnabled(main));

  ASSERT_TRUE(PressButton(box, IDOK));
  EXPECT_EQ(0, program.WaitExit());
}

// Quiet mode silences only file boxes, never this one.
INSTANTIATE_TEST_SUITE_P(CommandLines, WithoutDriver, ::testing::Values("", "+Q"));

// --- Where the driver library comes from -------------------------------------

// A folder of its own holding a copy of source named Ftd2xx.dll.
std::string FolderWithLibrary(const std::string& source, const char* name) {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  const std::string dir = std::string(temp) + name + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  CopyFileA(source.c_str(), (dir + "\\Ftd2xx.dll").c_str(), FALSE);
  return dir;
}

TEST(DriverLibrary, IsNeverTakenFromTheCurrentFolder) {
  // A working driver in the current folder and none beside the program.
  const std::string current =
      FolderWithLibrary(BuildPaths().standin_dir + "\\Ftd2xx.dll", "sq71dll-copy-");
  Program program;
  LaunchOptions options;
  options.with_driver = false;
  options.working_dir = current;
  ASSERT_TRUE(program.Launch(options)) << program.error();
  HWND box = program.WaitBox();
  ExpectMessageBox(box, kMsgNoDriver, BoxIcon::kInformation, {IDOK});
  ASSERT_TRUE(PressButton(box, IDOK));
  EXPECT_EQ(0, program.WaitExit());
}

TEST(DriverLibrary, IsTakenFromBesideTheProgramWhateverTheCurrentFolderHolds) {
  // No library at all, only its name.
  const std::string current =
      FolderWithLibrary(BuildPaths().data_dir + "\\sample.csv", "sq71dll-bogus-");
  Program program;
  LaunchOptions options;
  options.working_dir = current;
  ASSERT_TRUE(program.Launch(options)) << program.error();
  HWND main = program.WaitMainWindow();
  ASSERT_NE(nullptr, main);
  ASSERT_TRUE(Responsive(main));
  // The library beside it was taken: the bogus one would be message 8.
  EXPECT_EQ(nullptr, program.FindBox());
  PostCommand(main, IDM_EXIT);
  EXPECT_EQ(0, program.WaitExit());
}

// --- The main window, its menu and resources -------------------------------

class MainWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    program_ = new Program;
    if (!program_->Launch()) return;
    main_ = program_->WaitMainWindow();
    if (main_ != nullptr && Responsive(main_)) {
      probe_ = new ProbeBlock{};
      probe_->accelerator_id = 211;
      probe_->strings[0].id = 167;
      for (int i = 0; i < kMessageCount; ++i) {
        probe_->strings[i + 1].id = CatalogueLookup(i).string_id;
      }
      probe_->string_count = kMessageCount + 1;
      probe_ok_ = program_->Probe(main_, probe_);
    }
  }
  static void TearDownTestSuite() {
    delete probe_;
    probe_ = nullptr;
    delete program_;
    program_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(nullptr, main_) << "no main window: " << program_->error(); }
  void NeedProbe() { ASSERT_TRUE(probe_ok_) << "the probe could not run in the program"; }

  static Program* program_;
  static HWND main_;
  static ProbeBlock* probe_;
  static bool probe_ok_;
};
Program* MainWindow::program_ = nullptr;
HWND MainWindow::main_ = nullptr;
ProbeBlock* MainWindow::probe_ = nullptr;
bool MainWindow::probe_ok_ = false;

TEST_F(MainWindow, AppearsWithTheCaptionAndNoBox) {
  EXPECT_EQ(kCaption, WindowText(main_));
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_EQ(nullptr, program_->FindBox());
}

TEST_F(MainWindow, IsAFixedSizeWindowWithOnlyAClosebox) {
  RECT rect;
  ASSERT_TRUE(GetWindowRect(main_, &rect));
  EXPECT_EQ(230, rect.right - rect.left);
  EXPECT_EQ(90, rect.bottom - rect.top);
  const LONG style = GetWindowLongA(main_, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_EQ(WS_CAPTION, style & WS_CAPTION) << "an overlapped window gets a title bar";
  EXPECT_EQ(0, style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CHILD | WS_POPUP));
  EXPECT_EQ(nullptr, GetParent(main_));
}

TEST_F(MainWindow, ProgressAreaIsWhiteAtStart) {
  // Corners of the bar, its middle, and the x where half a download would end.
  const POINT points[] = {{10, 15}, {214, 15}, {10, 34}, {214, 34}, {112, 25}, {111, 20}};
  for (const POINT& p : points) {
    EXPECT_EQ(kWhite, ClientPixel(main_, p.x, p.y)) << "at " << p.x << "," << p.y;
  }
}

TEST_F(MainWindow, MenuHoldsTheItemsInOrderWithViewGreyed) {
  NeedProbe();
  ASSERT_TRUE(probe_->menu_ok);
  struct Expected {
    int depth;
    const char* text;
    unsigned id;
    bool popup;
    bool separator;
    bool greyed;
  };
  const Expected expected[] = {
      {0, "&File", 0, true, false, false},
      {1, "&Load", 32780, false, false, false},
      {1, "&Save", 32784, false, false, false},
      {1, "Ex&port (.csv)", 32806, false, false, false},
      {1, "Export &Report (.html)", 32808, false, false, false},
      {1, "&Erase Log", 32782, false, false, false},
      {1, "", 0, false, true, false},
      {1, "E&xit", 32771, false, false, false},
      {0, "&Read", 32779, false, false, false},
      {0, "&View", 32807, false, false, true},
      {0, "&Help", 0, true, false, false},
      {1, "&About ...", 104, false, false, false},
      {1, "Version", 32801, false, false, false},
  };
  ASSERT_EQ(static_cast<int>(std::size(expected)), probe_->item_count);
  for (int i = 0; i < probe_->item_count; ++i) {
    const ProbeMenuItem& item = probe_->items[i];
    const Expected& want = expected[i];
    SCOPED_TRACE(std::string("item ") + std::to_string(i) + " \"" + want.text + "\"");
    EXPECT_EQ(want.depth, item.depth);
    EXPECT_EQ(want.popup, item.is_popup != 0);
    EXPECT_EQ(want.separator, (item.type & MFT_SEPARATOR) != 0);
    if (!want.separator) {
      EXPECT_STREQ(want.text, item.text);
    }
    if (!want.popup && !want.separator) {
      EXPECT_EQ(want.id, item.id);
    }
    if (want.separator) continue;  // the system greys separators itself
    if (want.greyed) {
      EXPECT_NE(0u, item.state & MFS_GRAYED);
    } else {
      EXPECT_EQ(0u, item.state & MFS_GRAYED);
    }
  }
}

TEST_F(MainWindow, QuestionMarkAndSlashAreCharacterAcceleratorsForAbout) {
  NeedProbe();
  ASSERT_EQ(2, probe_->accelerator_count);
  const unsigned keys[] = {'?', '/'};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(std::string("accelerator ") + static_cast<char>(keys[i]));
    EXPECT_EQ(keys[i], probe_->accelerators[i].key);
    EXPECT_EQ(104u, probe_->accelerators[i].command);
    // A character, not a virtual key; no modifier; no menu highlight.
    EXPECT_EQ(static_cast<unsigned>(FNOINVERT), probe_->accelerators[i].flags);
  }
}

TEST_F(MainWindow, StringTableHoldsTheCaptionAndEveryCatalogueText) {
  NeedProbe();
  EXPECT_STREQ(kCaption, probe_->strings[0].text);
  for (int i = 0; i < kMessageCount; ++i) {
    const ProbeString& s = probe_->strings[i + 1];
    SCOPED_TRACE("message " + std::to_string(i) + ", string " + std::to_string(s.id));
    if (i == kMsgMissing) {
      EXPECT_EQ(0, s.length) << "string 236 must not exist";
    } else {
      EXPECT_STREQ(MessageText(i), s.text);
      EXPECT_EQ(static_cast<int>(std::strlen(MessageText(i))), s.length);
    }
  }
}

TEST_F(MainWindow, ClassHasTheIconArrowWindowColourAndMenu) {
  NeedProbe();
  ASSERT_TRUE(probe_->class_ok);
  EXPECT_EQ(static_cast<unsigned>(CS_HREDRAW | CS_VREDRAW), probe_->class_style);
  EXPECT_EQ(0, probe_->class_extra);
  EXPECT_EQ(0, probe_->window_extra);
  EXPECT_TRUE(probe_->icon_is_135);
  EXPECT_TRUE(probe_->icon_108_absent);
  EXPECT_TRUE(probe_->cursor_is_arrow);
  EXPECT_EQ(static_cast<uint64_t>(COLOR_WINDOW + 1), probe_->background);
  EXPECT_EQ(211u, probe_->menu_name);
  EXPECT_TRUE(probe_->proc_in_program);
  ASSERT_EQ(8, probe_->icon_image_count);
  std::vector<int> sizes(probe_->icon_image_sizes, probe_->icon_image_sizes + 8);
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ((std::vector<int>{16, 20, 24, 32, 40, 48, 64, 256}), sizes);
}

// --- Commands --------------------------------------------------------------

class Commands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(program_.Launch()) << program_.error();
    main_ = program_.WaitMainWindow();
    ASSERT_NE(nullptr, main_);
    ASSERT_TRUE(Responsive(main_));
  }
  // Closes whatever box or dialog a command opened.
  void CloseBoxes() {
    for (int i = 0; i < 5; ++i) {
      HWND box = program_.FindBox();
      if (box == nullptr) return;
      PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
      WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); });
    }
  }
  void ExitNormally() {
    PostCommand(main_, 32771);
    EXPECT_EQ(0, program_.WaitExit());
  }

  Program program_;
  HWND main_ = nullptr;
};

TEST_F(Commands, EraseLogAnsweredNoCancelOrClosedGoesNoFurther) {
  // Each way of refusing: the No button, the Cancel button, the close box.
  for (int refusal = 0; refusal < 3; ++refusal) {
    SCOPED_TRACE("refusal " + std::to_string(refusal));
    PostCommand(main_, 32782);
    HWND box = program_.WaitBox();
    ExpectMessageBox(box, kMsgConfirmErase, BoxIcon::kQuestion, {IDYES, IDNO, IDCANCEL});
    EXPECT_FALSE(IsWindowEnabled(main_));
    if (refusal == 0) {
      ASSERT_TRUE(PressButton(box, IDNO));
    } else if (refusal == 1) {
      ASSERT_TRUE(PressButton(box, IDCANCEL));
    } else {
      PostMessageA(box, WM_CLOSE, 0, 0);
    }
    // Back at the main window with nothing more shown.
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(main_) != 0; }));
    LetItRun(main_);
    EXPECT_EQ(nullptr, program_.FindBox());
    EXPECT_TRUE(program_.Running());
  }
  ExitNormally();
}

TEST_F(Commands, QuestionMarkAndSlashOpenTheAboutBox) {
  for (char key : {'?', '/'}) {
    SCOPED_TRACE(std::string("key ") + key);
    // As typed: the character reaches the message loop, whose accelerator
    // table turns it into the About command.
    PostMessageA(main_, WM_CHAR, static_cast<WPARAM>(key), 1);
    HWND about = program_.WaitWindow(kDialogClass, MessageText(kMsgAboutTitle));
    ASSERT_NE(nullptr, about);
    EXPECT_FALSE(IsWindowEnabled(main_)) << "the About box is modal";
    ASSERT_TRUE(PressButton(about, IDOK));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(main_) != 0; }));
    EXPECT_TRUE(program_.Running());
  }
  ExitNormally();
}

TEST_F(Commands, EveryCommandAndUnknownIdsLeaveTheProgramRunning) {
  // Exit last; 0x1234 and 0xFFFF are not commands and go to the default
  // handling; the high word (notification code) must not matter.
  const int ids[] = {104, 32779, 32780, 32784, 32801, 32806, 32807, 32808, 0x1234, 0xFFFF};
  for (int id : ids) {
    SCOPED_TRACE("command " + std::to_string(id));
    PostMessageA(main_, WM_COMMAND, MAKEWPARAM(id, 1), 0);
    LetItRun(main_);
    CloseBoxes();
    ASSERT_TRUE(program_.Running());
  }
  ExitNormally();
}

// --- Shut-down --------------------------------------------------------------

class Shutdown : public ::testing::TestWithParam<int> {};

TEST_P(Shutdown, EndsWithExitCodeZero) {
  Program program;
  ASSERT_TRUE(program.Launch()) << program.error();
  HWND main = program.WaitMainWindow();
  ASSERT_NE(nullptr, main);
  switch (GetParam()) {
    case 0:  // File > Exit
      PostCommand(main, 32771);
      break;
    case 1:  // the close box
      PostMessageA(main, WM_CLOSE, 0, 0);
      break;
    case 2:  // the system menu's Close
      PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
  EXPECT_EQ(0, program.WaitExit());
}

std::string WayName(const ::testing::TestParamInfo<int>& info) {
  static const char* const kNames[] = {"ExitCommand", "CloseBox", "SystemMenuClose"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Ways, Shutdown, ::testing::Values(0, 1, 2), WayName);

}  // namespace
}  // namespace sq71::e2e
