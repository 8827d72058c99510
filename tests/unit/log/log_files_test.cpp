#include "log/log_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <latch>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "log/record_builder.h"
#include "ui/message_catalogue.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace sq71 {
namespace {

namespace fs = std::filesystem;
using test::Record;

class MessageRecorder : public Messages {
 public:
  void ShowMessage(int number, MessageStyle style) override { shown.emplace_back(number, style); }
  int AskQuestion(int number) override {
    ADD_FAILURE() << "file operations ask nothing, got question " << number;
    return kAnswerCancel;
  }
  // The numbers shown, each checked to be in the error style.
  std::vector<int> Numbers() const {
    std::vector<int> numbers;
    for (const auto& [number, style] : shown) {
      EXPECT_EQ(MessageStyle::kError, style) << "message " << number;
      numbers.push_back(number);
    }
    return numbers;
  }
  std::vector<std::pair<int, MessageStyle>> shown;
};

class ViewRecorder : public ViewItem {
 public:
  void SetViewEnabled(bool enabled) override { calls.push_back(enabled); }
  void RedrawMenuBar() override { ++redraws; }
  std::vector<bool> calls;
  int redraws = 0;
};

using Numbers = std::vector<int>;

bool UnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

LogImage Patterned(uint8_t seed) {
  LogImage image;
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
  }
  return image;
}

// An image whose 1024 records are all entries with distinct IDs.
LogImage FullLog(const std::string& name = "SAT ") {
  LogImage image{};
  for (int i = 0; i < kRecordCount; ++i) {
    Record(image, i)
        .Status(static_cast<uint8_t>(i % 4))
        .Id(1, static_cast<uint16_t>(i))
        .Name(name + std::to_string(i))
        .RfLevel(static_cast<uint16_t>(500 + i));
  }
  return image;
}

class LogFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() /
           ("sq71-log-files-" + std::to_string(random()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    for (const auto& item : fs::recursive_directory_iterator(dir_, ec)) {
      fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(dir_, ec);
  }

  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  // The names in the folder: no temporary file may be left behind.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(dir_)) {
      names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

TEST_F(LogFilesTest, LoadRejectsWrongSizesAndClosesTheFile) {
  for (std::size_t size : {std::size_t{0}, kLogImageSize - 1, kLogImageSize + 1}) {
    for (bool quiet : {false, true}) {
      const std::string path = PathOf("wrong.ulg");
      WriteBytes(path, std::string(size, '\x11'));
      LogImage image = Patterned(3);
      const LogImage before = image;
      MessageRecorder messages;
      ViewRecorder view;
      EXPECT_EQ(-1, LoadUlg(path.c_str(), &image, &view, &messages, quiet)) << size;
      EXPECT_EQ(Numbers{kMsgInvalidDataFile}, messages.Numbers()) << size << " quiet " << quiet;
      EXPECT_TRUE(image == before) << size;
      EXPECT_TRUE(view.calls.empty());
      EXPECT_EQ(0, view.redraws);
      // Another program could delete it straight away: no handle is left open.
      EXPECT_EQ(0, std::remove(path.c_str())) << size;
    }
  }
}

TEST_F(LogFilesTest, LoadOfMissingFileIsSilentOnlyInQuietMode) {
  const std::string path = PathOf("missing.ulg");
  LogImage image = Patterned(1);
  const LogImage before = image;
  ViewRecorder view;

  MessageRecorder quiet;
  EXPECT_EQ(1, LoadUlg(path.c_str(), &image, &view, &quiet, true));
  EXPECT_TRUE(quiet.shown.empty());

  MessageRecorder loud;
  EXPECT_EQ(1, LoadUlg(path.c_str(), &image, &view, &loud, false));
  EXPECT_EQ(Numbers{kMsgInvalidBinaryFile}, loud.Numbers());

  EXPECT_TRUE(image == before);
  EXPECT_TRUE(view.calls.empty());
  EXPECT_EQ(0, view.redraws);
}

TEST_F(LogFilesTest, LoadOfAFolderChangesNothing) {
  LogImage image = Patterned(2);
  const LogImage before = image;
  MessageRecorder messages;
  ViewRecorder view;
  const int result = LoadUlg(dir_.string().c_str(), &image, &view, &messages, false);
#ifdef _WIN32
  // Windows will not open a folder as a file.
  EXPECT_EQ(1, result);
  EXPECT_EQ(Numbers{kMsgInvalidBinaryFile}, messages.Numbers());
#else
  // POSIX opens it; the read fails.
  EXPECT_EQ(-1, result);
  EXPECT_EQ(Numbers{kMsgInvalidDataFile}, messages.Numbers());
#endif
  EXPECT_TRUE(image == before);
  EXPECT_TRUE(view.calls.empty());
}

TEST_F(LogFilesTest, LoadReplacesTheImageAndEnablesView) {
  const std::string path = PathOf("log.ulg");
  const LogImage stored = Patterned(9);
  WriteBytes(path, std::string(stored.begin(), stored.end()));
  LogImage image{};
  MessageRecorder messages;
  ViewRecorder view;
  EXPECT_EQ(0, LoadUlg(path.c_str(), &image, &view, &messages, false));
  EXPECT_TRUE(image == stored);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(std::vector<bool>{true}, view.calls);
  EXPECT_EQ(1, view.redraws);
  EXPECT_EQ(0, std::remove(path.c_str()));
}

TEST_F(LogFilesTest, LoadedZeroFileAndEndMarkerFile) {
  const std::string path = PathOf("zero.ulg");
  WriteBytes(path, std::string(kLogImageSize, '\0'));
  LogImage image = Patterned(4);
  MessageRecorder messages;
  ViewRecorder view;
  ASSERT_EQ(0, LoadUlg(path.c_str(), &image, &view, &messages, true));
  EXPECT_EQ(kRecordCount, EntryCount(image, nullptr));
  std::string csv;
  RecordDecoder decoder;
  AppendCsv(image, EntryCount(image, nullptr), &decoder, &csv);
  EXPECT_EQ(std::string(kCsvHeader) + "\"00000-000\",\"                \",",
            csv.substr(0, sizeof kCsvHeader - 1 + 31));
  EXPECT_EQ(2, std::count(csv.begin(), csv.end(), '\n'));  // header and one entry

  std::string marked(kLogImageSize, '\0');
  marked[0] = '\xFF';
  WriteBytes(path, marked);
  ViewRecorder view2;
  ASSERT_EQ(0, LoadUlg(path.c_str(), &image, &view2, &messages, true));
  EXPECT_EQ(std::vector<bool>{true}, view2.calls);
  EXPECT_EQ(0, EntryCount(image, nullptr));
}

TEST_F(LogFilesTest, SaveOfZeroImageWritesZeroBytes) {
  const std::string path = PathOf("zero.ulg");
  MessageRecorder messages;
  EXPECT_EQ(0, SaveUlg(path.c_str(), LogImage{}, &messages, false));
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(std::string(kLogImageSize, '\0'), ReadAll(path));
  EXPECT_EQ(std::vector<std::string>{"zero.ulg"}, Listing());
}

TEST_F(LogFilesTest, SavedFileLoadsBackIdenticalAndReplacesAnOldOneWhole) {
  const std::string path = PathOf("log.ulg");
  WriteBytes(path, std::string(100000, 'x'));  // longer than a log: must not survive
  const LogImage original = Patterned(77);
  MessageRecorder messages;
  ASSERT_EQ(0, SaveUlg(path.c_str(), original, &messages, false));
  EXPECT_EQ(kLogImageSize, fs::file_size(path));

  LogImage loaded{};
  ViewRecorder view;
  ASSERT_EQ(0, LoadUlg(path.c_str(), &loaded, &view, &messages, false));
  EXPECT_TRUE(loaded == original);
  EXPECT_TRUE(messages.shown.empty());

  // Saving again over the file just written.
  ASSERT_EQ(0, SaveUlg(path.c_str(), LogImage{}, &messages, false));
  EXPECT_EQ(std::string(kLogImageSize, '\0'), ReadAll(path));
  EXPECT_EQ(std::vector<std::string>{"log.ulg"}, Listing());
}

TEST_F(LogFilesTest, EightBitFileNames) {
  // The C runtime's own code page on Windows; raw bytes on POSIX.
  const std::string path = (dir_.string() + "/T\xE9l\xE9sat.ulg");
  const LogImage original = Patterned(5);
  MessageRecorder messages;
  ASSERT_EQ(0, SaveUlg(path.c_str(), original, &messages, false));
  ASSERT_EQ(0, SaveUlg(path.c_str(), original, &messages, false));  // over itself
  LogImage loaded{};
  ASSERT_EQ(0, LoadUlg(path.c_str(), &loaded, nullptr, &messages, false));
  EXPECT_TRUE(loaded == original);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(1u, Listing().size());
}

// Save and export share the write path; each failure case runs through both.
using WriteOp = int (*)(const std::string& path, Messages* messages, bool quiet);

int SaveOp(const std::string& path, Messages* messages, bool quiet) {
  return SaveUlg(path.c_str(), Patterned(8), messages, quiet);
}
int ExportOp(const std::string& path, Messages* messages, bool quiet) {
  RecordDecoder decoder;
  return ExportCsv(path.c_str(), FullLog(), kRecordCount, &decoder, messages, quiet);
}
const std::pair<const char*, WriteOp> kWriteOps[] = {{"save", SaveOp}, {"export", ExportOp}};

TEST_F(LogFilesTest, WriteIntoMissingFolder) {
  for (const auto& [name, op] : kWriteOps) {
    const std::string path = PathOf("no such folder/out.file");
    MessageRecorder loud;
    EXPECT_EQ(-1, op(path, &loud, false)) << name;
    EXPECT_EQ(Numbers{kMsgCantSaveImage}, loud.Numbers()) << name;
    MessageRecorder quiet;
    EXPECT_EQ(-1, op(path, &quiet, true)) << name;
    EXPECT_TRUE(quiet.shown.empty()) << name;
    EXPECT_TRUE(Listing().empty()) << name;
  }
}

TEST_F(LogFilesTest, WriteOntoAFolderKeepsIt) {
  fs::create_directory(dir_ / "taken");
  for (const auto& [name, op] : kWriteOps) {
    MessageRecorder loud;
    EXPECT_EQ(-1, op(PathOf("taken"), &loud, false)) << name;
    EXPECT_EQ(Numbers{kMsgCantSaveImage}, loud.Numbers()) << name;
    MessageRecorder quiet;
    EXPECT_EQ(-1, op(PathOf("taken"), &quiet, true)) << name;
    EXPECT_TRUE(quiet.shown.empty()) << name;
    EXPECT_TRUE(fs::is_directory(dir_ / "taken"));
    EXPECT_EQ(std::vector<std::string>{"taken"}, Listing()) << name;
  }
}

TEST_F(LogFilesTest, WriteOntoReadOnlyFileKeepsIt) {
  const std::string path = PathOf("kept.file");
  WriteBytes(path, "old content");
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  if (std::FILE* probe = std::fopen(path.c_str(), "r+b")) {
    std::fclose(probe);
    GTEST_SKIP() << "this user may write read-only files (root)";
  }
  for (const auto& [name, op] : kWriteOps) {
    MessageRecorder loud;
    EXPECT_EQ(-1, op(path, &loud, false)) << name;
    EXPECT_EQ(Numbers{kMsgCantSaveImage}, loud.Numbers()) << name;
    MessageRecorder quiet;
    EXPECT_EQ(-1, op(path, &quiet, true)) << name;
    EXPECT_TRUE(quiet.shown.empty()) << name;
    EXPECT_EQ("old content", ReadAll(path)) << name;
    EXPECT_EQ(std::vector<std::string>{"kept.file"}, Listing()) << name;
  }
}

// Writers to one name at once: the file ends as one of them whole, never a
// mix, that writer reported success, and none leaves a temporary file behind.
TEST_F(LogFilesTest, ConcurrentWritersLeaveOneWholeFile) {
  constexpr int kWriters = 4;
  constexpr int kLines = 100;
#ifdef _WIN32
  constexpr int kRounds = 10;  // a writer that meets another waits a little before it tries again
#else
  constexpr int kRounds = 100;
#endif
  const std::string path = PathOf("out.csv");
  LogImage logs[kWriters];
  std::string expected[kWriters];
  for (int k = 0; k < kWriters; ++k) {
    logs[k] = FullLog(std::string(1, static_cast<char>('A' + k)) + " ");
    RecordDecoder decoder;
    AppendCsv(logs[k], kLines, &decoder, &expected[k]);
  }
  for (int round = 0; round < kRounds; ++round) {
    FileResult results[kWriters];
    std::latch start(kWriters);
    std::vector<std::thread> writers;
    for (int k = 0; k < kWriters; ++k) {
      writers.emplace_back([&, k] {
        RecordDecoder decoder;
        start.arrive_and_wait();
        results[k] = WriteCsvFile(path.c_str(), logs[k], kLines, &decoder);
      });
    }
    for (auto& writer : writers) writer.join();
    const std::string got = ReadAll(path);
    const int winner = static_cast<int>(std::find(expected, expected + kWriters, got) - expected);
    ASSERT_LT(winner, kWriters) << "round " << round << ": a mix";
    ASSERT_TRUE(results[winner].ok()) << "round " << round << ": the content of a failed write";
  }
  // Wine's ReplaceFile parks the old file under a name of its own and can
  // leave it behind when two replaces meet.
  if (!UnderWine()) {
    EXPECT_EQ(std::vector<std::string>{"out.csv"}, Listing());
  }
}

// Temporary files left by runs that were killed never block a later write.
TEST_F(LogFilesTest, LeftoverTemporaryFilesDoNotBlockAWrite) {
  const std::string path = PathOf("out.ulg");
  for (int i = 0; i < 100; ++i) WriteBytes(path + ".tmp" + (i > 0 ? std::to_string(i) : ""), "x");
  const LogImage image = Patterned(6);
  MessageRecorder messages;
  ASSERT_EQ(0, SaveUlg(path.c_str(), image, &messages, false));
  EXPECT_EQ(std::string(image.begin(), image.end()), ReadAll(path));
  EXPECT_EQ(101u, Listing().size());
}

#ifdef _WIN32
// Replacing keeps what the old file carried besides its bytes, here the
// hidden attribute.
TEST_F(LogFilesTest, ReplacedFileKeepsItsAttributes) {
  const std::string path = PathOf("hidden.ulg");
  WriteBytes(path, "old content");
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
  if ((GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN) == 0) {
    GTEST_SKIP() << "this file system keeps no hidden attribute";
  }
  const LogImage image = Patterned(2);
  ASSERT_TRUE(WriteUlgFile(path.c_str(), image).ok());
  EXPECT_NE(0u, GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(std::string(image.begin(), image.end()), ReadAll(path));
  EXPECT_EQ(std::vector<std::string>{"hidden.ulg"}, Listing());
}

// Another program holding the file open without sharing (a spreadsheet showing
// the CSV) makes it unwritable, whoever the user is.
TEST_F(LogFilesTest, WriteOntoLockedFileKeepsIt) {
  const std::string path = PathOf("kept.file");
  WriteBytes(path, "old content");
  const int lock = _sopen(path.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW);
  ASSERT_NE(-1, lock);
  for (const auto& [name, op] : kWriteOps) {
    MessageRecorder loud;
    EXPECT_EQ(-1, op(path, &loud, false)) << name;
    EXPECT_EQ(Numbers{kMsgCantSaveImage}, loud.Numbers()) << name;
    MessageRecorder quiet;
    EXPECT_EQ(-1, op(path, &quiet, true)) << name;
    EXPECT_TRUE(quiet.shown.empty()) << name;
    EXPECT_EQ(std::vector<std::string>{"kept.file"}, Listing()) << name;
  }
  _close(lock);
  EXPECT_EQ("old content", ReadAll(path));
}

// The NUL device cannot be replaced by a file: the bytes are written into it.
TEST_F(LogFilesTest, WriteToTheNulDeviceGoesThrough) {
  const fs::path saved = fs::current_path();
  fs::current_path(dir_);
  const LogImage image = FullLog();
  RecordDecoder decoder;
  const FileResult csv = WriteCsvFile("NUL", image, kRecordCount, &decoder);
  const FileResult ulg = WriteUlgFile("NUL", image);
  fs::current_path(saved);
  EXPECT_TRUE(csv.ok()) << csv.error;
  EXPECT_TRUE(ulg.ok()) << ulg.error;
  EXPECT_TRUE(Listing().empty());
}
#endif

#ifndef _WIN32
// A write that fails after the file was created: the file-size limit makes
// the kernel refuse writes past 4 KiB, as a full disk would.
TEST_F(LogFilesTest, FailedWriteKeepsTheOldFileAndIsReportedEvenWhenQuiet) {
  const std::string path = PathOf("kept.file");
  WriteBytes(path, "old content");
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(0, sigaction(SIGXFSZ, &ignore, &previous));
  rlimit limit = {}, saved = {};
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  for (const auto& [name, op] : kWriteOps) {
    for (bool quiet : {false, true}) {
      MessageRecorder messages;
      limit = saved;
      limit.rlim_cur = 4096;
      ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
      const int result = op(path, &messages, quiet);
      ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved));
      EXPECT_EQ(-1, result) << name;
      EXPECT_EQ(Numbers{kMsgCantSaveImage}, messages.Numbers()) << name << " quiet " << quiet;
      EXPECT_EQ("old content", ReadAll(path)) << name;
      EXPECT_EQ(std::vector<std::string>{"kept.file"}, Listing()) << name;
    }
  }
  sigaction(SIGXFSZ, &previous, nullptr);

  // The limit gone, the same writes go through.
  MessageRecorder messages;
  for (const auto& [name, op] : kWriteOps) EXPECT_EQ(0, op(path, &messages, false)) << name;
  EXPECT_TRUE(messages.shown.empty());
}
// In a folder that takes no new file, a file the user may write is written
// in place and cut to its new length; a new name there still cannot be made.
// Run by an ordinary user (nobody, when the tests run as root).
TEST_F(LogFilesTest, FolderThatTakesNoNewFileGetsTheFileWrittenInPlace) {
  const fs::path folder = dir_ / "locked";
  fs::create_directory(folder);
  const std::string path = (folder / "out.csv").string();
  const std::string missing = (folder / "new.csv").string();
  WriteBytes(path, std::string(300000, 'x'));  // longer than what replaces it
  ASSERT_EQ(0, chmod(path.c_str(), 0666));
  ASSERT_EQ(0, chmod(folder.c_str(), 0555));
  struct stat before = {};
  ASSERT_EQ(0, stat(path.c_str(), &before));
  const LogImage image = FullLog();
  const pid_t child = fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
    RecordDecoder decoder;
    MessageRecorder messages;
    const bool written =
        ExportCsv(path.c_str(), image, kRecordCount, &decoder, &messages, true) == 0;
    const FileResult refused = WriteCsvFile(missing.c_str(), image, kRecordCount, &decoder);
    _exit((written ? 0 : 1) | (refused.status == FileStatus::kCannotCreate ? 0 : 2));
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "1: not written in place, 2: new name made, 10: setuid";
  std::string expected;
  RecordDecoder decoder;
  AppendCsv(image, kRecordCount, &decoder, &expected);
  EXPECT_EQ(expected, ReadAll(path));
  struct stat after = {};
  ASSERT_EQ(0, stat(path.c_str(), &after));
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(std::vector<std::string>{"out.csv"}, [&] {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) {
      names.push_back(item.path().filename().string());
    }
    return names;
  }());
}

