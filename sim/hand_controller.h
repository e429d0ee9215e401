// The simulated Vesk-3 hand controller: the device on the far side of the
// bridge's UART, independent of how its bytes travel (the simulated bridge,
// or an emulated FT230X chip).
//
// Owns: the device's UART (9600 baud after power-up until one 0x00 byte has
// arrived, 3,000,000 afterwards; bytes at another rate are noise both ways),
// its parser of command frames by its own descriptor table, its answers and
// refusals (counter 240 for an unknown command, answer types 17..20 and 32),
// the handshake items, the information items, the display frames in both
// bulk modes, the colour table, the button events and the CBUS1 Esc line,
// the notifications, switching off and on, and the firmware user interface
// that draws the screen.
// Does not own: time (every call says what time it is) or the wire.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "sim/firmware_ui.h"
#include "sim/pixel_encoder.h"

enum class BootMode { App, Boot };
enum class BulkMode { Segments, Streamed };
// A notification goes out at once, takes the place of the next answer, or
// goes out just ahead of the next answer, which follows it all the same.
enum class NotifyWhen { Now, InPlaceOfNextAnswer, AheadOfNextAnswer };
// How the next display answer goes wrong on purpose (its bulk data follows
// all the same): another counter than the command's, or the frame
// information (parameter 3) one byte short.
enum class DisplayMisanswer { None, WrongCounter, ShortInfo };

constexpr size_t kDeviceColorEntries = 64;
constexpr uint8_t kNotifySystemChangeDefault = 0x51;  // any code but busy and switched off
constexpr size_t kDeviceStreamBudget = 165200;  // the most pixel stream bytes one frame carries
constexpr size_t kDeviceStreamPadding = 512;    // streamed frames end on a 512-byte boundary
// A partial frame idle this long is dropped: longer than the host's 1000 ms
// write timeout, so a write that went short and was continued stays one frame.
constexpr uint64_t kFrameGapResetUs = 1500000;

// What the device answers about itself.
struct HandControllerInfo {
  uint16_t protocolVersion1 = 0x0103;
  uint16_t protocolVersion2 = 0x0201;
  uint64_t chipId = 0x0000003A5C1F0042ull;
  std::array<uint8_t, 16> uniqueId = {'V', 'K', '3', '-', 'H', 'C', '-', '0',
                                      '0', '4', '1', '7', '-', 'A', '2', 'C'};
  uint8_t item17 = 0x03;
  std::array<uint8_t, 32> text = {'V', 'e', 's', 'k', '-', '3', ' ', 'H', 'a', 'n',
                                  'd', 'C', 'o', 'n', 't', 'r', 'o', 'l', 'l', 'e',
                                  'r', ' ', 'f', 'w', ' ', '2', '.', '1', '4'};
};

struct HandControllerOptions {
  BootMode bootMode = BootMode::App;
  BulkMode bulkMode = BulkMode::Segments;
  // Answer frame plus bulk bytes of one segment. The host reads segments of
  // 65535; a smaller value makes the device misbehave on purpose.
  uint32_t segmentSize = kBulkSegmentMax;
  size_t streamBudget = kDeviceStreamBudget;
  // Streamed frames: an end token, then zeros up to a 512-byte boundary, so the
  // host's 512-byte reads never wait for bytes that do not come.
  bool padStreamedFrames = true;
  HandControllerInfo info;
};

// One command frame as the device parsed it (the last ones are kept).
struct ReceivedCommand {
  uint8_t command = 0;
  uint8_t counter = 0;
  std::vector<std::pair<uint8_t, std::vector<uint8_t>>> params;
  uint8_t answerType = 0;
};

class HandController {
 public:
  explicit HandController(HandControllerOptions options = {});

  HandControllerOptions& Options() { return options_; }

  // The UART. hostBaud is the rate the bridge's side is set to.
  void HostBytes(const uint8_t* data, size_t n, uint32_t hostBaud, uint64_t nowUs);
  size_t TakeDeviceBytes(uint8_t* out, size_t max, uint32_t hostBaud, uint64_t nowUs);
  size_t PendingDeviceBytes() const { return out_.size() - outHead_; }
  uint32_t UartBaud() const { return uartBaud_; }
  bool Awake() const { return awake_; }

