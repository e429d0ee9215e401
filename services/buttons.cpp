#include "services/buttons.h"

#include "link/usb_device.h"
#include "platform/platform.h"
#include "protocol/answer_frame.h"
#include "protocol/command_frame.h"
#include "protocol/link_startup.h"

namespace {

constexpr uint32_t kEscLineHigh = kCbusEscLine;
constexpr uint32_t kEscLineLow = 0x0;
constexpr const char* kButtonEventLabel = "VK3cmd_InsertButtonEvent()";

struct KeyBinding {
  uint32_t virtualKey;
  int deviceKey;
};

constexpr KeyBinding kKeyTable[] = {
    {0x1B, kKeyEsc},   {0x0D, kKeyEnter}, {0x25, kKeyLeft},
    {0x27, kKeyRight}, {0x26, kKeyUp},    {0x28, kKeyDown},
};

}  // namespace

int DeviceKeyForVirtualKey(uint32_t virtualKey) {
  for (const KeyBinding& binding : kKeyTable) {
    if (binding.virtualKey == virtualKey) return binding.deviceKey;
  }
  return -1;
}

uint8_t ButtonParamId(int32_t code) {
  uint8_t id = kButtonParamBase | static_cast<uint8_t>(code & kButtonKeyBits);
  if (code >= kButtonRelease) id |= kButtonParamRelease;
  return id;
}

int32_t VK3cmd_InsertButtonEvent(PanelUi& ui, int32_t code) {
  if (ui.CurrentPanelState() != Connected) return -1;
  VK3cmd_Begin(kCmdButtonEvent);
  VK3cmd_AddParam(ButtonParamId(code), nullptr, 0);
  ResultCode r = VK3cmd_Send();
  if (r == kResultOk) r = VK3cmd_Receive();
  if (r == kResultOk || r == kResultDeviceBusy) return 0;
  if (r == kResultPoweredOff || r == kResultSystemChange) {
    ui.ShowDeviceNotification(r);
  } else {
    ui.ShowCommandError(kButtonEventLabel, r);
  }
  return 1;
}

ResultCode PushEsc() {
  if (!theUsbDevice.IsOpen()) {
    ResultCode r = theUsbDevice.Open();
    if (r != kResultOk) return r;
  }
  ResultCode r = theUsbDevice.SetBitOutput(kEscLineHigh);
  if (r != kResultOk) return r;
  ThePlatform().Sleep(kEscPulseMs);
  return theUsbDevice.SetBitOutput(kEscLineLow);
}
