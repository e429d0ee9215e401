#include "services/program_state.h"

#include "link/ft_driver.h"
#include "link/usb_device.h"
#include "platform/platform.h"
#include "protocol/command_channel.h"
#include "services/display_frame.h"

void ResetProgramState() {
  theUsbDevice.Reset();
  theChannel.Reset();
  ResetDisplayState();
}

ProgramScope::ProgramScope(FtDriver& driver, Platform& platform) {
  ResetProgramState();
  UseDriver(driver);
  UsePlatform(platform);
}

ProgramScope::~ProgramScope() {
  EndLink();
  UseRealPlatform();
}