// In a shared sticky folder another user's link is not followed, also at
// the end of a link of our own; a link of our own there still is.
TEST_F(LogFilesTest, AnotherUsersLinkInAStickyFolderIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "making another user's link needs root";
  const fs::path shared = dir_ / "shared";
  fs::create_directory(shared);
  ASSERT_EQ(0, chmod(shared.c_str(), 01777));
  const std::string victim = PathOf("victim.ulg");
  WriteBytes(victim, "the victim's");
  const std::string theirs = (shared / "out.ulg").string();
  ASSERT_EQ(0, std::system(("setpriv --reuid=nobody --regid=nogroup --clear-groups ln -s " +
                            victim + " " + theirs)
                               .c_str()));
  fs::create_symlink(theirs, shared / "via.ulg");
  const LogImage image = Patterned(9);
  for (const fs::path& name : {fs::path(theirs), shared / "via.ulg"}) {
    const FileResult refused = WriteUlgFile(name.c_str(), image);
    EXPECT_EQ(FileStatus::kCannotCreate, refused.status) << name;
    EXPECT_EQ(theirs, refused.refused_link) << name;
  }
  EXPECT_EQ("the victim's", ReadAll(victim));
  fs::create_symlink(victim, shared / "mine.ulg");
  ASSERT_TRUE(WriteUlgFile((shared / "mine.ulg").c_str(), image).ok());
  EXPECT_EQ(std::string(image.begin(), image.end()), ReadAll(victim));
  EXPECT_TRUE(fs::is_symlink(shared / "mine.ulg"));
}

