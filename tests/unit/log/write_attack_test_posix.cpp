// Writes attacked as another user on the machine would attack them: a second
// user (nobody) who owns entries in a shared sticky folder, swaps the name
// being written, plants links in the folders of the path, FIFOs and set-ID
// files. The victim is a file of the user who writes; none of its bytes may
// change, no write may hang and no new file may be set-ID.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "log/log_files.h"
#include "log/replacing_file.h"
#include "log/trace_output.h"
#include "sim/sample_log.h"
#include "tests/support/sq71_fixture.h"

namespace sq71 {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;
constexpr char kVictimBytes[] = "the victim's own bytes\n";

// Runs fn as nobody in a child process; its exit status.
template <typename Fn>
pid_t AsNobody(Fn fn) {
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kNogroup) != 0 || setuid(kNobody) != 0) _exit(99);
    _exit(fn());
  }
  return child;
}

int WaitFor(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

class WriteAttackTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "a second user needs root";
    TempDirTest::SetUp();
    shared_ = PathOf("shared");
    fs::create_directory(shared_);
    ASSERT_EQ(0, chmod(shared_.c_str(), 01777));
    victim_ = PathOf("victim.txt");
    WriteFile(victim_, kVictimBytes);
    chmod(dir_.c_str(), 0755);
  }
  // Writes the sample CSV to path as the user (root) does.
  static FileResult Export(const std::string& path) {
    RecordDecoder decoder;
    return WriteCsvFile(path.c_str(), sim::MakeSampleLog(), sim::kSampleEntryCount, &decoder);
  }
  std::string shared_;
  std::string victim_;
};

// Counters shared between the writer, the swapper and the test.
struct Tally {
  std::atomic<int> runs{0};
  std::atomic<int> victim_changed{0};
  std::atomic<int> set_id{0};
  std::atomic<int> hung{0};  // writes still waiting after a second
  std::atomic<long> fifo_bytes{0};  // what the swapper's FIFOs received
  std::atomic<bool> stop{false};
};

