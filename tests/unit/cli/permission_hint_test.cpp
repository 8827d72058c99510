// The one permission hint every command gives: the advice fits what is
// installed and where the user sits, and the denial is said once.
#include "cli/permission_hint.h"

#include <gtest/gtest.h>

#include <string>

namespace sq71 {
namespace {

TEST(PermissionHintTest, AdviceFitsTheMachineAndSaysTheDenialOnce) {
  const PermissionFacts installed{true, "/usr/lib/udev/rules.d/60-sq71-meter.rules", "", false};
  const PermissionFacts source{true, "", "/src/packaging/udev/60-sq71-meter.rules", false};
  const PermissionFacts remote{true, "/etc/udev/rules.d/60-sq71-meter.rules", "", true};
  const struct {
    PermissionFacts facts;
    bool serial;
    const char* said;
    const char* hint;
  } cases[] = {
      {installed, false, "",
       "permission denied; the udev rule is installed "
       "(/usr/lib/udev/rules.d/60-sq71-meter.rules): sudo udevadm control --reload-rules && "
       "sudo udevadm trigger, then plug the meter in again"},
      {source, false, "LIBUSB_ERROR_ACCESS: Permission denied",
       "install the udev rule: sudo install -m 644 /src/packaging/udev/60-sq71-meter.rules "
       "/etc/udev/rules.d/ && sudo udevadm control --reload-rules && sudo udevadm trigger, "
       "then plug the meter in again"},
      {remote, false, "",
       "permission denied; the udev rule is installed (/etc/udev/rules.d/60-sq71-meter.rules): "
       "sudo udevadm control --reload-rules && sudo udevadm trigger, then plug the meter in "
       "again; over SSH the rule grants access to the plugdev group only: join it (sudo "
       "usermod -aG plugdev $USER, then log in again)"},
      {remote, true, "",
       "permission denied; the udev rule is installed (/etc/udev/rules.d/60-sq71-meter.rules): "
       "sudo udevadm control --reload-rules && sudo udevadm trigger, then plug the meter in "
       "again; over SSH the rule does not apply: join the dialout group (sudo usermod -aG "
       "dialout $USER, then log in again)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.hint, PermissionHint(c.serial, c.said, c.facts));
}

}  // namespace
}  // namespace sq71