// A killed write's temporary file, once old, goes with the next write to its
// target; names of another pattern, the short form any target may have used
// and a fresh one (another writer's) stay.
TEST_F(LogFilesTest, AnOldTemporaryFileOfTheTargetGoesWithTheNextWrite) {
  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(11);
  for (const char* name : {"out.csv.tmp0123abcd", "out.csv.tmp0123abcz", "out.csv.tmp0123abcd~",
                           "in.csv.tmp0123abcd", "sq71.tmp0123abcd", "out.csv.tmp89abcdef"}) {
    WriteBytes(PathOf(name), "x");
    if (name != std::string("out.csv.tmp89abcdef")) fs::last_write_time(PathOf(name), old);
  }
  RecordDecoder decoder;
  ASSERT_TRUE(WriteCsvFile(PathOf("out.csv").c_str(), FullLog(), 3, &decoder).ok());
  EXPECT_EQ((std::vector<std::string>{"in.csv.tmp0123abcd", "out.csv", "out.csv.tmp0123abcd~",
                                      "out.csv.tmp0123abcz", "out.csv.tmp89abcdef",
                                      "sq71.tmp0123abcd"}),
            Listing());
}

// Writing through a link replaces the file it names; the link stays a link.
TEST_F(LogFilesTest, WriteThroughASymbolicLinkReplacesTheFileItNames) {
  const LogImage image = Patterned(3);
  WriteBytes(PathOf("real.ulg"), "old content");
  fs::create_symlink("real.ulg", dir_ / "link.ulg");
  ASSERT_TRUE(WriteUlgFile(PathOf("link.ulg").c_str(), image).ok());
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.ulg"));
  EXPECT_EQ(std::string(image.begin(), image.end()), ReadAll(PathOf("real.ulg")));
  EXPECT_EQ((std::vector<std::string>{"link.ulg", "real.ulg"}), Listing());
}

