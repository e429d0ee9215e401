#include "sim/hand_controller.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "protocol/wire.h"

namespace {

// Recorded answer type: a notification went out in place of the answer.
constexpr uint8_t kNotifiedInstead = kNotificationMarker;
// The bytes after a notification's marker and code.
constexpr size_t kNotificationFiller = kNotificationSize - 2;
constexpr size_t kOutCompactAt = 1 << 16;

using Bytes = std::vector<uint8_t>;

void PutLe16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void PutLe32(Bytes& b, uint32_t v) {
  PutLe16(b, v & 0xFFFF);
  PutLe16(b, v >> 16);
}
// An answer parameter: id, its own length byte, the data.
void PutParam(Bytes& b, uint8_t id, const Bytes& data = {}) {
  b.push_back(id);
  b.push_back(static_cast<uint8_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
}

uint16_t Rgb565(const std::array<uint8_t, 4>& bgr0) {
  return static_cast<uint16_t>(((bgr0[2] >> 3) << 11) | ((bgr0[1] >> 2) << 5) | (bgr0[0] >> 3));
}

// The colour table at power-up, as red, green, blue.
constexpr uint8_t kDefaultColors[][3] = {
    {16, 24, 40},   {0, 110, 140},  {255, 255, 255}, {220, 220, 220},  // background .. text
    {240, 160, 0},  {20, 20, 20},   {90, 200, 60},   {140, 120, 110},  // selection .. dim
    {220, 40, 40},  {250, 140, 20}, {240, 220, 40},  {40, 180, 60},    // swatches
    {40, 200, 220}, {40, 80, 220},  {200, 60, 200},  {255, 255, 255},
};

struct DescribedCommand {
  uint8_t command;
  std::vector<std::pair<uint8_t, uint8_t>> params;
};

std::vector<DescribedCommand> BuildDeviceCommands() {
  DescribedCommand buttons{kCmdButtonEvent, {}};
  for (uint8_t key = 0; key < kUiKeyCount; ++key) {
    buttons.params.push_back({static_cast<uint8_t>(kButtonParamBase | key), 0});
    buttons.params.push_back(
        {static_cast<uint8_t>(kButtonParamBase | kButtonParamRelease | key), 0});
  }
  return {
      buttons,
      {kCmdDisplayFrame, {{kParamWholeDisplay, 0}, {kParamDisplayChanges, 0}}},
      {kCmdInformation,
       {{kItemMode, 0}, {kItemDescriptor, 0}, {kItemChipId, 0}, {kItem17, 0}, {kItemText, 0}}},
      {kCmdColors, {{kParamReadColor, kColorIndexBytes}, {kParamWriteColor, kColorIndexBytes}}},
  };
}

// The commands the device accepts, as its descriptor block describes them.
const std::vector<DescribedCommand>& DeviceCommands() {
  static const std::vector<DescribedCommand> commands = BuildDeviceCommands();
  return commands;
}

}  // namespace

HandController::HandController(HandControllerOptions options) : options_(std::move(options)) {
  PowerOn();
}

std::vector<uint8_t> HandController::DescriptorBlock() const {
  const std::vector<DescribedCommand>& commands = DeviceCommands();
  Bytes block{static_cast<uint8_t>(commands.size())};
  for (const DescribedCommand& c : commands) {
    block.push_back(c.command);
    block.push_back(static_cast<uint8_t>(c.params.size()));
    for (auto [id, length] : c.params) {
      block.push_back(id);
      block.push_back(length);
    }
  }
  return block;
}

bool HandController::KnownCommand(uint8_t command) const {
  const std::vector<DescribedCommand>& commands = DeviceCommands();
  return std::any_of(commands.begin(), commands.end(),
                     [command](const DescribedCommand& c) { return c.command == command; });
}

int HandController::ParamLength(uint8_t command, uint8_t id) const {
  for (const DescribedCommand& c : DeviceCommands()) {
    if (c.command != command) continue;
    for (auto [pid, length] : c.params) {
      if (pid != id) continue;
      // A colour write carries its four colour bytes right after the index.
      if (command == kCmdColors && id == kParamWriteColor) return length + kColorEntryBytes;
      return length;
    }
    return -1;
  }
  return -1;
}

// ---- power, switching, time ----

void HandController::PowerOn() {
  powered_ = true;
  awake_ = false;
  switchedOff_ = false;
  uartBaud_ = kWakeUpBaud;
  out_.clear();
  outHead_ = 0;
  notifyNext_ = false;
  ResetParser();
  for (size_t i = 0; i < kDeviceColorEntries; ++i) {
    if (i < std::size(kDefaultColors)) {
      const uint8_t* rgb = kDefaultColors[i];
      colors_[i] = {rgb[2], rgb[1], rgb[0], 0};
    } else {
      const uint8_t grey = static_cast<uint8_t>(i * 4);
      colors_[i] = {grey, grey, grey, 0};
    }
  }
  encoder_.Reset();
  ui_.SetTitle(options_.bootMode == BootMode::Boot ? "VESK-3 BOOT" : "VESK-3");
  RefreshAboutLines();
  ui_.Start(nowUs_);
  Redraw();
}

void HandController::PowerOff() {
  powered_ = false;
  out_.clear();
  outHead_ = 0;
  ResetParser();
  Redraw();
}

void HandController::SwitchOn() {
  if (!powered_ || !switchedOff_) return;
  switchedOff_ = false;
  Redraw();
}

void HandController::Tick(uint64_t nowUs) {
  nowUs_ = std::max(nowUs_, nowUs);
  if (powered_ && !switchedOff_ && ui_.Tick(nowUs_)) Redraw();
}

void HandController::Redraw() {
  if (!powered_ || switchedOff_) {
    std::fill(std::begin(screen_), std::end(screen_), uint16_t{0});
    return;
  }
  if (!heldScreen_.empty()) {
    std::copy(heldScreen_.begin(), heldScreen_.end(), screen_);
    return;
  }
  uint16_t palette[kDeviceColorEntries];
  for (size_t i = 0; i < kDeviceColorEntries; ++i) palette[i] = Rgb565(colors_[i]);
  ui_.Render(screen_, palette);
}

void HandController::RefreshAboutLines() {
  const HandControllerInfo& info = options_.info;
  char protocol[32];
  std::snprintf(protocol, sizeof protocol, "Protocol %04x/%04x", info.protocolVersion1,
                info.protocolVersion2);
  char chip[32];
  std::snprintf(chip, sizeof chip, "Chip %x-%08x", static_cast<unsigned>(info.chipId >> 32),
                static_cast<unsigned>(info.chipId & 0xFFFFFFFFu));
  std::string unique;
  for (uint8_t c : info.uniqueId) unique.push_back(c == 0 ? ' ' : static_cast<char>(c));
  ui_.SetAboutLines({"HandController",
                     options_.bootMode == BootMode::Boot ? "Mode BOOT" : "Mode APP", protocol, chip,
                     unique});
}

// ---- the UART ----

void HandController::HostBytes(const uint8_t* data, size_t n, uint32_t hostBaud, uint64_t nowUs) {
  Tick(nowUs);
  if (!powered_ || n == 0) return;
  if (hostBaud != uartBaud_) {
    // Framing errors: the device sees noise and drops whatever it was parsing.
    garbledIn_ += n;
    ResetParser();
    return;
  }
  if (!awake_) {
    const uint8_t* wake = static_cast<const uint8_t*>(std::memchr(data, kWakeUpCode, n));
    if (wake == nullptr) return;
    awake_ = true;
    uartBaud_ = kWorkBaud;
    garbledIn_ += n - static_cast<size_t>(wake - data) - 1;  // what followed came too slowly
    return;
  }
  if (switchedOff_) return;
  if (state_ != ParseState::Idle && nowUs_ - lastByteUs_ > kFrameGapResetUs) ResetParser();
  lastByteUs_ = nowUs_;
  for (size_t i = 0; i < n && powered_ && !switchedOff_; ++i) ParseByte(data[i]);
}

size_t HandController::TakeDeviceBytes(uint8_t* out, size_t max, uint32_t hostBaud,
                                       uint64_t nowUs) {
  Tick(nowUs);
  const size_t n = std::min(max, PendingDeviceBytes());
  if (n == 0) return 0;
  std::memcpy(out, out_.data() + outHead_, n);
  outHead_ += n;
  if (hostBaud != uartBaud_) {
    for (size_t i = 0; i < n; ++i) {
      noiseState_ ^= noiseState_ << 13;
      noiseState_ ^= noiseState_ >> 17;
      noiseState_ ^= noiseState_ << 5;
      out[i] = static_cast<uint8_t>(noiseState_);
    }
  }
  if (outHead_ == out_.size()) {
    out_.clear();
    outHead_ = 0;
  } else if (outHead_ >= kOutCompactAt && outHead_ * 2 >= out_.size()) {
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outHead_));
    outHead_ = 0;
  }
  return n;
}

