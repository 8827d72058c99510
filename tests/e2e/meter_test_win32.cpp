// End to end: the commands that talk to the meter (Read, Erase Log, Version)
// against simulated meters described by scenario files that each test writes,
// with the driver trace telling what went over the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "log/log_image.h"
#include "resources/resource_ids.h"
#include "tests/e2e/harness_win32.h"
#include "ui/message_catalogue.h"

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
std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The first n lines of a file of the test data (the sample log's rows and CSV).
std::vector<std::string> FirstLines(const char* name, std::size_t n) {
  std::vector<std::string> lines = Lines(ReadAll(BuildPaths().data_dir + "\\" + name));
  if (lines.size() > n) lines.resize(n);
  return lines;
}

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

  // Answers the Erase Log question with Yes and expects the erase to go through.
  void EraseAnsweredYes() {
    PostCommand(main_, IDM_ERASE_LOG);
    HWND question = ExpectBox(kMsgConfirmErase, BoxIcon::kQuestion);
    ASSERT_NE(nullptr, question);
    ASSERT_TRUE(PressButton(question, IDYES));
    Dismiss(ExpectBox(kMsgLogErased, BoxIcon::kInformation));
  }

  // The rows the Log Entries view shows; the view is closed again.
  std::vector<std::string> ViewRows() {
    PostCommand(main_, IDM_VIEW);
    HWND view = program_.WaitWindow(kDialogClass, "Log Entries");
    EXPECT_NE(nullptr, view);
    if (view == nullptr) return {};
    std::vector<std::string> rows = ListRows(GetDlgItem(view, IDC_ENTRY_LIST));
    PostMessageA(view, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(view); }));
    return rows;
  }

  // Exports through the menu into the program's folder; the file's lines.
  std::vector<std::string> ExportLines(const std::string& name) {
    PostCommand(main_, IDM_EXPORT);
    HWND chooser = program_.WaitWindow(kDialogClass, MessageText(kMsgEnterFilename));
    EXPECT_NE(nullptr, chooser);
    if (chooser == nullptr) return {};
    SendMessageA(GetDlgItem(chooser, IDC_CHOOSER_NAME), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(name.c_str()));
    PressButton(chooser, IDOK);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(chooser); }));
    EXPECT_TRUE(Responsive(main_));
    return Lines(ReadAll(program_.scratch_dir() + "\\" + name + ".csv"));
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
  // Both directions purged before every request, whatever the queue holds.
  EXPECT_EQ(2u * 37u, folder_.TraceStarting("FT_Purge ").size());
  EXPECT_TRUE(folder_.TraceStarting("FT_GetQueueStatus").empty());
  EXPECT_EQ(nullptr, program_.FindBox());
  ExitNormally();
}

// --- Scale ---------------------------------------------------------------------

