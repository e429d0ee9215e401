// The whole simulated demo device in one object, for the programs and tests.
//
// Owns: a clock (virtual, or real for the programs), the platform seam on it,
// one hand controller and the bus: bridge 0 an FT232R "USB <-> Serial
// Converter" with nothing attached, bridge 1 the "Vesk-3 HandController".
// In real time the bytes take their wire time; in virtual time they do not.
// Does not own: installing them; the caller does
//   SimulatedSetup sim(realTime); ProgramScope program(sim.bridge, sim.platform);
// so that the link ends before sim goes away.
#pragma once

#include <cstddef>

#include "sim/hand_controller.h"
#include "sim/sim_bridge.h"
#include "sim/sim_clock.h"
#include "sim/sim_platform.h"

constexpr const char* kOtherBridgeDescription = "USB <-> Serial Converter";
constexpr const char* kOtherBridgeSerial = "A10K3XQ2";
constexpr const char* kHandControllerSerial = "VK30A1B2";

struct SimulatedSetup {
  explicit SimulatedSetup(bool realTime = false, HandControllerOptions options = {});

  VirtualClock virtualClock;
  RealClock realClock;
  SimClock& clock;
  SimPlatform platform;
  HandController controller;
  SimBridge bridge;
  size_t otherBridge = 0;
  size_t controllerBridge = 0;
};
