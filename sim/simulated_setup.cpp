#include "sim/simulated_setup.h"

#include "link/usb_device.h"

SimulatedSetup::SimulatedSetup(bool realTime, HandControllerOptions options)
    : clock(realTime ? static_cast<SimClock&>(realClock) : static_cast<SimClock&>(virtualClock)),
      platform(clock),
      controller(std::move(options)),
      bridge(clock) {
  bridge.SetWireTiming(realTime);
  SimBridgeInfo other;
  other.id = kOtherBridgeId;
  other.type = 5;  // FT232R
  other.description = kOtherBridgeDescription;
  other.serial = kOtherBridgeSerial;
  other.locId = 0x111;
  otherBridge = bridge.AddBridge(other);

  SimBridgeInfo hand;
  hand.id = kHandControllerBridgeId;
  hand.description = kHandControllerDescription;
  hand.serial = kHandControllerSerial;
  hand.locId = 0x112;
  hand.device = &controller;
  controllerBridge = bridge.AddBridge(hand);
}