TEST_F(MeterCommands, At144DpiTheWindowAndBarScaleAndTheMenuStaysOnOneLine) {
  SetLogPixels(144);
  Start(folder_.WriteScenario("[device]\nlog = sample\n"));
  SetLogPixels(96);
  // 224 x 46 at 96 DPI, times 1.5.
  RECT client;
  ASSERT_TRUE(GetClientRect(main_, &client));
  EXPECT_EQ(336, client.right);
  EXPECT_EQ(69, client.bottom);
  ProbeBlock block{};
  ASSERT_TRUE(program_.Probe(main_, &block));
  EXPECT_EQ(1, block.menu_bar_lines);

  PostCommand(main_, IDM_READ);
  HWND box = program_.WaitBox();
  ASSERT_NE(nullptr, box);
  // The full bar from x 15 to 322 and y 22 to 52, where at 96 DPI it ends at
  // 215 and 35.
  for (POINT p : {POINT{16, 37}, POINT{168, 37}, POINT{300, 37}, POINT{320, 50}}) {
    EXPECT_TRUE(WaitUntil([&] { return ClientPixel(main_, p.x, p.y) == kBlack; }, 3000))
        << p.x << "," << p.y;
  }
  EXPECT_EQ(kWhite, ClientPixel(main_, 325, 37));
  Dismiss(box);
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

TEST_F(MeterCommands, ErrorPartWayKeepsExactlyTheRecordsThatArrived) {
  // A glitch that would pass if asked again: the program does not ask again.
  Start(folder_.WriteScenario("[device]\nlog = sample\nfault = record 5 bad_checksum once\n"));
  PostCommand(main_, IDM_READ);
  Dismiss(ExpectBox(kMsgChecksumError, BoxIcon::kHand));
  EXPECT_FALSE(ViewGreyed()) << "records 0 to 4 arrived";
  EXPECT_EQ(6u, folder_.TraceStarting("WRITE").size());

  // Records 0 to 4 and nothing made up from the records that never came.
  EXPECT_EQ(FirstLines("sample.view.txt", 5), ViewRows());
  EXPECT_EQ(FirstLines("sample.csv", 6), ExportLines("partial")) << "the header and 5 lines";
  ExitNormally();
}

TEST_F(MeterCommands, FailureOnTheFirstRecordLeavesNothingToExport) {
  Start(folder_.WriteScenario("[device]\nlog = sample\nfault = record 0 no_reply\n"));
  PostCommand(main_, IDM_READ);
  Dismiss(ExpectBox(kMsgHandshake, BoxIcon::kHand));
  PostCommand(main_, IDM_EXPORT);
  Dismiss(ExpectBox(kMsgNoLogData, BoxIcon::kHand));
  EXPECT_TRUE(ViewGreyed());
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

TEST_F(MeterCommands, EraseLogDuringADownloadStopsItAndKeepsTheRecordsFetched) {
  // Records from 3 on come half a second late, so the download is still
  // running when Erase Log is answered.
  std::string device = "[device]\nlog = sample\n";
  for (int record = 3; record <= 36; ++record) {
    device += "fault = record " + std::to_string(record) + " delay 500\n";
  }
  Start(folder_.WriteScenario(device));
  PostCommand(main_, IDM_READ);
  // Once record 3 is asked for, records 0 to 2 are in.
  ASSERT_TRUE(WaitUntil([&] { return folder_.TraceStarting("WRITE").size() >= 4; }));
  EraseAnsweredYes();

  // Every record asked for before the erase was stored; nothing was asked of
  // the erased meter afterwards.
  const std::vector<std::string> writes = folder_.TraceStarting("WRITE");
  const auto erase = std::find(writes.begin(), writes.end(), "WRITE 02 00 02 4C 45 F5");
  ASSERT_NE(writes.end(), erase);
  EXPECT_EQ(writes.end() - 1, erase) << "read requests after the erase";
  const std::size_t fetched = static_cast<std::size_t>(erase - writes.begin());
  ASSERT_GE(fetched, 3u);
  ASSERT_LT(fetched, 36u) << "the download had ended before the erase";

  EXPECT_TRUE(WaitUntil([&] { return ClientPixel(main_, 112, 25) == kWhite; })) << "bar blanked";
  EXPECT_EQ(nullptr, program_.FindBox()) << "no Transfer Complete";
  EXPECT_FALSE(ViewGreyed());
  EXPECT_EQ(FirstLines("sample.view.txt", fetched), ViewRows());
  EXPECT_EQ(FirstLines("sample.csv", fetched + 1), ExportLines("before-erase"));
  EXPECT_EQ(folder_.TraceStarting("WRITE").size(), writes.size()) << "the download stays stopped";
  ExitNormally();
}

// --- Version -------------------------------------------------------------------

TEST_F(MeterCommands, VersionAfterEraseLogListsTheMeter) {
  Start(folder_.WriteScenario("[device]\nname = SQ-71 Roof\n"));
  EraseAnsweredYes();
  PostCommand(main_, IDM_VERSION);
  HWND dialog = program_.WaitWindow(kDialogClass, "USB Devices");
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(std::vector<std::string>{"SQ-71 Roof"}, ListRows(GetDlgItem(dialog, IDC_DEVICE_LIST)));
  ASSERT_TRUE(PressButton(dialog, IDOK));
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(main_) != 0; }));
  ExitNormally();
}

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

// The template itself, read from the program file: a plain (not extended)
// dialog with exactly these controls, as the layout was drawn up.
class DialogTemplateReader {
 public:
  DialogTemplateReader(const uint8_t* start, std::size_t size)
      : start_(start), p_(start), end_(start + size) {}

