// End to end: the commands that talk to the meter (Read, Erase Log, Version)
// against simulated meters described by scenario files that each test writes,
// with the driver trace telling what went over the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/message_catalogue.h"
#include "log/log_image.h"
#include "resources/resource_ids.h"
#include "tests/e2e/harness_win32.h"

namespace sq71::e2e {
namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// A folder of its own for a scenario file and the trace it names; removed
// afterwards.
class ScenarioFolder {
 public:
  ScenarioFolder() {
    static int counter = 0;
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    dir_ = std::string(temp) + "sq71meter-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  ~ScenarioFolder() {
    for (const std::string& file : files_) DeleteFileA(file.c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  ScenarioFolder(const ScenarioFolder&) = delete;
  ScenarioFolder& operator=(const ScenarioFolder&) = delete;

  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

  // Writes scenario.txt: the global lines (a trace file always), then the
  // device sections as given. Returns its path, for SQ71_SIM.
  std::string WriteScenario(const std::string& devices, const std::string& timing = "instant") {
    WriteFile("scenario.txt", "timing = " + timing + "\ntrace = trace.txt\n\n" + devices);
    Track(Path("trace.txt"));
    return Path("scenario.txt");
  }
  void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream out(Path(name), std::ios::binary);
    out << bytes;
    Track(Path(name));
  }

  std::vector<std::string> Trace() const {
    std::ifstream in(Path("trace.txt"));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  std::vector<std::string> TraceStarting(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& line : Trace()) {
      if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
    }
    return found;
  }

 private:
  void Track(const std::string& file) {
    if (std::find(files_.begin(), files_.end(), file) == files_.end()) files_.push_back(file);
  }

  std::string dir_;
  std::vector<std::string> files_;
};

// A meter log of `entries` real records and, if there is room, the end
// marker: enough for the program, which only looks at the status byte here.
std::string LogFile(int entries) {
  std::string bytes(kLogImageSize, '\0');
  for (int n = 0; n < entries && n < kRecordCount; ++n) {
    for (std::size_t i = 0; i < kRecordSize; ++i) {
      bytes[n * kRecordSize + i] = static_cast<char>(n + i);
    }
    bytes[n * kRecordSize] = static_cast<char>(n % 4);
  }
  if (entries < kRecordCount) {
    std::fill_n(bytes.begin() + entries * kRecordSize, kRecordSize, '\xFF');
  }
  return bytes;
}

class MeterCommands : public ::testing::Test {
 protected:
  void Start(const std::string& scenario) {
    LaunchOptions options;
    options.scenario = scenario;
    ASSERT_TRUE(program_.Launch(options)) << program_.error();
    main_ = program_.WaitMainWindow();
    ASSERT_NE(nullptr, main_);
    ASSERT_TRUE(Responsive(main_));
  }

  // The box that a command brings up, with its text and icon checked.
  HWND ExpectBox(int message, BoxIcon icon) {
    HWND box = nullptr;
    const bool found = WaitUntil([&] {
      box = program_.FindBox();
      return box != nullptr && !BoxText(box).empty();
    });
    EXPECT_TRUE(found) << "no box for message " << message;
    if (!found) return nullptr;
    EXPECT_EQ(kCaption, WindowText(box));
    EXPECT_EQ(MessageText(message), BoxText(box));
    BoxIcon seen = BoxIcon::kNone;
    WaitUntil([&] { return (seen = IdentifyBoxIcon(box)) == icon; }, 3000);
    EXPECT_EQ(icon, seen) << "the box shows the " << BoxIconName(seen) << " icon";
    return box;
  }

  // Presses OK and waits until the main window takes commands again.
  void Dismiss(HWND box) {
    ASSERT_NE(nullptr, box);
    ASSERT_TRUE(PressButton(box, IDOK));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(main_) != 0; }));
    ASSERT_TRUE(Responsive(main_));
  }

  // The View item's state, read inside the program.
  bool ViewGreyed() {
    ProbeBlock block{};
    EXPECT_TRUE(program_.Probe(main_, &block));
    for (int i = 0; i < block.item_count; ++i) {
      if (block.items[i].id == IDM_VIEW) return (block.items[i].state & MFS_GRAYED) != 0;
    }
    ADD_FAILURE() << "no View item";
    return false;
  }

  void ExitNormally() {
    PostCommand(main_, IDM_EXIT);
    EXPECT_EQ(0, program_.WaitExit());
  }

  ScenarioFolder folder_;
  Program program_;
  HWND main_ = nullptr;
};

// --- Read ----------------------------------------------------------------------

