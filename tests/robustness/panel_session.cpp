#include "tests/robustness/panel_session.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <numeric>

#include "link/usb_device.h"
#include "protocol/command_channel.h"
#include "protocol/result_codes.h"
#include "services/display_frame.h"

namespace {

constexpr uint64_t kMomentMs = 120;  // between two clicks or keys of the user
// A step is at most four exchanges (Device Info); each may pay one hold-off
// (4 s and its beep) and run into a few 1 s driver timeouts.
constexpr uint64_t kStepVirtualMsMax = 30000;
constexpr uint64_t kTimeoutSlackUs = 1000;  // the bridge's clock rounds up to whole microseconds
constexpr int kRecoveryPollsMax = 8;
constexpr int kReportedCodeMax = 255;  // codes a box may name (the table's and the notifications)

constexpr const char* kReportCaption = "Vesk-3 device info";
constexpr const char* kReportStart = "FTDI info:\n  Serial: ";
constexpr const char* kButtonEventLabel = "VK3cmd_InsertButtonEvent()";

std::string Str(const char* text) {
  return text;
}

std::string ConnectFailedText(int code) {
  return "Can't connect to Vesk-3...\n\nError (" + std::to_string(code) + "): " + ResultText(code);
}
std::string CommandErrorText(const char* label, int code) {
  return Str(label) + " returned (" + std::to_string(code) + "):\n\n" + ResultText(code);
}

// The code a box text names after `marker`, or -1000 when there is none.
int CodeAfter(const std::string& text, const std::string& marker) {
  const size_t at = text.find(marker);
  if (at == std::string::npos) return -1000;
  return std::atoi(text.c_str() + at + marker.size());
}

bool IsConnectFailedBox(const SeenBox& box) {
  const int code = CodeAfter(box.text, "Error (");
  return code != 0 && box.text == ConnectFailedText(code) && box.caption == "ERROR" &&
         box.icon == BoxIcon::Error && box.stateWhileOpen == DeviceAvailable;
}

bool IsDisconnectFailedBox(const SeenBox& box) {
  return box.text == "Error while disconnecting...\n\nError (9): Error in communication (FT230)" &&
         box.caption == "ERROR" && box.icon == BoxIcon::Error && box.stateWhileOpen == Connected;
}

// The box of a failed display refresh or button event: the failure box with
// the application title and no icon, or one of the two notification boxes;
// the panel is already NoDevice while it is open.
bool IsCommandFailedBox(const SeenBox& box, const char* label) {
  if (box.stateWhileOpen != NoDevice) return false;
  if (box.caption == kCaptionNotification) {
    return (box.text == kPoweredOffText && box.icon == BoxIcon::Information) ||
           (box.text == kSystemChangeText && box.icon == BoxIcon::Error);
  }
  const int code = CodeAfter(box.text, " returned (");
  return code != 0 && code != kResultDeviceBusy && box.text == CommandErrorText(label, code) &&
         box.caption.empty() && box.icon == BoxIcon::None;
}

bool IsDeviceInfoBox(const SeenBox& box) {
  if (box.caption == kReportCaption) {
    return box.text.rfind(kReportStart, 0) == 0 && box.icon == BoxIcon::None;
  }
  if (box.caption != "ERROR" || box.icon != BoxIcon::Error) return false;
  for (int code = 1; code <= kReportedCodeMax; ++code) {
    if (box.text == Str("Error: ") + ResultText(code)) return true;
  }
  return false;
}

// Empty when the window shows what the state must show.
std::string LookProblem(const SessionView& view, PanelState state) {
  struct Look {
    const char* caption;
    bool pressed;
    const char* status;
    bool enabled;
    bool poll;
  };
  static const Look kLooks[] = {
      {kCaptionUnavailable, false, "", false, true},
      {kCaptionConnect, false, kStatusAvailable, true, true},
      {kCaptionDisconnect, true, kStatusActive, true, false},
  };
  const Look& look = kLooks[state];
  const bool enabledAsLook =
      std::all_of(std::begin(view.buttonEnabled), std::end(view.buttonEnabled),
                  [&](bool enabled) { return enabled == look.enabled; });
  if (view.connectCaption != look.caption || view.connectPressed != look.pressed ||
      view.statusText != look.status || !enabledAsLook || view.pollRuns != look.poll ||
      view.displayRuns == look.poll) {
    return "the window does not show the look of state " + std::to_string(state) + " (caption '" +
           view.connectCaption + "', status '" + view.statusText + "')";
  }
  return "";
}

std::string Describe(const std::vector<SeenBox>& boxes) {
  std::string out;
  for (const SeenBox& box : boxes) {
    out += " [box '" + box.text + "' caption '" + box.caption + "']";
  }
  return out.empty() ? " [no box]" : out;
}

}  // namespace

