// The simulated hand controller behind an emulated FT230X chip.
//
// Owns: the adapter from the chip's SerialDevice calls to the HandController,
// and its answers to the tests' questions ("commands", "buttons", "cbus",
// "awake", "garbled", "frames", "screen"). Does not own: the device's behaviour (sim/).
#pragma once

#include <memory>

#include "tests/hardware/ft230x_chip.h"

std::unique_ptr<SerialDevice> MakeVesk3SerialDevice();
