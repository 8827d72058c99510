// Starts an installed sq71log.exe the way a user without the driver library
// first meets it, for the packaging check: it must show message 8 as an
// information box and, once the box is answered, end with exit code 0. The
// installer puts no driver beside the program, so this also shows that the
// stand-in was not packaged.
//
// usage: check_installed_start PATH\sq71log.exe
// Exit code 0 when everything holds; otherwise 1, with the reasons on stderr.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/e2e/harness_win32.h"
#include "ui/message_catalogue.h"

using namespace sq71::e2e;

namespace {

int failures = 0;

void Check(bool holds, const std::string& what) {
  if (holds) return;
  std::fprintf(stderr, "check_installed_start: %s\n", what.c_str());
  ++failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: check_installed_start PATH\\sq71log.exe\n");
    return 2;
  }
  Program program;
  LaunchOptions options;
  options.program = argv[1];
  options.with_driver = false;
  if (!program.Launch(options)) {
    Check(false, "cannot start " + std::string(argv[1]) + ": " + program.error());
    return 1;
  }
  HWND box = program.WaitBox();
  if (box == nullptr) {
    Check(false, "no box titled \"" + std::string(kCaption) + "\" appeared");
    return 1;
  }
  const std::string text = BoxText(box);
  Check(text == sq71::MessageText(sq71::kMsgNoDriver), "the box says \"" + text + "\"");
  BoxIcon icon = BoxIcon::kNone;
  WaitUntil([&] { return (icon = IdentifyBoxIcon(box)) == BoxIcon::kInformation; }, 3000);
  Check(icon == BoxIcon::kInformation,
        std::string("the box shows the ") + BoxIconName(icon) + " icon, not information");
  Check(PressButton(box, IDOK), "the box has no OK button");
  const long code = program.WaitExit();
  Check(code == 0, "the program ended with exit code " + std::to_string(code));
  return failures == 0 ? 0 : 1;
}