void HandController::QueueBytes(const uint8_t* data, size_t n) {
  out_.insert(out_.end(), data, data + n);
}

void HandController::QueueAnswer(uint8_t command, uint8_t counter, uint8_t type,
                                 const std::vector<uint8_t>& params) {
  Bytes answer{command, counter, type};
  PutLe16(answer, static_cast<uint32_t>(kAnswerHeaderSize + params.size()));
  answer.insert(answer.end(), params.begin(), params.end());
  QueueBytes(answer.data(), answer.size());
}

void HandController::QueueNotification(uint8_t code) {
  Bytes note{kNotificationMarker, code};
  note.resize(note.size() + kNotificationFiller, 0);
  QueueBytes(note.data(), note.size());
}

void HandController::SendNotification(uint8_t code, NotifyWhen when) {
  if (!powered_ || switchedOff_) return;
  if (when != NotifyWhen::Now) {
    notifyNext_ = true;
    notifyNextCode_ = code;
    notifyNextAhead_ = when == NotifyWhen::AheadOfNextAnswer;
    return;
  }
  QueueNotification(code);
  if (code == kNotifySwitchedOff) {
    switchedOff_ = true;
    ResetParser();
    Redraw();
  }
}

// ---- keys and the Esc line ----

void HandController::SetCbusPins(uint8_t highMask) {
  const bool wasHigh = (cbusHigh_ & kCbusEscLine) != 0;
  const bool isHigh = (highMask & kCbusEscLine) != 0;
  cbusHigh_ = highMask;
  if (!powered_ || wasHigh == isHigh) return;
  if (switchedOff_) {
    if (isHigh) SwitchOn();
    return;
  }
  ApplyKey(UiKey::Esc, isHigh);
}