// A replaced file keeps its permissions: a private log does not become readable to all.
TEST_F(LogFilesTest, ReplacedFileKeepsItsPermissions) {
  for (const auto& [name, op] : kWriteOps) {
    const std::string path = PathOf(std::string("private.") + name);
    WriteBytes(path, "old content");
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    MessageRecorder messages;
    ASSERT_EQ(0, op(path, &messages, false)) << name;
    struct stat info = {};
    ASSERT_EQ(0, stat(path.c_str(), &info));
    EXPECT_EQ(0640u, info.st_mode & 07777u) << name;
    EXPECT_NE("old content", ReadAll(path)) << name;
  }
}

// A named pipe (or a device) cannot be replaced by a file: the bytes go into it.
TEST_F(LogFilesTest, ExportIntoANamedPipeWritesThroughIt) {
  const std::string path = PathOf("pipe");
  ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
  // Held open for reading and writing, so neither side waits for the other.
  const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_NE(-1, fd);
  const LogImage image = FullLog();
  RecordDecoder decoder;
  const FileResult result = WriteCsvFile(path.c_str(), image, 3, &decoder);
  std::string got;
  char chunk[4096];
  for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) got.append(chunk, n);
  close(fd);
  EXPECT_TRUE(result.ok());
  std::string expected;
  AppendCsv(image, 3, &decoder, &expected);
  EXPECT_EQ(expected, got);
  struct stat info = {};
  ASSERT_EQ(0, lstat(path.c_str(), &info));
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(std::vector<std::string>{"pipe"}, Listing());
}
#endif

