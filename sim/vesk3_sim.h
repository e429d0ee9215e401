// Everything of the simulated hand controller in one include (the vesk3_sim
// library): the device, its firmware user interface and pixel encoder, the
// simulated bridge, the clocks and the platform on them, and the whole setup.
#pragma once

#include "sim/firmware_ui.h"
#include "sim/hand_controller.h"
#include "sim/pixel_encoder.h"
#include "sim/sim_bridge.h"
#include "sim/sim_clock.h"
#include "sim/sim_platform.h"
#include "sim/simulated_setup.h"