void HandController::PressKey(UiKey key) {
  if (switchedOff_) {
    SwitchOn();
    return;
  }
  ApplyKey(key, true);
}

void HandController::ReleaseKey(UiKey key) {
  ApplyKey(key, false);
}

void HandController::ApplyKey(UiKey key, bool pressed) {
  if (!powered_ || switchedOff_) return;
  switch (ui_.Key(key, pressed, nowUs_)) {
    case UiAction::None:
      break;
    case UiAction::NotifyBusy:
      ui_.SetNotice("Sent: busy");
      SendNotification(kNotifyBusyA);
      break;
    case UiAction::NotifySystemChange:
      ui_.SetNotice("Sent: change");
      SendNotification(kNotifySystemChangeDefault);
      break;
    case UiAction::SwitchOff:
      SendNotification(kNotifySwitchedOff);
      break;
  }
  Redraw();
}

// ---- the command parser ----

void HandController::ResetParser() {
  state_ = ParseState::Idle;
  current_ = ReceivedCommand{};
  frameBytes_ = 0;
  dataLeft_ = 0;
  pendingRefusal_ = 0;
}

void HandController::StartParam(uint8_t id) {
  const int length = ParamLength(current_.command, id);
  if (length < 0) {
    if (pendingRefusal_ == 0) pendingRefusal_ = kAnswerUnknownParameter;
    state_ = ParseState::SkipToTerminator;
    return;
  }
  current_.params.push_back({id, {}});
  dataLeft_ = static_cast<size_t>(length);
  state_ = dataLeft_ > 0 ? ParseState::ParamData : ParseState::ParamId;
}

void HandController::ParseByte(uint8_t b) {
  ++frameBytes_;
  switch (state_) {
    case ParseState::Idle:
      if (b == 0x00 || b == kFrameTerminator) {
        QueueBytes(&b, 1);  // a single-byte exchange: the byte comes back
        frameBytes_ = 0;
        return;
      }
      current_.command = b;
      state_ = ParseState::Counter;
      break;
    case ParseState::Counter:
      current_.counter = b;
      if (!KnownCommand(current_.command)) {
        pendingRefusal_ = kAnswerUnknownCommand;
        state_ = ParseState::SkipToTerminator;
      } else {
        if (b == 0 || b > kCounterLast) pendingRefusal_ = kAnswerCounterMismatch;
        state_ = ParseState::ParamId;
      }
      if (b == kFrameTerminator) {  // no counter is 0xFF: the frame ended early
        FinishFrame();
        return;
      }
      break;
    case ParseState::ParamId:
      if (b == kFrameTerminator) {
        FinishFrame();
        return;
      }
      StartParam(b);
      break;
    case ParseState::ParamData:
      current_.params.back().second.push_back(b);
      if (--dataLeft_ == 0) state_ = ParseState::ParamId;
      break;
    case ParseState::SkipToTerminator:
      if (b == kFrameTerminator) {
        FinishFrame();
        return;
      }
      break;
  }
  if (state_ != ParseState::Idle && frameBytes_ >= kFrameCapacity) {
    // A full frame goes without terminator; one that ends inside data is too long.
    if (state_ == ParseState::ParamData && pendingRefusal_ == 0) {
      pendingRefusal_ = kAnswerTooManyBytes;
    }
    FinishFrame();
  }
}