// ---- SessionView ------------------------------------------------------------

void SessionView::ShowBox(const std::string& text, const std::string& caption, BoxIcon icon) {
  boxes.push_back({text, caption, icon, controller ? controller->PanelStateNow() : NoDevice});
}

bool SessionView::PickColor(uint8_t, uint8_t, uint8_t, uint8_t* red, uint8_t* green,
                            uint8_t* blue) {
  *red = 40;
  *green = 200;
  *blue = 90;
  return true;
}

// ---- Stopwatch --------------------------------------------------------------

void Stopwatch::Note(FtCall call, uint32_t bytes) {
  if (recording) calls.push_back({call, bytes});
}

template <typename Transfer>
FtStatus Stopwatch::Timed(FtCall call, uint32_t n, Transfer transfer) {
  Note(call, n);
  const SimPortConfig& config = sim_.bridge.Config(sim_.controllerBridge);
  const uint64_t timeoutMs = call == FtCall::Read ? config.readTimeoutMs : config.writeTimeoutMs;
  const uint64_t startUs = sim_.clock.NowUs();
  const FtStatus status = transfer();
  const uint64_t tookUs = sim_.clock.NowUs() - startUs;
  if (tookUs > timeoutMs * 1000 + kTimeoutSlackUs) {
    const uint64_t over = tookUs - timeoutMs * 1000;
    if (over > longestTransferOverTimeoutUs) {
      longestTransferOverTimeoutUs = over;
      slowestCall = std::string(call == FtCall::Read ? "Read" : "Write") + " of " +
                    std::to_string(n) + " bytes took " + std::to_string(tookUs) + " us";
    }
  }
  return status;
}

FtStatus Stopwatch::CreateDeviceInfoList(uint32_t* count) {
  Note(FtCall::CreateDeviceInfoList);
  return sim_.bridge.CreateDeviceInfoList(count);
}
FtStatus Stopwatch::GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) {
  Note(FtCall::GetDeviceInfoList);
  return sim_.bridge.GetDeviceInfoList(list, count);
}
FtStatus Stopwatch::Open(int index, FtHandle* handle) {
  Note(FtCall::Open);
  return sim_.bridge.Open(index, handle);
}
FtStatus Stopwatch::Close(FtHandle handle) {
  Note(FtCall::Close);
  return sim_.bridge.Close(handle);
}
FtStatus Stopwatch::GetBitMode(FtHandle handle, uint8_t* pins) {
  Note(FtCall::GetBitMode);
  return sim_.bridge.GetBitMode(handle, pins);
}
FtStatus Stopwatch::Purge(FtHandle handle, uint32_t mask) {
  Note(FtCall::Purge);
  return sim_.bridge.Purge(handle, mask);
}
FtStatus Stopwatch::SetDataCharacteristics(FtHandle handle, uint8_t wordLength, uint8_t stopBits,
                                           uint8_t parity) {
  Note(FtCall::SetDataCharacteristics);
  return sim_.bridge.SetDataCharacteristics(handle, wordLength, stopBits, parity);
}
FtStatus Stopwatch::SetBaudRate(FtHandle handle, uint32_t baud) {
  Note(FtCall::SetBaudRate);
  return sim_.bridge.SetBaudRate(handle, baud);
}
FtStatus Stopwatch::SetFlowControl(FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
  Note(FtCall::SetFlowControl);
  return sim_.bridge.SetFlowControl(handle, flow, xon, xoff);
}
FtStatus Stopwatch::SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) {
  Note(FtCall::SetTimeouts);
  return sim_.bridge.SetTimeouts(handle, readMs, writeMs);
}
FtStatus Stopwatch::SetLatencyTimer(FtHandle handle, uint8_t ms) {
  Note(FtCall::SetLatencyTimer);
  return sim_.bridge.SetLatencyTimer(handle, ms);
}
FtStatus Stopwatch::SetBitMode(FtHandle handle, uint8_t mask, uint8_t mode) {
  Note(FtCall::SetBitMode);
  return sim_.bridge.SetBitMode(handle, mask, mode);
}
FtStatus Stopwatch::Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) {
  return Timed(FtCall::Write, n, [&] { return sim_.bridge.Write(handle, data, n, written); });
}
FtStatus Stopwatch::Read(FtHandle handle, void* buffer, uint32_t n, uint32_t* got) {
  const FtStatus status =
      Timed(FtCall::Read, n, [&] { return sim_.bridge.Read(handle, buffer, n, got); });
  if (recording) calls.back().moved = *got;
  return status;
}
FtStatus Stopwatch::GetQueueStatus(FtHandle handle, uint32_t* rx) {
  Note(FtCall::GetQueueStatus);
  return sim_.bridge.GetQueueStatus(handle, rx);
}
FtStatus Stopwatch::GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) {
  Note(FtCall::GetStatus);
  return sim_.bridge.GetStatus(handle, rx, tx, events);
}
FtStatus Stopwatch::GetDeviceInfo(FtHandle handle, uint32_t* type, uint32_t* id, char* serial,
                                  char* description, void* reserved) {
  Note(FtCall::GetDeviceInfo);
  return sim_.bridge.GetDeviceInfo(handle, type, id, serial, description, reserved);
}

