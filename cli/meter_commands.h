// The meter commands of sq71: read, erase and devices. They run the same
// transfer engine, erase and device listing as the program's Read, Erase Log
// and Version, over the backend the DEVICE options choose.
#ifndef SQ71_CLI_METER_COMMANDS_H
#define SQ71_CLI_METER_COMMANDS_H

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/sq71_cli.h"

namespace sq71 {

// Each takes the command's arguments after its name and returns the exit
// status; usage errors are reported in the tool's usual one-line form.
int RunReadCommand(const std::vector<std::string>& args, CommandIo& io);
int RunEraseCommand(const std::vector<std::string>& args, CommandIo& io);
int RunDevicesCommand(const std::vector<std::string>& args, CommandIo& io);
int RunDoctorCommand(const std::vector<std::string>& args, CommandIo& io);

class Driver;

// What may stand in for the backend the DEVICE options choose and for
// Ctrl-C: a driver object of the caller's (the DEVICE options still choose
// the device index) and a query that says when to stop.
struct ReadSeams {
  Driver* driver = nullptr;        // null: the chosen backend
  std::function<bool()> stop;      // empty: Ctrl-C (SIGINT, SIGTERM)
};
int RunReadCommand(const std::vector<std::string>& args, CommandIo& io, const ReadSeams& seams);

}  // namespace sq71

#endif
