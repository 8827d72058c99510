// sq71 doctor: what each backend built in sees (FTDI chips on USB, serial
// ports, FTDI's own library), which device answers as a meter, why each
// other one does not, and one line saying what to do next.
#ifndef SQ71_CLI_DOCTOR_H
#define SQ71_CLI_DOCTOR_H

#include <iosfwd>

#include "cli/backend_select.h"
#include "usb/tracing_driver.h"

namespace sq71 {

// Looks at the backends the choice allows (all of them when it names none;
// with -d only that device of each). Every driver call goes to `trace` when
// given. Returns 0 when at least one meter answered the identify request,
// 1 otherwise.
int RunDoctor(const DeviceChoice& choice, TraceSink* trace, std::ostream& out);

}  // namespace sq71

#endif