void HandController::FinishFrame() {
  ReceivedCommand cmd = std::move(current_);
  const uint8_t refusal = pendingRefusal_;
  ResetParser();
  if (notifyNext_) {
    notifyNext_ = false;
    SendNotification(notifyNextCode_);
    if (!notifyNextAhead_ || switchedOff_) {
      cmd.answerType = kNotifiedInstead;
      KeepReceived(cmd);
      return;
    }
  }
  cmd.answerType = refusal;
  if (refusal == 0) Execute(cmd);
  if (cmd.answerType != kAnswerTypeOk) {
    const uint8_t counter =
        cmd.answerType == kAnswerUnknownCommand ? kCounterUnknownCommand : cmd.counter;
    QueueAnswer(cmd.command, counter, cmd.answerType);
  }
  KeepReceived(cmd);
}

void HandController::KeepReceived(const ReceivedCommand& cmd) {
  if (received_.size() >= kReceivedKept) received_.pop_front();
  received_.push_back(cmd);
}

void HandController::Execute(ReceivedCommand& cmd) {
  switch (cmd.command) {
    case kCmdInformation:
      cmd.answerType = ExecuteInformation(cmd);
      break;
    case kCmdButtonEvent:
      cmd.answerType = ExecuteButton(cmd);
      break;
    case kCmdDisplayFrame:
      cmd.answerType = ExecuteDisplay(cmd);
      break;
    case kCmdColors:
      cmd.answerType = ExecuteColors(cmd);
      break;
    default:
      cmd.answerType = kAnswerUnknownCommand;
      break;
  }
}

// ---- the commands ----

uint8_t HandController::ExecuteInformation(const ReceivedCommand& cmd) {
  if (cmd.params.empty()) return kAnswerCannotExecute;
  if (cmd.params.size() > 1) return kAnswerTooManyParameters;
  const HandControllerInfo& info = options_.info;
  Bytes params;
  Bytes bulk;
  switch (cmd.params[0].first) {
    case kItemMode: {
      Bytes data;
      PutLe16(data, info.protocolVersion1);
      PutLe16(data, info.protocolVersion2);
      static_assert(kModeDataLength == 4);
      PutParam(params, options_.bootMode == BootMode::Boot ? kAnswerModeBoot : kAnswerModeApp,
               data);
      break;
    }
    case kItemDescriptor: {
      bulk = DescriptorBlock();
      Bytes length;
      PutLe32(length, static_cast<uint32_t>(bulk.size()));
      PutParam(params, kItemDescriptor);
      PutParam(params, kParamBulkLength, length);
      PutParam(params, kParamBulkSegments);
      break;
    }
    case kItemChipId: {
      Bytes data;
      for (size_t i = 0; i < kChipIdBytes; ++i) {
        data.push_back(static_cast<uint8_t>(info.chipId >> (8 * i)));
      }
      data.insert(data.end(), info.uniqueId.begin(), info.uniqueId.end());
      PutParam(params, kItemChipId, data);
      break;
    }
    case kItem17:
      PutParam(params, kItem17, {info.item17});
      break;
    case kItemText:
      PutParam(params, kItemText, Bytes(info.text.begin(), info.text.end()));
      break;
    default:
      return kAnswerUnknownParameter;
  }
  QueueAnswer(cmd.command, cmd.counter, kAnswerTypeOk, params);
  QueueBytes(bulk.data(), bulk.size());
  return kAnswerTypeOk;
}

uint8_t HandController::ExecuteButton(const ReceivedCommand& cmd) {
  if (cmd.params.empty()) return kAnswerCannotExecute;
  if (cmd.params.size() > 1) return kAnswerTooManyParameters;
  const uint8_t id = cmd.params[0].first;
  QueueAnswer(cmd.command, cmd.counter, kAnswerTypeOk);
  ApplyKey(static_cast<UiKey>(id & kButtonKeyBits), (id & kButtonParamRelease) == 0);
  return kAnswerTypeOk;
}

