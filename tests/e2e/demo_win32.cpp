// sq71demo: starts sq71log.exe on the stand-in driver and works it through a
// list of steps, for demonstrations and screenshots (tools/run.sh).
//
//   sq71demo [--hold FILE] [--scenario FILE] STEP...
//
// Steps, in order:
//   command=ID   post menu command ID to the main window
//   box=TEXT     wait (up to 2 minutes) for a box showing TEXT
//   press=ID     press button ID of the box on screen (1 OK, 6 Yes, 7 No)
// With --hold, once the steps are done it creates FILE and waits (up to 5
// minutes) until FILE is deleted, so a script can take its screenshot. Then
// it closes any box, exits the program and returns its exit code (1 when a
// step failed).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/e2e/harness_win32.h"

using namespace sq71::e2e;

namespace {

bool HoldUntilDeleted(const std::string& file) {
  HANDLE created = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created == INVALID_HANDLE_VALUE) return false;
  CloseHandle(created);
  std::printf("sq71demo: ready\n");
  std::fflush(stdout);
  return WaitUntil([&] { return GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES; },
                   5 * 60 * 1000);
}

}  // namespace

int main(int argc, char** argv) {
  std::string hold;
  LaunchOptions options;
  int first_step = 1;
  for (; first_step < argc; ++first_step) {
    const std::string arg = argv[first_step];
    if (arg == "--hold" && first_step + 1 < argc) {
      hold = argv[++first_step];
    } else if (arg == "--scenario" && first_step + 1 < argc) {
      options.scenario = argv[++first_step];
    } else {
      break;
    }
  }

  Program program;
  if (!program.Launch(options)) {
    std::fprintf(stderr, "sq71demo: %s\n", program.error().c_str());
    return 1;
  }
  HWND main = program.WaitMainWindow(2 * 60 * 1000);
  if (main == nullptr) {
    std::fprintf(stderr, "sq71demo: the main window did not appear\n");
    return 1;
  }
  bool ok = true;
  HWND box = nullptr;
  for (int i = first_step; ok && i < argc; ++i) {
    const std::string step = argv[i];
    const size_t eq = step.find('=');
    const std::string verb = step.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : step.substr(eq + 1);
    std::printf("sq71demo: %s\n", step.c_str());
    std::fflush(stdout);
    if (verb == "command") {
      PostCommand(main, std::atoi(value.c_str()));
    } else if (verb == "box") {
      ok = WaitUntil(
          [&] {
            box = program.FindBox();
            return box != nullptr && BoxText(box) == value;
          },
          2 * 60 * 1000);
    } else if (verb == "press") {
      ok = box != nullptr && PressButton(box, std::atoi(value.c_str()));
      box = nullptr;
    } else {
      std::fprintf(stderr, "sq71demo: unknown step %s\n", step.c_str());
      ok = false;
    }
    if (!ok) std::fprintf(stderr, "sq71demo: step failed: %s\n", step.c_str());
  }
  if (!hold.empty() && !HoldUntilDeleted(hold)) ok = false;

  for (int i = 0; i < 5 && (box = program.FindBox()) != nullptr; ++i) {
    PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
    WaitUntil([&] { return !IsWindowVisible(box); });
  }
  PostCommand(main, 32771);
  const long code = program.WaitExit();
  std::printf("sq71demo: program ended with exit code %ld\n", code);
  return ok && code == 0 ? 0 : 1;
}
