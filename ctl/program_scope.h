// The program state for one run of vesk3ctl: driver and platform installed,
// the link, command channel and display copy at their start state; at the end
// the link closed and the built-in defaults back.
//
// Owns: nothing beyond the run's scope. Does not own: the driver or platform.
#pragma once

#include "link/ft_driver.h"
#include "link/usb_device.h"
#include "platform/platform.h"
#include "protocol/command_channel.h"
#include "protocol/link_startup.h"
#include "services/display_frame.h"

inline void ResetProgramState() {
  theUsbDevice.Reset();
  theChannel.Reset();
  ResetDisplayState();
  VK3cmd_Init();
}

class ProgramScope {
 public:
  ProgramScope(FtDriver& driver, Platform& platform) {
    UseDriver(driver);
    UsePlatform(platform);
    ResetProgramState();
  }
  ~ProgramScope() {
    EndLink();
    static RealPlatform defaultPlatform;
    UsePlatform(defaultPlatform);
  }
  ProgramScope(const ProgramScope&) = delete;
  ProgramScope& operator=(const ProgramScope&) = delete;
};
