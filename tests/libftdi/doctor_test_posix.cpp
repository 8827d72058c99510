// sq71 doctor over libftdi on the umockdev bus: a meter, an FT232R that is
// not one, and a chip whose device node the user may not open. Runs as an
// unprivileged user in a child process, since root opens any node.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "fake_ft232r_posix.h"
#include "tests/support/sq71_fixture.h"

namespace sq71 {
namespace {

namespace fs = std::filesystem;

// What `sq71 doctor ARGS` prints, run as nobody; *status its exit status.
std::string DoctorAsNobody(const char* backend, int* status) {
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
    const test::Sq71Outcome run = test::RunSq71Command({"doctor", "--backend", backend});
    const std::string all = run.out + run.err;
    if (write(out[1], all.data(), all.size()) < 0) _exit(98);
    _exit(run.status);
  }
  close(out[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
  close(out[0]);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  *status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return text;
}

TEST(DoctorTest, TellsAMeterFromAnotherChipAndFromANodeItMayNotOpen) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the doctor as another user";
  UMockdevTestbed* testbed = umockdev_testbed_new();
  ASSERT_TRUE(umockdev_in_mock_environment()) << "run this test under umockdev-wrapper";
  sim::MeterConfig other;
  other.eeprom.description = "FT232R USB UART";
  other.eeprom.serial_number = "A50285BI";
  sim::MeterConfig locked;
  locked.eeprom.serial_number = "CD710009";
  auto meter = std::make_unique<test::FakeFt232r>(sim::MeterConfig());
  auto chip = std::make_unique<test::FakeFt232r>(other);
  auto denied = std::make_unique<test::FakeFt232r>(locked);
  std::string error;
  ASSERT_TRUE(meter->Plug(testbed, 2, &error) && chip->Plug(testbed, 3, &error) &&
              denied->Plug(testbed, 4, &error))
      << error;
  // The testbed is root's alone; open it to everyone but for the last node.
  gchar* root_dir = umockdev_testbed_get_root_dir(testbed);
  const fs::path root = root_dir;
  g_free(root_dir);
  chmod(root.c_str(), 0777);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    chmod(entry.path().c_str(), entry.is_directory() ? 0777 : 0666);
  }
  chmod((root / "dev/bus/usb/001/004").c_str(), 0600);

  int status = -1;
  const std::string out = DoctorAsNobody("libftdi", &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_NE(std::string::npos,
            out.find("\"SQ-71 Meter\" CD710001: a meter, answers as \"SQ-71 Meter\"\n"))
      << out;
  EXPECT_NE(std::string::npos,
            out.find("\"FT232R USB UART\" A50285BI: not a meter: its description is not"))
      << out;
  EXPECT_NE(std::string::npos, out.find("1-4: permission denied; ")) << out;
  // The meter's index is its place among the chips as libusb lists them.
  std::istringstream lines(out);
  std::string line;
  int listed = -1;
  int meter_at = -1;
  std::string last;
  while (std::getline(lines, line)) {
    last = line;
    if (line.rfind("  0403:6001", 0) == 0) ++listed;
    if (line.find(": a meter") != std::string::npos) meter_at = listed;
  }
  EXPECT_EQ("1 meter answers. Next: sq71 read --backend libftdi -d " + std::to_string(meter_at) +
                " downloads its log",
            last);
  g_object_unref(testbed);
}

}  // namespace
}  // namespace sq71