  bool ok() const { return ok_; }
  uint16_t Word() {
    if (end_ - p_ < 2) return Fail();
    const uint16_t value = static_cast<uint16_t>(p_[0] | p_[1] << 8);
    p_ += 2;
    return value;
  }
  uint32_t Dword() {
    const uint32_t low = Word();
    return low | static_cast<uint32_t>(Word()) << 16;
  }
  int16_t Short() { return static_cast<int16_t>(Word()); }
  // A NUL-terminated UTF-16 string; the texts here are all ASCII.
  std::string Text() {
    std::string text;
    for (uint16_t c = Word(); ok_ && c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  // A name or a 0xFFFF-tagged ordinal: "#<ordinal>" for the latter.
  std::string NameOrOrdinal() {
    const uint16_t first = Word();
    std::string text;
    if (first == 0xFFFF) return text.append("#").append(std::to_string(Word()));
    for (uint16_t c = first; ok_ && c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  void AlignDword() {
    while (ok_ && (p_ - start_) % 4 != 0) Word();
  }

 private:
  uint16_t Fail() {
    ok_ = false;
    return 0;
  }

  const uint8_t* start_;
  const uint8_t* p_;
  const uint8_t* end_;
  bool ok_ = true;
};

struct TemplateItem {
  uint32_t style;
  int x, y, cx, cy;
  uint16_t id;
  std::string window_class;  // upper case: "BUTTON", "STATIC", "LISTBOX"
  std::string text;
};

// A control's class as the template names it: the predefined classes may be
// written as ordinals or as names in any case.
std::string WindowClassName(std::string name) {
  if (name == "#128") return "BUTTON";
  if (name == "#130") return "STATIC";
  if (name == "#131") return "LISTBOX";
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

TEST(VersionDialog, TemplateIsThePlainDialogAsLaidOut) {
  HMODULE exe = LoadLibraryExA(BuildPaths().exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, exe) << BuildPaths().exe;
  HRSRC found = FindResourceA(exe, MAKEINTRESOURCEA(IDD_DEVICES), MAKEINTRESOURCEA(5));
  ASSERT_NE(nullptr, found) << "no dialog 158";
  const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(exe, found)));
  ASSERT_NE(nullptr, bytes);
  DialogTemplateReader in(bytes, SizeofResource(exe, found));

  const uint32_t style = in.Dword();
  // An extended template opens with version 1 and the 0xFFFF signature.
  ASSERT_NE(0xFFFF0001u, style) << "dialog 158 is an extended template";
  EXPECT_EQ(static_cast<uint32_t>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT), style);
  EXPECT_EQ(0u, in.Dword());  // extended style
  const int count = in.Word();
  in.Short();
  in.Short();
  EXPECT_EQ(239, in.Short());
  EXPECT_EQ(157, in.Short());
  EXPECT_EQ("", in.NameOrOrdinal());  // no menu
  EXPECT_EQ("", in.NameOrOrdinal());  // the standard dialog class
  EXPECT_EQ("USB Device List", in.Text());
  EXPECT_EQ(8, in.Word());
  EXPECT_EQ("MS Sans Serif", in.Text());

  std::vector<TemplateItem> items;
  for (int i = 0; i < count && in.ok(); ++i) {
    in.AlignDword();
    TemplateItem item{};
    item.style = in.Dword();
    in.Dword();  // extended style
    item.x = in.Short();
    item.y = in.Short();
    item.cx = in.Short();
    item.cy = in.Short();
    item.id = in.Word();
    item.window_class = WindowClassName(in.NameOrOrdinal());
    item.text = in.NameOrOrdinal();
    in.Word();  // no creation data
    items.push_back(item);
  }
  ASSERT_TRUE(in.ok()) << "template cut short";
  ASSERT_EQ(4u, items.size());

  constexpr uint32_t kShown = WS_CHILD | WS_VISIBLE;
  const TemplateItem expected[] = {
      {kShown | BS_DEFPUSHBUTTON | WS_TABSTOP, 167, 134, 50, 14, IDOK, "BUTTON", "OK"},
      {kShown | LBS_SORT | LBS_NOTIFY | WS_VSCROLL | WS_BORDER | LBS_NOINTEGRALHEIGHT | WS_TABSTOP,
       21, 17, 196, 110, IDC_DEVICE_LIST, "LISTBOX", ""},
      {kShown | SS_LEFT | SS_CENTERIMAGE, 23, 136, 64, 10, 0xFFFF, "STATIC", "Number of devices"},
      {kShown | SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN, 86, 136, 10, 10, IDC_DEVICE_COUNT, "STATIC",
       "0"},
  };
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE("control " + std::to_string(i) + " \"" + expected[i].text + "\"");
    EXPECT_EQ(expected[i].id, items[i].id);
    EXPECT_EQ(expected[i].window_class, items[i].window_class);
    EXPECT_EQ(expected[i].text, items[i].text);
    EXPECT_EQ(expected[i].style, items[i].style);
    EXPECT_EQ((std::vector<int>{expected[i].x, expected[i].y, expected[i].cx, expected[i].cy}),
              (std::vector<int>{items[i].x, items[i].y, items[i].cx, items[i].cy}));
  }
  FreeLibrary(exe);
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

// The rows the Log Entries view shows of the sample log, as checked in.
std::vector<std::string> SampleViewRows() {
  std::ifstream in(BuildPaths().data_dir + "\\sample.view.txt", std::ios::binary);
  std::vector<std::string> rows;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    rows.push_back(line);
  }
  return rows;
}

class WireDownload : public MeterCommands {
 protected:
  std::vector<std::string> ViewRows() {
    PostCommand(main_, IDM_VIEW);
    HWND view = program_.WaitWindow(kDialogClass, "Log Entries");
    if (view == nullptr) return {};
    std::vector<std::string> rows = ListRows(GetDlgItem(view, IDC_ENTRY_LIST));
    PressButton(view, IDOK);
    WaitUntil([&] { return IsWindowEnabled(main_) != 0; });
    return rows;
  }

