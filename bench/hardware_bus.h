// The hardware backend for the poll benchmark, behind a plain FtDriver, so
// the benchmark needs none of the backend's own declarations.
//
// Owns: making the libftdi1 driver. Does not own: the driver itself (drivers/).
#pragma once

#include <memory>

#include "link/ft_driver.h"

std::unique_ptr<FtDriver> MakeHardwareBus();
