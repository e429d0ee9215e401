// The front panel controller: what the user may do at any moment.
//
// Owns: the panel state (m_panelState) and its look, the presence poll and the
// display refresh timers, Connect with its probe, Disconnect, the display
// refresh, the failure and notification boxes, the key forwarding decision,
// the Screenshot sequence and the routing of the window's buttons to the
// services. It knows no toolkit: it talks to a PanelView, and a test can drive
// it in virtual time by calling OnTimer itself.
// Does not own: widgets, real timers, boxes or the clipboard (the PanelView),
// the pixel buffer of the display view, or any device command (services/).
#pragma once

#include <cstdint>
#include <string>

#include "protocol/result_codes.h"
#include "services/panel_ui.h"

// Window timers: ids and periods are fixed.
constexpr int TIMER_POLL = 555;
constexpr int kPollPeriodMs = 250;
constexpr int TIMER_DISPLAY = 1001;
constexpr int kDisplayPeriodMs = 76;

// Control ids of the window template.
constexpr int IDC_NO_DEFAULT = 1000;
constexpr int IDC_DISPLAY = 1005;
constexpr int IDC_READ_DISPLAY = 1007;
constexpr int IDC_SCREENSHOT = 1011;
constexpr int IDC_PUSH_ESC = 1042;
constexpr int IDC_CHANGE = 1089;
constexpr int IDC_COLORS = 1061;
constexpr int IDC_COLORS_LABEL = 1090;
constexpr int IDC_DEVICE_INFO = 1039;
constexpr int IDC_CONNECT = 1081;
constexpr int IDC_STATUS = 1101;

// Texts of the panel look.
constexpr const char* kCaptionUnavailable = "<unavailable>";
constexpr const char* kCaptionConnect = "Connect";
constexpr const char* kCaptionDisconnect = "Disconnect";
constexpr const char* kStatusAvailable = "device available";
constexpr const char* kStatusActive = "Tessaro active";

// Box texts and captions.
constexpr const char* kCaptionError = "ERROR";
constexpr const char* kCaptionNotification = "Notification";
constexpr const char* kConnectFailedFormat = "Can't connect to Vesk-3...\n\nError (%d): %s";
constexpr const char* kDisconnectFailedFormat = "Error while disconnecting...\n\nError (%s): %s";
constexpr const char* kCommandErrorFormat = "%s returned (%d):\n\n%s";
constexpr const char* kPoweredOffText = "Vesk-3 has been powered off";
constexpr const char* kSystemChangeText = "Vesk-3 reported an unknown system change error";
constexpr const char* kUpdateDisplayLabel = "VK3cmd_UpdateDisplay()";
constexpr const char* kClipboardOpenFailed = "Cannot open the Clipboard";
constexpr const char* kClipboardEmptyFailed = "Cannot empty the Clipboard";
constexpr const char* kClipboardSetFailedFormat = "Unable to set Clipboard data, error: %d";

// PC virtual-key codes of the six forwarded keys.
constexpr uint32_t kVirtualKeyReturn = 0x0D;
constexpr uint32_t kVirtualKeyEscape = 0x1B;
constexpr uint32_t kVirtualKeyLeft = 0x25;
constexpr uint32_t kVirtualKeyUp = 0x26;
constexpr uint32_t kVirtualKeyRight = 0x27;
constexpr uint32_t kVirtualKeyDown = 0x28;

// The buttons whose enabled flag follows the panel state, in the order they are set.
enum class PanelButton { Connect, PushEsc, DeviceInfo };

// What a key message is. A toolkit that reports auto-repeat as release/press
// pairs marks the repeated releases: they are not releases.
enum class KeyTransition { Press, Release, RepeatRelease };

// Whether Alt was held: such keys are the desktop's ("system keys"), not the device's.
enum class KeyChord { Plain, WithAlt };

// What the controller needs of the window.
class PanelView {
 public:
  virtual ~PanelView() = default;

