// The whole program against the simulated hand controller, driven like a
// user and a window's event loop would drive it, in virtual time.
//
// Owns: PanelSession (the simulated device and bus, a stopwatch in front of
// the bridge, a toolkit-free window and the front panel controller on it),
// the session steps (poll and display ticks only while their timer runs,
// buttons only while enabled), the check of each step's outcome against what
// the panel must show for it, and the recovery by Connect.
// Does not own: which faults strike (the tests say) or the device model.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/ft_driver.h"
#include "panel/front_panel_controller.h"
#include "services/program_state.h"
#include "sim/simulated_setup.h"

// A box as the window showed it, with the panel state while it was open.
struct SeenBox {
  std::string text;
  std::string caption;
  BoxIcon icon;
  PanelState stateWhileOpen;
};

// The window without a toolkit: keeps the look, the running timers and the
// boxes. Colour entry 3 is selected and the picker answers a fixed colour.
class SessionView : public PanelView {
 public:
  void SetConnectPressed(bool pressed) override { connectPressed = pressed; }
  void SetConnectCaption(const std::string& text) override { connectCaption = text; }
  void SetStatusText(const std::string& text) override { statusText = text; }
  void SetButtonEnabled(PanelButton button, bool enabled) override {
    buttonEnabled[static_cast<int>(button)] = enabled;
  }
  void StartTimer(int id, int) override { Timer(id) = true; }
  void StopTimer(int id) override { Timer(id) = false; }
  void ShowBox(const std::string& text, const std::string& caption, BoxIcon icon) override;
  void ShowFrame() override { ++framesShown; }
  bool OpenClipboard() override { return true; }
  bool EmptyClipboard() override { return true; }
  bool SetClipboardImage(int*) override { return true; }
  void CloseClipboard() override {}
  int ColorSelection() const override { return 3; }
  void SetColorLabel(const std::string& text) override { colorLabel = text; }
  bool PickColor(uint8_t, uint8_t, uint8_t, uint8_t* red, uint8_t* green, uint8_t* blue) override;

  bool TimerRuns(int id) const { return id == TIMER_POLL ? pollRuns : displayRuns; }
  bool Enabled(PanelButton button) const { return buttonEnabled[static_cast<int>(button)]; }

  const FrontPanelController* controller = nullptr;
  bool connectPressed = false;
  std::string connectCaption, statusText, colorLabel;
  bool buttonEnabled[3] = {};
  bool pollRuns = false, displayRuns = false;
  std::vector<SeenBox> boxes;
  uint64_t framesShown = 0;

 private:
  bool& Timer(int id) { return id == TIMER_POLL ? pollRuns : displayRuns; }
};

// Passes every driver call on to the simulated bridge, keeps the sequence of
// calls (while recording) and checks that no transfer blocks longer than the
// timeout in force on the bridge.
class Stopwatch : public FtDriver {
 public:
  struct Call {
    FtCall call;
    uint32_t bytes;      // Read and Write: the count asked for
    uint32_t moved = 0;  // Read: the count delivered
  };

  Stopwatch(SimulatedSetup& sim) : sim_(sim) {}

  bool recording = false;
  std::vector<Call> calls;
  uint64_t longestTransferOverTimeoutUs = 0;  // 0: every transfer kept its timeout
  std::string slowestCall;

  FtStatus CreateDeviceInfoList(uint32_t* count) override;
  FtStatus GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) override;
  FtStatus Open(int index, FtHandle* handle) override;
  FtStatus Close(FtHandle handle) override;
  FtStatus GetBitMode(FtHandle handle, uint8_t* pins) override;
  FtStatus Purge(FtHandle handle, uint32_t mask) override;
  FtStatus SetDataCharacteristics(FtHandle handle, uint8_t wordLength, uint8_t stopBits,
                                  uint8_t parity) override;
  FtStatus SetBaudRate(FtHandle handle, uint32_t baud) override;
  FtStatus SetFlowControl(FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) override;
  FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override;
  FtStatus SetLatencyTimer(FtHandle handle, uint8_t ms) override;
  FtStatus SetBitMode(FtHandle handle, uint8_t mask, uint8_t mode) override;
  FtStatus Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) override;
  FtStatus Read(FtHandle handle, void* buffer, uint32_t n, uint32_t* got) override;
  FtStatus GetQueueStatus(FtHandle handle, uint32_t* rx) override;
  FtStatus GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) override;
  FtStatus GetDeviceInfo(FtHandle handle, uint32_t* type, uint32_t* id, char* serial,
                         char* description, void* reserved) override;

 private:
  void Note(FtCall call, uint32_t bytes = 0);
  // Runs a transfer and checks it against the timeout in force when it began.
  template <typename Transfer>
  FtStatus Timed(FtCall call, uint32_t n, Transfer transfer);

  SimulatedSetup& sim_;
};

enum class Action {
  Poll,
  Connect,
  DeviceInfo,
  Refresh,
  KeyDown,
  KeyUp,
  PushEsc,
  Color,
  Disconnect
};

struct SessionStep {
  Action action;
  uint32_t key = 0;  // virtual-key code of KeyDown and KeyUp
};

// start, presence poll, Connect, device information, 50 display refreshes,
// key presses and releases, push ESC, a colour change, Disconnect, Connect again.
std::vector<SessionStep> ScriptedSession();
std::string StepName(const SessionStep& step);

class PanelSession {
 public:
  explicit PanelSession(HandControllerOptions options = {});
  PanelSession(const PanelSession&) = delete;
  PanelSession& operator=(const PanelSession&) = delete;

  // What the window's event loop and the user do for one step; time passes
  // first (a timer period, or a moment for a click or a key).
  void Run(const SessionStep& step);
  // Empty when the step ended as the panel must end it (state and boxes);
  // otherwise what was wrong. Call right after Run.
  std::string CheckLastStep() const;
  // With a sane device on the bus: Disconnect if still connected, poll until
  // the device is available, Connect, one refresh. Empty when the mirror then
  // equals what the device has sent; otherwise what went wrong.
  std::string RecoverByConnect();

  // Lets device time pass without the program doing anything.
  void Pass(uint64_t ms);
  uint64_t NowMs() { return sim.clock.NowUs() / 1000; }

  SimulatedSetup sim;
  Stopwatch stopwatch;
  ProgramScope program;  // the stopwatch and the device's clock installed on a fresh state
  SessionView view;
  FrontPanelController controller;

 private:
  struct StepRecord {
    SessionStep step;
    PanelState before;
    bool acted;
    size_t boxesBefore;
    uint64_t framesBefore;
    uint64_t virtualMs;
  };
  StepRecord last_{};
};
