// vesk3ctl's commands, from the parsed command line to the exit status.
//
// Owns: running each command on the session (list, info, screenshot, press,
// push-esc, record, watch, expect), what each prints, the exit statuses, the
// note about several attached hand controllers, and the program state of one
// run (ProgramScope). Does not own: choosing the backend (the program's main
// passes a BackendChooser) or the signal handlers (interrupt).
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ctl/device_session.h"
#include "link/ft_driver.h"
#include "platform/platform.h"

struct Backend {
  FtDriver* driver = nullptr;
  Platform* platform = nullptr;
  OpenFailureHint openFailureHint;
};

// The backend for --sim (true) or the real bridges (false).
using BackendChooser = std::function<Backend(bool sim)>;

int RunVesk3ctl(const std::vector<std::string>& args, const BackendChooser& chooseBackend,
                std::ostream& out, std::ostream& err, bool errIsTerminal);

// The JSON object of `info --json`.
std::string DeviceInfoJson(const DeviceInfo& info);