TEST_F(MeterCommands, ReadOfTheSampleLogCompletesWithAFullBarAndEnablesView) {
  Start(folder_.WriteScenario("[device]\nlog = sample\n"));
  EXPECT_TRUE(ViewGreyed());

  PostCommand(main_, IDM_READ);
  HWND box = ExpectBox(kMsgTransferComplete, BoxIcon::kInformation);
  // While the box is up the bar is drawn full: black from end to end inside
  // its frame.
  for (int x : {11, 112, 213}) {
    EXPECT_TRUE(WaitUntil([&] { return ClientPixel(main_, x, 25) == kBlack; }, 3000)) << "x " << x;
  }
  Dismiss(box);

  // Afterwards the bar is blank again and View is available.
  EXPECT_TRUE(WaitUntil([&] { return ClientPixel(main_, 112, 25) == kWhite; }));
  EXPECT_FALSE(ViewGreyed());
  // 36 entries and the end marker: 37 requests, records 0 to 36.
  const std::vector<std::string> writes = folder_.TraceStarting("WRITE");
  ASSERT_EQ(37u, writes.size());
  EXPECT_EQ("WRITE 02 00 04 4C 52 00 00 E6", writes.front());
  EXPECT_EQ("WRITE 02 00 04 4C 52 00 24 C2", writes.back());  // 1A ^ 24 = 3E; 100 - 3E = C2
  EXPECT_EQ(nullptr, program_.FindBox());
  ExitNormally();
}

struct ReadFailure {
  const char* name;
  const char* device;  // the scenario's device section
  int message;
};

class ReadFailures : public MeterCommands, public ::testing::WithParamInterface<ReadFailure> {};

TEST_P(ReadFailures, ShowTheirErrorAndLeaveViewGrey) {
  const ReadFailure& failure = GetParam();
  Start(folder_.WriteScenario(failure.device));
  PostCommand(main_, IDM_READ);
  Dismiss(ExpectBox(failure.message, BoxIcon::kHand));
  EXPECT_TRUE(ViewGreyed());
  EXPECT_EQ(kWhite, ClientPixel(main_, 112, 25));
  // Nothing more follows: no completion box, no retry.
  ASSERT_TRUE(Responsive(main_));
  EXPECT_EQ(nullptr, program_.FindBox());
  EXPECT_LE(folder_.TraceStarting("WRITE").size(), 1u);
  ExitNormally();
}

INSTANTIATE_TEST_SUITE_P(
    Meters, ReadFailures,
    ::testing::Values(
        ReadFailure{"SilentMeter", "[device]\nfault = record 0 no_reply\n", kMsgHandshake},
        ReadFailure{"BadChecksum", "[device]\nfault = record 0 bad_checksum\n", kMsgChecksumError},
        ReadFailure{"OtherDescription", "[device]\ndescription = SQ-71 Meter v2\n",
                    kMsgDeviceRecycling},
        ReadFailure{"NoMeter", "", kMsgUsbPortError}),
    [](const ::testing::TestParamInfo<ReadFailure>& info) { return info.param.name; });

TEST_F(MeterCommands, ErrorPartWayKeepsTheRecordsThatArrivedViewable) {
  Start(folder_.WriteScenario("[device]\nlog = sample\nfault = record 5 bad_checksum\n"));
  PostCommand(main_, IDM_READ);
  Dismiss(ExpectBox(kMsgChecksumError, BoxIcon::kHand));
  EXPECT_FALSE(ViewGreyed()) << "records 0 to 4 arrived";
  EXPECT_EQ(6u, folder_.TraceStarting("WRITE").size());
  ExitNormally();
}

// --- Erase Log -----------------------------------------------------------------

TEST_F(MeterCommands, EraseLogAnsweredYesSendsExactlyTheEraseFrame) {
  Start(folder_.WriteScenario("[device]\nlog = sample\n"));
  PostCommand(main_, IDM_ERASE_LOG);
  HWND question = ExpectBox(kMsgConfirmErase, BoxIcon::kQuestion);
  ASSERT_NE(nullptr, question);
  ASSERT_TRUE(PressButton(question, IDYES));
  Dismiss(ExpectBox(kMsgLogErased, BoxIcon::kInformation));

  EXPECT_EQ(std::vector<std::string>{"WRITE 02 00 02 4C 45 F5"}, folder_.TraceStarting("WRITE"));
  EXPECT_EQ(1u, folder_.TraceStarting("READ 1 06").size()) << "the meter's one ACK byte";

  // The meter's log is empty now: a Read gets the end marker at once.
  PostCommand(main_, IDM_READ);
  Dismiss(ExpectBox(kMsgTransferComplete, BoxIcon::kInformation));
  EXPECT_TRUE(ViewGreyed());
  EXPECT_EQ(1u, folder_.TraceStarting("WRITE 02 00 04 4C 52").size());
  ExitNormally();
}