  HWND WaitCompletion() {
    HWND box = nullptr;
    WaitUntil(
        [&] {
          box = program_.FindBox();
          return box != nullptr && BoxText(box) == MessageText(kMsgTransferComplete);
        },
        60000);
    return box;
  }
};

TEST_F(WireDownload, SampleLogArrivesWholeWithTheLatencyTimerSetAfterConfigure) {
  Start(folder_.WriteScenario("[device]\nlog = sample\n", "wire"));
  PostCommand(main_, IDM_READ);
  Dismiss(WaitCompletion());
  EXPECT_EQ(SampleViewRows(), ViewRows());
  const std::vector<std::string> trace = folder_.Trace();
  const auto set = std::find_if(trace.begin(), trace.end(), [](const std::string& line) {
    return line.rfind("FT_SetLatencyTimer", 0) == 0;
  });
  ASSERT_NE(trace.end(), set);
  EXPECT_EQ(0u, set[-1].find("FT_SetFlowControl"));
  EXPECT_NE(std::string::npos, set->find(" 2 -> 0"));
  ExitNormally();
}

TEST_F(WireDownload, AboutOpenedAndClosedMidwayLosesNothing) {
  // The meter dawdles over record 18, so About is asked for mid-download.
  Start(folder_.WriteScenario("[device]\nlog = sample\nfault = record 18 delay 800\n", "wire"));
  PostCommand(main_, IDM_READ);
  ASSERT_TRUE(WaitUntil([&] { return !folder_.TraceStarting("METER 0 LR 18").empty(); }));
  PostCommand(main_, IDM_ABOUT);
  HWND about = program_.WaitWindow(kDialogClass, MessageText(kMsgAboutTitle));
  ASSERT_NE(nullptr, about);
  ASSERT_TRUE(PressButton(about, IDOK));
  Dismiss(WaitCompletion());
  EXPECT_EQ(SampleViewRows(), ViewRows());
  EXPECT_EQ(37u, folder_.TraceStarting("READ 72 ").size()) << "each record asked for once";
  ExitNormally();
}

TEST_F(WireDownload, UnpluggedMeterIsNoHandshakeAndKeepsTheRecordsThatCame) {
  Start(folder_.WriteScenario("[device]\nlog = sample\nfault = record 10 unplug\n", "wire"));
  PostCommand(main_, IDM_READ);
  Dismiss(ExpectBox(kMsgHandshake, BoxIcon::kHand));
  EXPECT_FALSE(ViewGreyed());
  // Records 0 to 9 came; the log ends where they stop.
  const std::vector<std::string> sample = SampleViewRows();
  ASSERT_GE(sample.size(), 10u);
  EXPECT_EQ(std::vector<std::string>(sample.begin(), sample.begin() + 10), ViewRows());
  ExitNormally();
}

}  // namespace
}  // namespace sq71::e2e