// ---- the session --------------------------------------------------------------

std::vector<SessionStep> ScriptedSession() {
  std::vector<SessionStep> steps = {{Action::Poll}, {Action::Connect}, {Action::DeviceInfo}};
  for (int i = 0; i < 50; ++i) steps.push_back({Action::Refresh});
  // Down and Enter open the second menu item; Esc goes back to the menu.
  for (uint32_t key : {kVirtualKeyDown, kVirtualKeyReturn, kVirtualKeyEscape}) {
    steps.push_back({Action::KeyDown, key});
    steps.push_back({Action::KeyUp, key});
  }
  steps.push_back({Action::Refresh});
  steps.push_back({Action::PushEsc});
  steps.push_back({Action::Refresh});
  steps.push_back({Action::Color});
  steps.push_back({Action::Refresh});
  steps.push_back({Action::Disconnect});
  steps.push_back({Action::Poll});
  steps.push_back({Action::Connect});
  steps.push_back({Action::Refresh});
  return steps;
}

std::string StepName(const SessionStep& step) {
  static const char* const kNames[] = {"poll",     "Connect",       "Device Info",
                                       "refresh",  "key down",      "key up",
                                       "push ESC", "colour change", "Disconnect"};
  std::string name = kNames[static_cast<int>(step.action)];
  if (step.key != 0) name += " " + std::to_string(step.key);
  return name;
}

PanelSession::PanelSession(HandControllerOptions options)
    : sim(false, std::move(options)),
      stopwatch(sim),
      program(stopwatch, sim.platform),
      controller(view) {
  view.controller = &controller;
  controller.Start();
}

void PanelSession::Pass(uint64_t ms) {
  sim.virtualClock.AdvanceUs(ms * 1000);
  sim.controller.Tick(sim.clock.NowUs());
}

