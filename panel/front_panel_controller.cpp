#include "panel/front_panel_controller.h"

#include <cstdio>
#include <string>

#include "link/usb_device.h"
#include "protocol/link_startup.h"
#include "services/buttons.h"
#include "services/colors.h"
#include "services/device_info.h"
#include "services/display_frame.h"

namespace {

// printf-style formatting into a string of any length.
template <typename... Args>
std::string Format(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.resize(static_cast<size_t>(length));
  return text;
}

// ResultText may hand out a shared buffer: copy it before anything else runs.
std::string TextOf(ResultCode code) {
  return std::string(ResultText(code));
}

bool IsDelivered(ResultCode code) {
  return code == kResultOk || code == kResultDeviceBusy;
}
bool IsNotification(ResultCode code) {
  return code == kResultPoweredOff || code == kResultSystemChange;
}

}  // namespace

void FrontPanelController::Start() {
  VK3cmd_Init();
  SetPanelState(NoDevice);
}

void FrontPanelController::ApplyLook(const char* caption, bool pressed, const char* status,
                                     bool enabled) {
  view_.SetConnectPressed(pressed);
  view_.SetConnectCaption(caption);
  view_.SetStatusText(status);
  view_.SetButtonEnabled(PanelButton::Connect, enabled);
  view_.SetButtonEnabled(PanelButton::PushEsc, enabled);
  view_.SetButtonEnabled(PanelButton::DeviceInfo, enabled);
}

void FrontPanelController::SetPanelState(PanelState state) {
  if (state == Connected) {
    ApplyLook(kCaptionDisconnect, true, kStatusActive, true);
    view_.StopTimer(TIMER_POLL);
    view_.StartTimer(TIMER_DISPLAY, kDisplayPeriodMs);
    fullRefresh = true;
    m_panelState = Connected;
    TellFollower();
    return;
  }
  const bool available = state == DeviceAvailable;
  ApplyLook(available ? kCaptionConnect : kCaptionUnavailable, false,
            available ? kStatusAvailable : "", available);
  view_.StopTimer(TIMER_DISPLAY);
  view_.StartTimer(TIMER_POLL, kPollPeriodMs);
  m_panelState = available ? DeviceAvailable : NoDevice;
  TellFollower();
}

void FrontPanelController::TellFollower() {
  if (follower_ != nullptr) follower_->OnPanelStateChanged(m_panelState);
}

void FrontPanelController::OnTimer(int id) {
  if (id == TIMER_POLL) {
    PollPresence();
  } else if (id == TIMER_DISPLAY) {
    VK3cmd_UpdateDisplay();
  }
}

void FrontPanelController::PollPresence() {
  if (m_panelState == NoDevice) {
    if (theUsbDevice.Poll() >= 0) SetPanelState(DeviceAvailable);
  } else if (m_panelState == DeviceAvailable) {
    if (theUsbDevice.Poll() < 0) SetPanelState(NoDevice);
  }
}

void FrontPanelController::OnConnect() {
  if (m_panelState == DeviceAvailable) {
    ConnectToDevice();
  } else if (m_panelState == Connected) {
    Disconnect();
  }
}

void FrontPanelController::ConnectToDevice() {
  // The mode query is the probe; only its result counts.
  int32_t bootMode = 0;
  uint16_t version1 = 0;
  uint16_t version2 = 0;
  const ResultCode result = VK3cmd_GetMode(&bootMode, &version1, &version2);
  if (result == kResultOk) {
    SetPanelState(Connected);
    return;
  }
  // The box comes first, while the panel is still DeviceAvailable.
  view_.ShowBox(Format(kConnectFailedFormat, result, TextOf(result).c_str()), kCaptionError,
                BoxIcon::Error);
  SetPanelState(NoDevice);
}

void FrontPanelController::Disconnect() {
  const int32_t result = theUsbDevice.Close();
  if (result == 0) {
    SetPanelState(NoDevice);
    return;
  }
  // The box comes first, while the panel is still Connected and refreshing.
  const std::string code = std::to_string(result);
  view_.ShowBox(Format(kDisconnectFailedFormat, code.c_str(), TextOf(result).c_str()),
                kCaptionError, BoxIcon::Error);
  SetPanelState(NoDevice);
}

