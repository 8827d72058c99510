// The meter commands of sq71: read, erase and devices. They run the same
// transfer engine, erase and device listing as the program's Read, Erase Log
// and Version, over the backend the DEVICE options choose.
#ifndef SQ71_CLI_METER_COMMANDS_H
#define SQ71_CLI_METER_COMMANDS_H

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

}  // namespace sq71

#endif