void PanelSession::Run(const SessionStep& step) {
  Pass(step.action == Action::Poll      ? kPollPeriodMs
       : step.action == Action::Refresh ? kDisplayPeriodMs
                                        : kMomentMs);
  const PanelState state = controller.PanelStateNow();
  last_ = {step, state, true, view.boxes.size(), view.framesShown, 0};
  const uint64_t startMs = NowMs();
  switch (step.action) {
    case Action::Poll:
      last_.acted = view.TimerRuns(TIMER_POLL);
      if (last_.acted) controller.OnTimer(TIMER_POLL);
      break;
    case Action::Refresh:
      last_.acted = view.TimerRuns(TIMER_DISPLAY);
      if (last_.acted) controller.OnTimer(TIMER_DISPLAY);
      break;
    case Action::Connect:
      last_.acted = state == DeviceAvailable && view.Enabled(PanelButton::Connect);
      if (last_.acted) controller.OnConnect();
      break;
    case Action::Disconnect:
      last_.acted = state == Connected && view.Enabled(PanelButton::Connect);
      if (last_.acted) controller.OnConnect();
      break;
    case Action::DeviceInfo:
      last_.acted = state == Connected && view.Enabled(PanelButton::DeviceInfo);
      if (last_.acted) controller.OnDeviceInfo();
      break;
    case Action::KeyDown:
    case Action::KeyUp:
      last_.acted = controller.TranslateKey(
          step.action == Action::KeyDown ? KeyTransition::Press : KeyTransition::Release, step.key);
      break;
    case Action::PushEsc:
      last_.acted = view.Enabled(PanelButton::PushEsc);
      if (last_.acted) controller.OnPushEsc();
      break;
    case Action::Color:
      last_.acted = state == Connected;
      if (last_.acted) controller.OnChangeColor();
      break;
  }
  last_.virtualMs = NowMs() - startMs;
}

std::string PanelSession::CheckLastStep() const {
  const StepRecord& r = last_;
  const std::vector<SeenBox> boxes(view.boxes.begin() + static_cast<std::ptrdiff_t>(r.boxesBefore),
                                   view.boxes.end());
  const PanelState after = controller.PanelStateNow();
  const std::string what = StepName(r.step) + " from state " + std::to_string(r.before) +
                           " ended in state " + std::to_string(after) + Describe(boxes) + ": ";
  if (std::string look = LookProblem(view, after); !look.empty()) return what + look;
  if (r.virtualMs > kStepVirtualMsMax) {
    return what + "it kept the thread " + std::to_string(r.virtualMs) + " ms";
  }
  if (!r.acted) {
    return boxes.empty() && after == r.before ? "" : what + "nothing should have happened";
  }
  const bool oneBox = boxes.size() == 1;
  bool fine = false;
  switch (r.step.action) {
    case Action::Poll:
      fine = boxes.empty() && after != Connected;
      break;
    case Action::Connect:
      fine = boxes.empty() ? after == Connected
                           : oneBox && IsConnectFailedBox(boxes[0]) && after == NoDevice;
      break;
    case Action::Disconnect:
      fine = after == NoDevice && (boxes.empty() || (oneBox && IsDisconnectFailedBox(boxes[0])));
      break;
    case Action::Refresh:
      fine = boxes.empty()
                 ? after == Connected && view.framesShown == r.framesBefore + 1
                 : oneBox && after == NoDevice && IsCommandFailedBox(boxes[0], kUpdateDisplayLabel);
      break;
    case Action::KeyDown:
    case Action::KeyUp:
      fine = boxes.empty()
                 ? after == Connected
                 : oneBox && after == NoDevice && IsCommandFailedBox(boxes[0], kButtonEventLabel);
      break;
    case Action::DeviceInfo:
      fine = oneBox && IsDeviceInfoBox(boxes[0]) && after == Connected;
      break;
    case Action::PushEsc:
    case Action::Color:
      fine = boxes.empty() && after == r.before;
      break;
  }
  return fine ? "" : what + "not what the panel shows for it";
}

std::string PanelSession::RecoverByConnect() {
  if (controller.PanelStateNow() == Connected) Run({Action::Disconnect});
  for (int i = 0; i < kRecoveryPollsMax && controller.PanelStateNow() != DeviceAvailable; ++i) {
    Run({Action::Poll});
  }
  if (controller.PanelStateNow() != DeviceAvailable) return "the device never became available";
  const size_t boxesBefore = view.boxes.size();
  Run({Action::Connect});
  Run({Action::Refresh});
  if (controller.PanelStateNow() != Connected) {
    const std::vector<SeenBox> boxes(view.boxes.begin() + static_cast<std::ptrdiff_t>(boxesBefore),
                                     view.boxes.end());
    return "Connect did not bring the mirror back:" + Describe(boxes);
  }
  const uint16_t* sent = sim.controller.Encoder().Sent();
  const long differ = std::inner_product(FrameBuffer, FrameBuffer + kDisplayPixels, sent, 0L,
                                         std::plus<>(), std::not_equal_to<>());
  if (differ != 0) return std::to_string(differ) + " mirrored pixels differ from the device's";
  return "";
}