void FrontPanelController::VK3cmd_UpdateDisplay() {
  if (m_panelState != Connected) return;
  const ResultCode result = VK3cmd_GetDisplayFrame(fullRefresh);
  if (IsNotification(result)) {
    ShowDeviceNotification(result);
    return;
  }
  if (!IsDelivered(result)) {
    ShowCommandError(kUpdateDisplayLabel, result);
    return;
  }
  // A busy notice in place of the answer decoded nothing: a whole display
  // still owed stays owed, and the view is redrawn from the unchanged buffer.
  if (result == kResultOk) fullRefresh = false;
  view_.ShowFrame();
  if (follower_ != nullptr) follower_->OnFrameShown();
}

void FrontPanelController::ShowCommandError(const char* label, ResultCode code) {
  SetPanelState(NoDevice);
  view_.ShowBox(Format(kCommandErrorFormat, label, code, TextOf(code).c_str()), "", BoxIcon::None);
}

void FrontPanelController::ShowDeviceNotification(ResultCode code) {
  SetPanelState(NoDevice);
  if (code == kResultPoweredOff) {
    view_.ShowBox(kPoweredOffText, kCaptionNotification, BoxIcon::Information);
  } else {
    view_.ShowBox(kSystemChangeText, kCaptionNotification, BoxIcon::Error);
  }
}

void FrontPanelController::ShowMessage(const std::string& text, const std::string& caption,
                                       BoxIcon icon) {
  view_.ShowBox(text, caption, icon);
}

void FrontPanelController::OnScreenshot() {
  if (!view_.OpenClipboard()) {
    view_.ShowBox(kClipboardOpenFailed, "", BoxIcon::Warning);
    return;
  }
  // The boxes of the later steps show while the clipboard is still open.
  if (!view_.EmptyClipboard()) {
    view_.ShowBox(kClipboardEmptyFailed, "", BoxIcon::Warning);
    view_.CloseClipboard();
    return;
  }
  int lastError = 0;
  if (!view_.SetClipboardImage(&lastError)) {
    view_.ShowBox(Format(kClipboardSetFailedFormat, lastError), "", BoxIcon::Warning);
  }
  view_.CloseClipboard();
}

void FrontPanelController::OnPushEsc() {
  (void)PushEsc();
}

void FrontPanelController::OnDeviceInfo() {
  if (m_panelState == Connected) ShowDeviceInfo(*this);
}

void FrontPanelController::OnColorSelectionChanged() {
  ReadColorEntry(*this, currentColor);
}

void FrontPanelController::OnChangeColor() {
  ChangeColorEntry(*this, currentColor);
}

bool FrontPanelController::TranslateKey(KeyTransition transition, uint32_t virtualKey,
                                        KeyChord chord) {
  if (m_panelState != Connected) return false;
  const int key = DeviceKeyForVirtualKey(virtualKey);
  if (key < 0) return false;
  const uint32_t bit = 1u << key;
  const bool deviceHasIt = (keysDown_ & bit) != 0;
  if (chord == KeyChord::WithAlt && (transition == KeyTransition::Press || !deviceHasIt)) {
    return false;
  }
  // A repeated release is half of an auto-repeat: the repeat's press is the event.
  if (transition == KeyTransition::RepeatRelease) return true;
  const bool release = transition == KeyTransition::Release;
  keysDown_ = release ? keysDown_ & ~bit : keysDown_ | bit;
  (void)VK3cmd_InsertButtonEvent(*this, (release ? kButtonRelease : 0) + key);
  return true;
}

int FrontPanelController::ColorSelection() const {
  return view_.ColorSelection();
}

void FrontPanelController::SetColorLabel(const std::string& text) {
  view_.SetColorLabel(text);
}

bool FrontPanelController::PickColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t* chosenRed,
                                     uint8_t* chosenGreen, uint8_t* chosenBlue) {
  return view_.PickColor(red, green, blue, chosenRed, chosenGreen, chosenBlue);
}
