#include "cli/permission_hint.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace sq71 {
namespace {

constexpr char kRuleName[] = "60-sq71-meter.rules";
constexpr char kReload[] =
    "sudo udevadm control --reload-rules && sudo udevadm trigger, then plug the meter in again";

bool SaysDenied(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text.find("permission denied") != std::string::npos;
}

}  // namespace

PermissionFacts LookUpPermissionFacts() {
  PermissionFacts facts;
#if defined(__linux__)
  facts.udev = true;
  std::error_code error;
  for (const char* dir : {"/etc/udev/rules.d/", "/usr/lib/udev/rules.d/"}) {
    const std::string path = std::string(dir) + kRuleName;
    if (facts.installed_rule.empty() && std::filesystem::exists(path, error)) {
      facts.installed_rule = path;
    }
  }
#if defined(SQ71_SOURCE_DIR)
  const std::string copy = std::string(SQ71_SOURCE_DIR) + "/packaging/udev/" + kRuleName;
  if (std::filesystem::exists(copy, error)) facts.rule_copy = copy;
#endif
  for (const char* name : {"SSH_CONNECTION", "SSH_TTY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') facts.remote = true;
  }
#endif
  return facts;
}

std::string PermissionHint(bool serial_port, const std::string& said,
                           const PermissionFacts& facts) {
  std::string hint = SaysDenied(said) ? "" : "permission denied";
  if (!facts.udev) return hint.empty() ? "ask the administrator for access to the device" : hint;
  if (!hint.empty()) hint += "; ";
  if (!facts.installed_rule.empty()) {
    hint += std::string("the udev rule is installed (") + facts.installed_rule + "): " + kReload;
  } else if (!facts.rule_copy.empty()) {
    hint += "install the udev rule: sudo install -m 644 " + facts.rule_copy +
            " /etc/udev/rules.d/ && " + kReload;
  } else {
    hint += std::string("install the sq71 package, which brings the udev rule ") + kRuleName +
            ", then plug the meter in again";
  }
  if (facts.remote) {
    hint += serial_port ? "; over SSH the rule does not apply: join the dialout group "
                          "(sudo usermod -aG dialout $USER, then log in again)"
                        : "; over SSH the rule grants access to the plugdev group only: join it "
                          "(sudo usermod -aG plugdev $USER, then log in again)";
  } else if (serial_port) {
    hint += " (or join the dialout group)";
  }
  return hint;
}

std::string PermissionHint(bool serial_port, const std::string& said) {
  return PermissionHint(serial_port, said, LookUpPermissionFacts());
}

}  // namespace sq71
