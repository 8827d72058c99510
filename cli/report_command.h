// sq71 report and sq71 view --json: the installation report and the JSON form
// of a log's entries.
#ifndef SQ71_CLI_REPORT_COMMAND_H
#define SQ71_CLI_REPORT_COMMAND_H

#include <string>
#include <vector>

#include "cli/meter_commands.h"

namespace sq71 {

// "report LOG.ulg [-o OUT.html] [job options] [--summary-only] [--good DB] [--marginal DB]"
int RunReportCommand(const std::vector<std::string>& args, CommandIo& io);

// "view --json [--good DB] [--marginal DB] LOG.ulg": the entries as one JSON
// array on standard output.
int RunViewJson(const std::vector<std::string>& args, CommandIo& io);

}  // namespace sq71

#endif