// The swapper turns the name, again and again, into the other user's regular
// file (mode 06777), a link to /dev/null, a link to the victim's file, a FIFO
// it reads and a FIFO nobody reads, while the user writes to that name (gone
// again before each write) many times. SQ71_ATTACK_RUNS sets the count.
TEST_F(WriteAttackTest, SwapperInAStickyFolderGetsNoWriteThrough) {
  const char* env = std::getenv("SQ71_ATTACK_RUNS");
  const int runs = env != nullptr ? std::atoi(env) : 500;
  auto* tally = static_cast<Tally*>(
      mmap(nullptr, sizeof(Tally), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(MAP_FAILED, tally);
  new (tally) Tally();
  const std::string out = shared_ + "/out.csv";
  const std::string staged = shared_ + "/staged";
  const pid_t swapper = AsNobody([&] {
    int readers[8];
    int held = 0;
    for (unsigned i = 0; !tally->stop; ++i) {
      switch (i % 5) {
        case 0: {
          const int fd = open(staged.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
          if (fd >= 0) fchmod(fd, 06777), close(fd);
          break;
        }
        case 1:
          symlink("/dev/null", staged.c_str());
          break;
        case 2:
          symlink(victim_.c_str(), staged.c_str());
          break;
        case 3:
          if (mkfifo(staged.c_str(), 0666) == 0) {
            if (held == 8) close(readers[--held]);
            readers[held++] = open(staged.c_str(), O_RDWR | O_NONBLOCK);
          }
          break;
        default:
          mkfifo(staged.c_str(), 0666);
      }
      rename(staged.c_str(), out.c_str());
      unlink(staged.c_str());
      char sink[4096];
      for (int r = 0; r < held; ++r) {
        for (ssize_t n; (n = read(readers[r], sink, sizeof sink)) > 0;) tally->fifo_bytes += n;
      }
    }
    return 0;
  });
  ASSERT_GT(swapper, 0);
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    // A write still waiting after a second is counted and cut short.
    struct sigaction wake = {};
    wake.sa_handler = [](int) {};
    sigaction(SIGALRM, &wake, nullptr);
    for (int i = 0; i < runs; ++i) {
      unlink(out.c_str());
      alarm(1);
      Export(out);
      if (alarm(0) == 0) ++tally->hung;
      ++tally->runs;
      struct stat info = {};
      if (lstat(out.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == 0 &&
          (info.st_mode & (S_ISUID | S_ISGID)) != 0) {
        ++tally->set_id;
      }
      if (ReadFile(victim_) != kVictimBytes) {
        ++tally->victim_changed;
        WriteFile(victim_, kVictimBytes);
      }
    }
    _exit(0);
  }
  const int status = WaitFor(writer);
  tally->stop = true;
  WaitFor(swapper);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(runs, tally->runs.load());
  EXPECT_EQ(0, tally->hung.load()) << "of " << tally->runs << " runs";
  EXPECT_EQ(0, tally->victim_changed.load()) << "of " << tally->runs << " runs";
  EXPECT_EQ(0, tally->set_id.load()) << "of " << tally->runs << " runs";
  EXPECT_EQ(0, tally->fifo_bytes.load());
  struct stat null_device = {};
  ASSERT_EQ(0, stat("/dev/null", &null_device));
  EXPECT_TRUE(S_ISCHR(null_device.st_mode));
  RecordProperty("runs", tally->runs.load());
  munmap(tally, sizeof(Tally));
}

// A folder of the path that is another user's link in a sticky folder is not
// followed either; the user's own link to a folder is, and ".." after it
// means the parent of the folder it names.
TEST_F(WriteAttackTest, AnotherUsersLinkToAFolderInThePathIsNotFollowed) {
  const std::string elsewhere = PathOf("elsewhere");
  fs::create_directories(elsewhere + "/inner");
  ASSERT_EQ(0, WaitFor(AsNobody([&] { return symlink(elsewhere.c_str(), (shared_ + "/dl").c_str()); })));
  const FileResult refused = Export(shared_ + "/dl/out.csv");
  EXPECT_EQ(FileStatus::kCannotCreate, refused.status);
  EXPECT_EQ(shared_ + "/dl", refused.refused_link);
  std::string error;
  EXPECT_EQ(nullptr, OpenTraceStream(shared_ + "/dl/trace.txt", &error));
  EXPECT_NE(std::string::npos, error.find("another user's link")) << error;
  EXPECT_TRUE(fs::is_empty(elsewhere + "/inner"));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()));
  fs::create_directory_symlink(elsewhere + "/inner", PathOf("mine"));
  ASSERT_TRUE(Export(PathOf("mine/../up.csv")).ok());
  EXPECT_TRUE(fs::is_regular_file(elsewhere + "/up.csv"));
}

// Another user's FIFO or regular file in a sticky folder is not opened for
// writing, whatever the kernel's settings; the FIFO's reader gets nothing. A
// block device is never a target.
TEST_F(WriteAttackTest, AnotherUsersFifoOrFileInAStickyFolderIsNotWritten) {
  const std::string fifo = shared_ + "/pipe.csv";
  const std::string planted = shared_ + "/planted.csv";
  ASSERT_EQ(0, WaitFor(AsNobody([&] {
              const int fd = open(planted.c_str(), O_WRONLY | O_CREAT, 0666);
              return mkfifo(fifo.c_str(), 0666) != 0 || fd < 0 || fchmod(fd, 06777) != 0;
            })));
  const int reader = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(FileStatus::kCannotCreate, Export(fifo).status);
  char byte;
  EXPECT_EQ(-1, read(reader, &byte, 1));
  close(reader);
  EXPECT_EQ(FileStatus::kCannotCreate, Export(planted).status);
  EXPECT_EQ("", ReadFile(planted));
  const std::string block = PathOf("block");
  if (mknod(block.c_str(), S_IFBLK | 0600, makedev(7, 200)) != 0) GTEST_SKIP() << "no mknod here";
  EXPECT_EQ(WriteRefusal::kNotWritable, Export(block).refusal);
}

// What the user named keeps working: a dangling link of the user's own gets
// its target made, as the shell's ">" does; a pipe behind /dev/fd/N and
// /dev/stdout is written through the kernel's link.
TEST_F(WriteAttackTest, OwnDanglingLinkAndDescriptorLinksAreWritten) {
  fs::create_symlink("made.csv", PathOf("dangling.csv"));
  ASSERT_TRUE(Export(PathOf("dangling.csv")).ok());
  EXPECT_TRUE(fs::is_symlink(PathOf("dangling.csv")));
  RecordDecoder decoder;
  std::string csv;
  AppendCsv(sim::MakeSampleLog(), sim::kSampleEntryCount, &decoder, &csv);
  EXPECT_EQ(csv, ReadFile(PathOf("made.csv")));
  for (const bool stdout_link : {false, true}) {
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    const int saved = dup(1);
    if (stdout_link) dup2(ends[1], 1);
    const FileResult result =
        Export(stdout_link ? "/dev/stdout" : "/dev/fd/" + std::to_string(ends[1]));
    dup2(saved, 1);
    close(saved);
    close(ends[1]);
    std::string got;
    char chunk[4096];
    for (ssize_t n; (n = read(ends[0], chunk, sizeof chunk)) > 0;) got.append(chunk, n);
    close(ends[0]);
    EXPECT_TRUE(result.ok()) << WriteFailureText("/dev/stdout", result);
    EXPECT_EQ(csv, got) << stdout_link;
  }
}

// A file of another user replaced in a folder of the user's own gets the
// default mode, never the other's set-ID bits; the user's own file keeps its
// permission bits, set-ID ones dropped.
TEST_F(WriteAttackTest, ReplacedFileTakesNoSetIdBits) {
  const std::string theirs = PathOf("theirs.csv");
  const std::string mine = PathOf("mine.csv");
  WriteFile(theirs, "x");
  WriteFile(mine, "x");
  ASSERT_EQ(0, chown(theirs.c_str(), kNobody, kNogroup));
  ASSERT_EQ(0, chmod(theirs.c_str(), 06777));
  ASSERT_EQ(0, chmod(mine.c_str(), 06750));
  const mode_t mask = umask(022);
  ASSERT_TRUE(Export(theirs).ok());
  ASSERT_TRUE(Export(mine).ok());
  umask(mask);
  struct stat info = {};
  ASSERT_EQ(0, stat(theirs.c_str(), &info));
  EXPECT_EQ(0644u, info.st_mode & 07777u);
  ASSERT_EQ(0, stat(mine.c_str(), &info));
  EXPECT_EQ(0750u, info.st_mode & 07777u);
}

}  // namespace
}  // namespace sq71
