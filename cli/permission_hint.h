// What to tell a user whom the system does not let open the meter: one
// helper for every command (read, erase, devices, doctor), so the advice is
// the same everywhere and fits what is installed on this machine.
#ifndef SQ71_CLI_PERMISSION_HINT_H
#define SQ71_CLI_PERMISSION_HINT_H

#include <string>

namespace sq71 {

// What the advice depends on.
struct PermissionFacts {
  bool udev = false;            // a system with udev rules (Linux)
  std::string installed_rule;   // the meter's rule where udev reads it; "" when absent
  std::string rule_copy;        // a copy of the rule to install; "" when none is known
  bool remote = false;          // not at the machine's seat (over SSH): uaccess does not apply
};

// This machine's facts: the rule in /usr/lib/udev/rules.d or
// /etc/udev/rules.d, the copy in the source tree the program was built from,
// SSH_CONNECTION or SSH_TTY in the environment.
PermissionFacts LookUpPermissionFacts();

// "permission denied; " and what to do, in one phrase. `said` is what the
// message already tells of the cause: when it names the denial, the advice
// alone comes back, so no message says it twice. A serial port (the tty
// backend) gets the serial port's group instead of the USB one.
std::string PermissionHint(bool serial_port, const std::string& said,
                           const PermissionFacts& facts);
std::string PermissionHint(bool serial_port, const std::string& said = std::string());

}  // namespace sq71

#endif
