#include "bench/hardware_bus.h"

#include "drivers/libftdi_driver.h"

std::unique_ptr<FtDriver> MakeHardwareBus() {
  return std::make_unique<LibFtdiDriver>();
}