TEST_F(MeterCommands, EraseLogAnsweredNoSendsNothing) {
  Start(folder_.WriteScenario("[device]\nlog = sample\n"));
  PostCommand(main_, IDM_ERASE_LOG);
  HWND question = ExpectBox(kMsgConfirmErase, BoxIcon::kQuestion);
  ASSERT_NE(nullptr, question);
  ASSERT_TRUE(PressButton(question, IDNO));
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(main_) != 0; }));
  ASSERT_TRUE(Responsive(main_));
  EXPECT_EQ(nullptr, program_.FindBox());
  EXPECT_TRUE(folder_.TraceStarting("WRITE").empty());
  EXPECT_TRUE(folder_.TraceStarting("FT_Open").empty()) << "no device was even opened";
  ExitNormally();
}

TEST_F(MeterCommands, EraseLogWithoutAnAckIsNoHandshake) {
  Start(folder_.WriteScenario("[device]\nfault = erase nak\n"));
  PostCommand(main_, IDM_ERASE_LOG);
  HWND question = ExpectBox(kMsgConfirmErase, BoxIcon::kQuestion);
  ASSERT_NE(nullptr, question);
  ASSERT_TRUE(PressButton(question, IDYES));
  Dismiss(ExpectBox(kMsgHandshake, BoxIcon::kHand));
  ExitNormally();
}

// --- Version -------------------------------------------------------------------

TEST_F(MeterCommands, VersionListsTwoMetersSortedWithTheirCount) {
  // Device 0 answers with the name that sorts last.
  Start(folder_.WriteScenario("[device]\nname = SQ-71 Zulu\n\n[device]\nname = SQ-71 Alpha\n"));
  PostCommand(main_, IDM_VERSION);
  HWND dialog = program_.WaitWindow(kDialogClass, "USB Devices");
  ASSERT_NE(nullptr, dialog) << "no dialog titled with message 9";

  HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
  ASSERT_NE(nullptr, list);
  EXPECT_EQ((std::vector<std::string>{"SQ-71 Alpha", "SQ-71 Zulu"}), ListRows(list));
  char count[32] = {};
  SendMessageA(GetDlgItem(dialog, IDC_DEVICE_COUNT), WM_GETTEXT, sizeof count,
               reinterpret_cast<LPARAM>(count));
  EXPECT_STREQ("2", count);
  EXPECT_EQ(2u, folder_.TraceStarting("WRITE 02 00 01 49 B8").size());

  // The dialog is modal over the main window.
  EXPECT_FALSE(IsWindowEnabled(main_));
  ASSERT_TRUE(PressButton(dialog, IDOK));
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(main_) != 0; }));
  ExitNormally();
}

TEST_F(MeterCommands, VersionWithNoMeterAnsweringShowsAnEmptyListAndZero) {
  Start(folder_.WriteScenario("[device]\nfault = identify no_reply\n\n[device]\ncbus4 = 1\n"));
  PostCommand(main_, IDM_VERSION);
  HWND dialog = program_.WaitWindow(kDialogClass, "USB Devices");
  ASSERT_NE(nullptr, dialog);
  EXPECT_TRUE(ListRows(GetDlgItem(dialog, IDC_DEVICE_LIST)).empty());
  char count[32] = {};
  SendMessageA(GetDlgItem(dialog, IDC_DEVICE_COUNT), WM_GETTEXT, sizeof count,
               reinterpret_cast<LPARAM>(count));
  EXPECT_STREQ("0", count);
  // Escape (IDCANCEL) closes it too.
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(main_) != 0; }));
  ExitNormally();
}

// --- Wire timing -----------------------------------------------------------------

TEST_F(MeterCommands, LongDownloadOnTheWireGrowsTheBarAndKeepsTheWindowResponsive) {
  folder_.WriteFile("long.ulg", LogFile(300));
  Start(folder_.WriteScenario("[device]\nlog = long.ulg\n", "wire"));
  PostCommand(main_, IDM_READ);
  // Part way: the left of the bar filled, the right end still white, and the
  // program answering between ticks.
  ASSERT_TRUE(WaitUntil([&] { return ClientPixel(main_, 30, 25) == kBlack; }, 30000));
  EXPECT_EQ(kWhite, ClientPixel(main_, 205, 25));
  EXPECT_TRUE(Responsive(main_, 2000));
  EXPECT_EQ(nullptr, program_.FindBox());

  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        box = program_.FindBox();
        return box != nullptr && BoxText(box) == MessageText(kMsgTransferComplete);
      },
      60000));
  Dismiss(box);
  EXPECT_EQ(301u, folder_.TraceStarting("WRITE").size());
  ExitNormally();
}

}  // namespace
}  // namespace sq71::e2e