std::vector<std::string> CsvLines(const std::string& csv) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < csv.size()) {
    const std::size_t end = csv.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(csv.substr(start));  // unterminated: fails the CR LF checks
      break;
    }
    lines.push_back(csv.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

TEST_F(LogFilesTest, ExportStopsAtTheFirstRecordThatIsNoEntry) {
  LogImage image{};
  Record(image, 0).Id(5, 1).Name("FIRST");
  Record(image, 1).Status(9).Id(5, 2);
  Record(image, 2).Id(5, 3);
  const std::string path = PathOf("out.csv");
  RecordDecoder decoder;
  MessageRecorder messages;
  ASSERT_EQ(0, ExportCsv(path.c_str(), image, 3, &decoder, &messages, false));
  EXPECT_TRUE(messages.shown.empty());
  const std::string csv = ReadAll(path);
  const auto lines = CsvLines(csv);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(std::string(kCsvHeader), lines[0] + "\r\n");
  EXPECT_EQ(0u, lines[1].find("\"00005-001\",\"           FIRST\",\"0.00E\","));
  EXPECT_EQ("\r\n", csv.substr(csv.size() - 2));
}

TEST_F(LogFilesTest, ExportOfAFullLogWritesEveryLineWithCrLf) {
  const LogImage image = FullLog();
  const std::string path = PathOf("full.csv");
  RecordDecoder decoder;
  MessageRecorder messages;
  ASSERT_EQ(0, ExportCsv(path.c_str(), image, kRecordCount, &decoder, &messages, false));
  const std::string csv = ReadAll(path);
  const auto lines = CsvLines(csv);
  ASSERT_EQ(1025u, lines.size());
  // Every line feed belongs to a CR LF, and nothing follows the last one.
  EXPECT_EQ(1025, std::count(csv.begin(), csv.end(), '\n'));
  EXPECT_EQ(1025, std::count(csv.begin(), csv.end(), '\r'));
  EXPECT_EQ("\r\n", csv.substr(csv.size() - 2));
  EXPECT_EQ(0u, lines[1].find("\"00001-000\",\"           SAT 0\","));
  EXPECT_EQ(0u, lines[1024].find("\"00001-1023\",\"        SAT 1023\","));
  for (const std::string& line : lines) EXPECT_EQ(std::string::npos, line.find('\n'));
}

TEST_F(LogFilesTest, ExportCountLimitsTheLinesAndZeroGivesTheHeaderOnly) {
  const LogImage image = FullLog();
  const std::string path = PathOf("out.csv");
  RecordDecoder decoder;
  MessageRecorder messages;
  ASSERT_EQ(0, ExportCsv(path.c_str(), image, 2, &decoder, &messages, false));
  EXPECT_EQ(3u, CsvLines(ReadAll(path)).size());
  ASSERT_EQ(0, ExportCsv(path.c_str(), image, 0, &decoder, &messages, false));
  EXPECT_EQ(std::string(kCsvHeader), ReadAll(path));
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(std::vector<std::string>{"out.csv"}, Listing());
}

TEST_F(LogFilesTest, ExportStartsItsPassAtRecordZero) {
  // A key left by another image must not cut this export short.
  LogImage other{};
  Record(other, 0).Id(9, 9);
  LogImage image{};
  Record(image, 0).Id(1, 1);
  Record(image, 1).Id(9, 9);
  Record(image, 2).Status(kEndMarker);
  RecordDecoder decoder;
  DecodedEntry entry{};
  ASSERT_TRUE(decoder.Decode(other, 0, &entry));
  std::string csv;
  AppendCsv(image, EntryCount(image, nullptr), &decoder, &csv);
  EXPECT_EQ(3u, CsvLines(csv).size());
}

TEST_F(LogFilesTest, EverySinkGetsTheSameBytes) {
  const LogImage image = FullLog();
  const std::string path = PathOf("out.csv");
  RecordDecoder decoder;
  ASSERT_TRUE(WriteCsvFile(path.c_str(), image, 700, &decoder).ok());
  const std::string file_bytes = ReadAll(path);

  std::string appended;
  AppendCsv(image, 700, &decoder, &appended);
  EXPECT_EQ(file_bytes, appended);

  std::ostringstream stream;
  EXPECT_TRUE(WriteCsv(stream, image, 700, &decoder));
  EXPECT_EQ(file_bytes, stream.str());

  const std::string other = PathOf("other.csv");
  std::FILE* file = std::fopen(other.c_str(), "wb");
  ASSERT_NE(nullptr, file);
  EXPECT_TRUE(WriteCsv(file, image, 700, &decoder));
  std::fclose(file);
  EXPECT_EQ(file_bytes, ReadAll(other));

  // A stream that refuses writes is reported.
  std::ostringstream broken;
  broken.setstate(std::ios::badbit);
  EXPECT_FALSE(WriteCsv(broken, image, 700, &decoder));
}

TEST_F(LogFilesTest, ReadUlgFileReportsSizeAndReason) {
  const std::string path = PathOf("short.ulg");
  WriteBytes(path, std::string(65535, '\0'));
  LogImage image{};
  FileResult result = ReadUlgFile(path.c_str(), &image);
  EXPECT_EQ(FileStatus::kWrongSize, result.status);
  EXPECT_EQ(65535, result.size);

  WriteBytes(path, std::string(200000, '\0'));
  result = ReadUlgFile(path.c_str(), &image);
  EXPECT_EQ(FileStatus::kWrongSize, result.status);
  EXPECT_EQ(200000, result.size);

  result = ReadUlgFile(PathOf("absent.ulg").c_str(), &image);
  EXPECT_EQ(FileStatus::kCannotOpen, result.status);
  EXPECT_EQ(ENOENT, result.error);

  result = WriteUlgFile(PathOf("absent/x.ulg").c_str(), image);
  EXPECT_EQ(FileStatus::kCannotCreate, result.status);
  EXPECT_EQ(ENOENT, result.error);
}

}  // namespace
}  // namespace sq71
