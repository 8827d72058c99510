// The sq71 program on a terminal: a pseudo-terminal is its standard error,
// where the progress bar is drawn, and Ctrl-C (SIGINT) stops the download.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Reads what the program wrote to the terminal until `done` holds or the
// program has closed it; false when a minute passes first (a hung program).
template <typename Done>
bool ReadTerminal(int master, std::string* seen, Done done) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!done(*seen)) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(master, buffer, sizeof(buffer));
    if (n <= 0) return true;  // EIO: the program has ended
    seen->append(buffer, static_cast<size_t>(n));
  }
  return true;
}

// The lines drawn in place so far: what follows each carriage return, up
// to the erase-to-end-of-line control.
std::vector<std::string> Redraws(const std::string& seen) {
  std::vector<std::string> lines;
  for (std::size_t at = seen.find('\r'); at != std::string::npos; at = seen.find('\r', at + 1)) {
    const std::size_t end = seen.find("\x1b[K", at);
    if (end != std::string::npos) lines.push_back(seen.substr(at + 1, end - at - 1));
  }
  return lines;
}

void Resize(int master, unsigned short columns) {
  winsize size = {};
  size.ws_row = 24;
  size.ws_col = columns;
  ioctl(master, TIOCSWINSZ, &size);
}

TEST(ProgressOnATerminal, BarFitsTheWidthFollowsAResizeAndCtrlCStopsClosesAndWritesNothing) {
  std::random_device random;
  const fs::path dir = fs::temp_directory_path() / ("sq71-pty-" + std::to_string(random()));
  fs::create_directories(dir);
  // Wire timing, and a meter slow enough that the download is still running
  // whenever the interrupt comes.
  std::ofstream scenario(dir / "scenario.txt");
  scenario << "timing = wire\ntrace = trace.txt\n[device]\nopen_bytes = 0x3C\n";
  for (int record = 1; record < 36; ++record)
    scenario << "fault = record " << record << " delay 500\n";
  scenario.close();
  const std::string log = (dir / "log.ulg").string();
  const std::string scenario_path = (dir / "scenario.txt").string();

  int master = -1;
  winsize size = {};
  size.ws_row = 24;
  size.ws_col = 80;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    execl(SQ71_CLI_PROGRAM, "sq71", "read", "--sim", scenario_path.c_str(), "-o", log.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string seen;
  const std::regex bar(
      "\\[#*-*\\] +[0-9]+/1024 records, [0-9]+ entr(y|ies), [0-9]+ records/s, "
      "([0-9]+:[0-9]{2}|--:--) left");
  const bool drawn =
      ReadTerminal(master, &seen, [&](const std::string& s) { return std::regex_search(s, bar); });
  // Narrower: the bar keeps to one line of the new width; below 40 columns
  // the percentage alone.
  Resize(master, 50);
  std::size_t from = seen.size();
  const bool narrowed = ReadTerminal(master, &seen, [&](const std::string& s) {
    const std::vector<std::string> lines = Redraws(s.substr(from));
    return !lines.empty() && lines.back().find(" records") != std::string::npos &&
           lines.back().size() <= 49;
  });
  Resize(master, 30);
  from = seen.size();
  const std::regex percent("[0-9]{1,3}%");
  const bool plain = ReadTerminal(master, &seen, [&](const std::string& s) {
    const std::vector<std::string> lines = Redraws(s.substr(from));
    return !lines.empty() && std::regex_match(lines.back(), percent);
  });
  kill(pid, SIGINT);
  ReadTerminal(master, &seen, [](const std::string&) { return false; });
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);

  EXPECT_TRUE(drawn) << seen;
  EXPECT_TRUE(narrowed) << seen;
  EXPECT_TRUE(plain) << seen;
  for (const std::string& line : Redraws(seen)) EXPECT_LE(line.size(), 79u) << line;
  ASSERT_TRUE(WIFEXITED(status)) << seen;
  EXPECT_EQ(130, WEXITSTATUS(status)) << seen;
  EXPECT_NE(std::string::npos, seen.find("interrupted at record")) << seen;
  // Nothing written, not even a temporary file; the device closed last.
  EXPECT_FALSE(fs::exists(log));
  EXPECT_EQ(2, std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
  std::ifstream trace(dir / "trace.txt");
  std::string line, last_call;
  while (std::getline(trace, line)) {
    if (line.rfind("FT_", 0) == 0) last_call = line;
  }
  EXPECT_EQ(0u, last_call.find("FT_Close ")) << last_call;
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
