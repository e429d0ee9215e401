// vesk3ctl: the hand controller's screen and keys from the command line, on
// the libftdi1 backend or (--sim) the simulated hand controller in real time.
#include <unistd.h>

#include <iostream>
#include <memory>

#include "ctl/commands.h"
#include "ctl/interrupt.h"
#include "drivers/libftdi_driver.h"
#include "sim/simulated_setup.h"

int main(int argc, char** argv) {
  InstallInterruptHandlers();
  std::unique_ptr<SimulatedSetup> sim;
  std::unique_ptr<LibFtdiDriver> ftdi;
  RealPlatform platform;
  auto choose = [&](bool simulated) {
    Backend backend;
    if (simulated) {
      sim = std::make_unique<SimulatedSetup>(/*realTime=*/true);
      backend.driver = &sim->bridge;
      backend.platform = &sim->platform;
    } else {
      ftdi = std::make_unique<LibFtdiDriver>();
      backend.driver = ftdi.get();
      backend.platform = &platform;
      LibFtdiDriver* driver = ftdi.get();
      backend.openFailureHint = [driver] { return driver->OpenFailureInPlainWords(); };
    }
    return backend;
  };
  const std::vector<std::string> args(argv + 1, argv + argc);
  return RunVesk3ctl(args, choose, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