  // The bridge's CBUS lines driven high (bit n = CBUSn); CBUS1 is the Esc key.
  void SetCbusPins(uint8_t highMask);

  // Battery in or out: power-up listens at 9600 for the wake-up byte again.
  void PowerOn();
  void PowerOff();
  bool Powered() const { return powered_; }
  // Switched off by its own menu or a notification 0x36: answers nothing
  // until switched on again (the hardware Esc key or SwitchOn).
  void SwitchOn();
  bool SwitchedOff() const { return switchedOff_; }

  void Tick(uint64_t nowUs);

  const uint16_t* Screen() const { return screen_; }
  // The screen shows these 76800 pixels instead of the firmware UI until
  // ReleaseScreen (tests paint adversarial pictures this way).
  void HoldScreen(const uint16_t* pixels);
  void ReleaseScreen();
  // Colour table entry: blue, green, red, 0.
  std::array<uint8_t, 4> ColorEntry(uint16_t index) const;
  void SetColorEntry(uint16_t index, std::array<uint8_t, 4> bgr0);

  void SendNotification(uint8_t code, NotifyWhen when = NotifyWhen::Now);
  void MisanswerNextDisplay(DisplayMisanswer how) { misanswer_ = how; }
  void PressKey(UiKey key);
  void ReleaseKey(UiKey key);

  FirmwareUi& Ui() { return ui_; }
  const std::deque<ReceivedCommand>& ReceivedCommands() const { return received_; }
  uint64_t GarbledBytesIn() const { return garbledIn_; }
  uint32_t FramesSent() const { return framesSent_; }
  const FrameEncoder& Encoder() const { return encoder_; }

  // The descriptor block the device sends at the handshake.
  std::vector<uint8_t> DescriptorBlock() const;

  static constexpr size_t kReceivedKept = 64;

 private:
  enum class ParseState { Idle, Counter, ParamId, ParamData, SkipToTerminator };

  void ParseByte(uint8_t b);
  void StartParam(uint8_t id);
  void FinishFrame();
  void ResetParser();
  void Execute(ReceivedCommand& cmd);
  uint8_t ExecuteInformation(const ReceivedCommand& cmd);
  uint8_t ExecuteButton(const ReceivedCommand& cmd);
  uint8_t ExecuteDisplay(const ReceivedCommand& cmd);
  uint8_t ExecuteColors(const ReceivedCommand& cmd);
  void QueueAnswer(uint8_t command, uint8_t counter, uint8_t type,
                   const std::vector<uint8_t>& params = {});
  void QueueBytes(const uint8_t* data, size_t n);
  void QueueNotification(uint8_t code);
  void ApplyKey(UiKey key, bool pressed);
  void Redraw();
  void RefreshAboutLines();
  void KeepReceived(const ReceivedCommand& cmd);
  bool KnownCommand(uint8_t command) const;
  int ParamLength(uint8_t command, uint8_t id) const;  // -1: not accepted

  HandControllerOptions options_;
  bool powered_ = false;
  bool awake_ = false;
  bool switchedOff_ = false;
  uint32_t uartBaud_ = kWakeUpBaud;
  uint64_t nowUs_ = 0;

  ParseState state_ = ParseState::Idle;
  ReceivedCommand current_;
  size_t frameBytes_ = 0;
  size_t dataLeft_ = 0;
  uint8_t pendingRefusal_ = 0;
  uint64_t lastByteUs_ = 0;

  std::vector<uint8_t> out_;
  size_t outHead_ = 0;
  uint32_t noiseState_ = 0x2545F491u;

  bool notifyNext_ = false;
  uint8_t notifyNextCode_ = 0;
  bool notifyNextAhead_ = false;
  DisplayMisanswer misanswer_ = DisplayMisanswer::None;

  uint8_t cbusHigh_ = 0;
  std::array<std::array<uint8_t, 4>, kDeviceColorEntries> colors_{};
  uint16_t screen_[kDisplayPixels] = {};
  std::vector<uint16_t> heldScreen_;
  FirmwareUi ui_;
  FrameEncoder encoder_;
  uint32_t framesSent_ = 0;
  std::deque<ReceivedCommand> received_;
  uint64_t garbledIn_ = 0;
};