uint8_t HandController::ExecuteDisplay(const ReceivedCommand& cmd) {
  if (cmd.params.size() > 2) return kAnswerTooManyParameters;
  bool whole = false;
  for (const auto& param : cmd.params) whole = whole || param.first == kParamWholeDisplay;
  if (cmd.params.size() == 2 && cmd.params[0].first == cmd.params[1].first) {
    return kAnswerTooManyParameters;
  }
  const bool streamed = options_.bulkMode == BulkMode::Streamed;
  EncodeOptions encoding;
  if (streamed && options_.padStreamedFrames) {
    encoding.endToken = true;
    encoding.padToMultiple = kDeviceStreamPadding;
  }
  const EncodedFrame frame = encoder_.NextFrame(screen_, whole, options_.streamBudget, encoding);
  ++framesSent_;
  const DisplayMisanswer misanswer = misanswer_;
  misanswer_ = DisplayMisanswer::None;
  uint8_t counter = cmd.counter;
  if (misanswer == DisplayMisanswer::WrongCounter) {
    counter = cmd.counter >= kCounterLast ? kCounterFirst : static_cast<uint8_t>(cmd.counter + 1);
  }

  Bytes info;
  PutLe16(info, kDisplayWidth);
  PutLe16(info, kDisplayHeight);
  PutLe32(info, framesSent_);
  PutLe32(info, frame.changedPixels);
  if (misanswer == DisplayMisanswer::ShortInfo) info.pop_back();
  Bytes length;
  PutLe32(length, static_cast<uint32_t>(frame.bytes.size()));
  Bytes params;
  PutParam(params, kParamDisplayInfo, info);  // first: the one after 252 is never looked at
  PutParam(params, kParamBulkLength, length);
  PutParam(params, streamed ? kParamBulkStream : kParamBulkSegments);
  QueueAnswer(cmd.command, counter, kAnswerTypeOk, params);

  if (streamed) {
    QueueBytes(frame.bytes.data(), frame.bytes.size());
    return kAnswerTypeOk;
  }
  // Segments: each is an answer frame and bulk bytes, together at most segmentSize.
  size_t header = kAnswerHeaderSize + params.size();
  size_t at = 0;
  while (true) {
    const size_t room = options_.segmentSize > header ? options_.segmentSize - header : 1;
    const size_t k = std::min(room, frame.bytes.size() - at);
    QueueBytes(frame.bytes.data() + at, k);
    at += k;
    if (at >= frame.bytes.size()) break;
    QueueAnswer(cmd.command, counter, kAnswerTypeOk);
    header = kAnswerHeaderSize;
  }
  return kAnswerTypeOk;
}

uint8_t HandController::ExecuteColors(const ReceivedCommand& cmd) {
  if (cmd.params.empty()) return kAnswerCannotExecute;
  if (cmd.params.size() > 1) return kAnswerTooManyParameters;
  const auto& [id, data] = cmd.params[0];
  const uint16_t index = static_cast<uint16_t>(data[0] | (data[1] << 8));
  if (index >= kDeviceColorEntries) return kAnswerCannotExecute;
  if (id == kParamReadColor) {
    const auto& entry = colors_[index];
    Bytes params;
    PutParam(params, kParamReadColor, Bytes(entry.begin(), entry.end()));
    QueueAnswer(cmd.command, cmd.counter, kAnswerTypeOk, params);
    return kAnswerTypeOk;
  }
  std::copy_n(data.begin() + kColorIndexBytes, kColorEntryBytes, colors_[index].begin());
  QueueAnswer(cmd.command, cmd.counter, kAnswerTypeOk);
  Redraw();
  return kAnswerTypeOk;
}

void HandController::HoldScreen(const uint16_t* pixels) {
  heldScreen_.assign(pixels, pixels + kDisplayPixels);
  Redraw();
}

void HandController::ReleaseScreen() {
  heldScreen_.clear();
  Redraw();
}

std::array<uint8_t, 4> HandController::ColorEntry(uint16_t index) const {
  return index < kDeviceColorEntries ? colors_[index] : std::array<uint8_t, 4>{};
}

void HandController::SetColorEntry(uint16_t index, std::array<uint8_t, 4> bgr0) {
  if (index >= kDeviceColorEntries) return;
  colors_[index] = bgr0;
  Redraw();
}
