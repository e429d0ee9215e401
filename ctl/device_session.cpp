#include "ctl/device_session.h"

#include <cstdio>

#include "link/usb_device.h"
#include "protocol/link_startup.h"
#include "services/buttons.h"
#include "services/display_frame.h"
#include "services/panel_ui.h"

namespace {

// The texts the window shows for the two notifications that end its session.
constexpr const char* kPoweredOffText = "Vesk-3 has been powered off";
constexpr const char* kSystemChangeText = "Vesk-3 reported an unknown system change error";

// The button service reports through a PanelUi; the session only needs the code.
class ResultUi final : public PanelUi {
 public:
  PanelState CurrentPanelState() const override { return Connected; }
  void ShowDeviceNotification(ResultCode code) override { result = code; }
  void ShowCommandError(const char* /*label*/, ResultCode code) override { result = code; }
  void ShowMessage(const std::string&, const std::string&, BoxIcon) override {}
  int ColorSelection() const override { return -1; }
  void SetColorLabel(const std::string&) override {}
  bool PickColor(uint8_t, uint8_t, uint8_t, uint8_t*, uint8_t*, uint8_t*) override { return false; }
  ResultCode result = kResultOk;
};

}  // namespace

ResultCode DeviceSession::WaitingOutSystemChanges(const std::function<ResultCode()>& exchange) {
  ResultCode r = exchange();
  for (int retry = 0; r == kResultSystemChange && retry < kSystemChangeRetries; ++retry) {
    console_.Note(std::string(kSystemChangeText) + "; waiting for it to settle");
    r = exchange();
  }
  return r;
}

ResultCode DeviceSession::Connect() {
  return WaitingOutSystemChanges([] { return VK3cmd_EnsureOpen(); });
}

ResultCode DeviceSession::ReadInfo(DeviceInfo* info) {
  return WaitingOutSystemChanges([info] {
    *info = DeviceInfo{};
    return VK3cmd_GetDeviceInfo(info);
  });
}

ResultCode DeviceSession::ReadWholeFrame() {
  // A busy device answers with a notification: the next request, after the
  // hold-off, gets the frame.
  return WaitingOutSystemChanges([this] {
    ResultCode r = VK3cmd_GetDisplayFrame(true);
    for (int retry = 0; r == kResultDeviceBusy && retry < kBusyRetries; ++retry) {
      console_.Note("the device is busy; waiting for it");
      r = VK3cmd_GetDisplayFrame(true);
    }
    return r;
  });
}

ResultCode DeviceSession::Refresh(bool* refreshed) {
  *refreshed = false;
  const ResultCode r =
      WaitingOutSystemChanges([this] { return VK3cmd_GetDisplayFrame(!wholeFrameShown_); });
  if (r == kResultOk) {
    wholeFrameShown_ = true;
    *refreshed = true;
    return r;
  }
  return r == kResultDeviceBusy ? kResultOk : r;
}

ResultCode DeviceSession::Button(int32_t code) {
  return WaitingOutSystemChanges([code] {
    ResultUi ui;
    (void)VK3cmd_InsertButtonEvent(ui, code);
    return ui.result;
  });
}

ResultCode DeviceSession::PushEscLine() {
  return PushEsc();
}

SessionFailure DeviceSession::Failure(ResultCode code) const {
  SessionFailure failure;
  failure.code = code;
  if (code == kResultPoweredOff) {
    failure.text = kPoweredOffText;
  } else if (code == kResultSystemChange) {
    failure.text = kSystemChangeText;
  } else {
    char line[160];
    std::snprintf(line, sizeof line, "Error (%d): %s", code, ResultText(code));
    failure.text = line;
  }
  failure.detail = theUsbDevice.errorText;
  if (code == kResultCannotOpen && hint_) failure.hint = hint_();
  return failure;
}

void ReportFailure(const Console& console, const SessionFailure& failure) {
  console.Error(failure.text);
  if (!failure.detail.empty()) console.Error(failure.detail);
  if (!failure.hint.empty()) console.Error(failure.hint);
}