  virtual void SetConnectPressed(bool pressed) = 0;
  virtual void SetConnectCaption(const std::string& text) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetButtonEnabled(PanelButton button, bool enabled) = 0;

  // Starting a timer that runs restarts it with the new period.
  virtual void StartTimer(int id, int periodMs) = 0;
  virtual void StopTimer(int id) = 0;

  // A modal box with one OK button; the window's timers keep running under
  // it. An empty caption means the application title. Texts are 8-bit.
  virtual void ShowBox(const std::string& text, const std::string& caption, BoxIcon icon) = 0;

  // Converts the whole FrameBuffer into the display view and repaints it
  // before returning.
  virtual void ShowFrame() = 0;

  // The clipboard steps of Screenshot; each false is a failure the window saw.
  virtual bool OpenClipboard() = 0;
  virtual bool EmptyClipboard() = 0;
  // Puts the view's current image on the clipboard; on failure *lastError
  // receives the platform's error value.
  virtual bool SetClipboardImage(int* lastError) = 0;
  virtual void CloseClipboard() = 0;

  // The colour controls.
  virtual int ColorSelection() const = 0;
  virtual void SetColorLabel(const std::string& text) = 0;
  virtual bool PickColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t* chosenRed,
                         uint8_t* chosenGreen, uint8_t* chosenBlue) = 0;
};

// Whoever else follows the panel beside the window (capture, enlarged views):
// told after each state change and after each refreshed frame is shown.
class PanelFollower {
 public:
  virtual ~PanelFollower() = default;
  virtual void OnPanelStateChanged(PanelState state) = 0;
  virtual void OnFrameShown() = 0;
};

class FrontPanelController : public PanelUi {
 public:
  explicit FrontPanelController(PanelView& view) : view_(view) {}

  // The last steps of the window's initialisation: VK3cmd_Init, then NoDevice.
  void Start();

  void SetPanelState(PanelState state);
  PanelState PanelStateNow() const { return m_panelState; }

  // The window's timer handler; ids other than 555 and 1001 are ignored.
  void OnTimer(int id);
  // The Connect button: Connect in DeviceAvailable, Disconnect in Connected.
  void OnConnect();
  // The display refresh (timer 1001 and the hidden "Read display" button).
  void VK3cmd_UpdateDisplay();

  // The window's other buttons and controls.
  void OnScreenshot();
  void OnPushEsc();
  void OnDeviceInfo();
  void OnColorSelectionChanged();
  void OnChangeColor();

  // The key forwarding: true when the key was consumed (sent to the device
  // or swallowed as a repeated release); false lets the dialog handle it.
  // With Alt held a key is left to the window, except the release of a key
  // whose press the device has: the device never keeps a key down.
  bool TranslateKey(KeyTransition transition, uint32_t virtualKey,
                    KeyChord chord = KeyChord::Plain);

  // One follower at most; null: none.
  void SetFollower(PanelFollower* follower) { follower_ = follower; }

  uint32_t currentColor = 0;

  // PanelUi, for the services.
  PanelState CurrentPanelState() const override { return m_panelState; }
  void ShowDeviceNotification(ResultCode code) override;
  void ShowCommandError(const char* label, ResultCode code) override;
  void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon) override;
  int ColorSelection() const override;
  void SetColorLabel(const std::string& text) override;
  bool PickColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t* chosenRed, uint8_t* chosenGreen,
                 uint8_t* chosenBlue) override;

 private:
  void PollPresence();
  void ConnectToDevice();
  void Disconnect();
  void ApplyLook(const char* caption, bool pressed, const char* status, bool enabled);

  void TellFollower();

  PanelView& view_;
  PanelFollower* follower_ = nullptr;
  PanelState m_panelState = NoDevice;
  // The device keys whose press was sent and whose release was not, one bit per key number.
  uint32_t keysDown_ = 0;
};
