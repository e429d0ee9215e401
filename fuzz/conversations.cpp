#include "fuzz/conversations.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "link/usb_device.h"
#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"
#include "protocol/command_frame.h"
#include "protocol/link_startup.h"
#include "services/colors.h"
#include "services/device_info.h"
#include "services/display_frame.h"
#include "services/panel_ui.h"

namespace {

// ---- whole command exchanges ----------------------------------------------

// Streamed bulk data pulled at most per exchange: a bound, not a rule.
constexpr int32_t kStreamWordsMax = 1 << 18;

struct Command {
  uint8_t code;
  uint8_t params[2];
  int paramCount;
  uint8_t data[2];  // data of the last parameter
  int dataLength;
};

// The frames the program sends, in an order that mixes the services.
constexpr Command kCommands[] = {
    {248, {1}, 1, {}, 0},        // mode query (the connect probe)
    {209, {1, 2}, 2, {}, 0},     // whole display
    {248, {16}, 1, {}, 0},       // chip identifier
    {174, {0x21}, 1, {}, 0},     // Enter pressed
    {253, {193}, 1, {3, 0}, 2},  // read colour entry 3
    {209, {2}, 1, {}, 0},        // display changes
    {248, {209}, 1, {}, 0},      // text item
};

void BuildFrame(const Command& command) {
  VK3cmd_Begin(command.code);
  for (int i = 0; i < command.paramCount; ++i) {
    const bool last = i + 1 == command.paramCount;
    VK3cmd_AddParam(command.params[i], last && command.dataLength > 0 ? command.data : nullptr,
                    last ? command.dataLength : 0);
  }
}

// Pulls streamed bulk data the way the display decoder does.
void PullStream() {
  theChannel.streamPosition = 0;
  theChannel.streamWordCount = 0;
  const int32_t words = theChannel.BulkLength / 2;
  for (int32_t i = 0; i < words && i < kStreamWordsMax; ++i) {
    NextStreamWord();
    if (theChannel.streamPosition == kStreamExhausted) break;
  }
}

// Looks up every parameter id and reads the data of those that are whole.
void LookUpParameters() {
  for (int id = 1; id < 256; ++id) {
    const uint8_t* param = VK3cmd_FindParam(static_cast<uint8_t>(id));
    if (param == nullptr) continue;
    if (*param != id) FuzzFailure("FindParam returned another parameter");
    if (VK3cmd_ParamInAnswer(param)) {
      volatile uint8_t sum = 0;
      for (int i = 0; i < param[1]; ++i) sum = static_cast<uint8_t>(sum + param[2 + i]);
    }
  }
}

void RunExchange(ElapsedMs elapsed, const Command& command) {
  const uint64_t startMs = elapsed ? elapsed() : 0;
  BuildFrame(command);
  ResultCode r = VK3cmd_Send();
  RequireKnownResult(r);
  if (r == kResultOk) {
    r = VK3cmd_Receive();
    RequireKnownResult(r);
    if (r == kResultPoweredOff && theUsbDevice.IsOpen()) FuzzFailure("powered off, link open");
    if (r == kResultOk) {
      if (!theChannel.BulkInMemory) PullStream();
      LookUpParameters();
    }
  }
  RequireBoundedTime(elapsed, startMs, 1);
}

// ---- the window's side of the services -------------------------------------

constexpr const char* kReportCaption = "Vesk-3 device info";
constexpr const char* kReportStart = "FTDI info:\n  Serial: ";
constexpr const char* kErrorCaption = "ERROR";
constexpr const char* kErrorStart = "Error: ";
constexpr int kColorSelection = 3;
constexpr const char* kLabelEmpty = "Colors:";

bool StartsWith(const std::string& text, const char* start) {
  return text.rfind(start, 0) == 0;
}

// A connected window with colour entry 3 selected, whose picker answers pure
// red. It records the boxes; the services must never ask for the failure boxes.
class ServiceWindow : public PanelUi {
 public:
  PanelState CurrentPanelState() const override { return Connected; }
  void ShowDeviceNotification(ResultCode) override { FuzzFailure("notification box"); }
  void ShowCommandError(const char*, ResultCode) override { FuzzFailure("command error box"); }
  void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon) override {
    ++boxes;
    lastText = text;
    lastCaption = caption;
    lastIcon = icon;
  }
  int ColorSelection() const override { return kColorSelection; }
  void SetColorLabel(const std::string& text) override { CheckLabel(text); }
  bool PickColor(uint8_t, uint8_t, uint8_t, uint8_t* red, uint8_t* green, uint8_t* blue) override {
    *red = 255;
    *green = 0;
    *blue = 0;
    return true;
  }

  // Exactly one box: the report without icon, or the error box with its icon.
  void CheckDeviceInfoBox() const {
    if (boxes != 1) FuzzFailure("Device Info showed other than one box");
    if (lastCaption == kReportCaption) {
      if (!StartsWith(lastText, kReportStart) || lastIcon != BoxIcon::None) {
        FuzzFailure("malformed report box");
      }
    } else if (lastCaption == kErrorCaption) {
      if (!StartsWith(lastText, kErrorStart) || lastIcon != BoxIcon::Error) {
        FuzzFailure("malformed error box");
      }
    } else {
      FuzzFailure("box with an unknown caption");
    }
  }

  int boxes = 0;
  std::string lastText, lastCaption;
  BoxIcon lastIcon = BoxIcon::None;

 private:
  // The label is "Colors:" or the three components of a colour entry.
  static void CheckLabel(const std::string& text) {
    if (text == kLabelEmpty) return;
    int red = -1, green = -1, blue = -1;
    int end = 0;
    if (std::sscanf(text.c_str(), "Colors:  (%d, %d, %d)%n", &red, &green, &blue, &end) != 3 ||
        static_cast<size_t>(end) != text.size() || red < 0 || red > 255 || green < 0 ||
        green > 255 || blue < 0 || blue > 255) {
      FuzzFailure("malformed colour label");
    }
  }
};

// ---- frame building against a loaded table ---------------------------------

constexpr size_t kStepBytes = 3;

// Data the frame builder copies from; large enough for any 16-bit length.
uint8_t dataPool[1 << 16];

// The frame is never longer than the frame, and CurrentDescriptor, when set,
// is the table's entry for the command in byte 0.
void CheckFrame() {
  const CommandFrame& frame = theChannel.commandFrame;
  if (frame.count > kFrameCapacity) FuzzFailure("frame longer than 528 bytes");
  if (theChannel.FrameCounter < kCounterFirst || theChannel.FrameCounter > kCounterLast) {
    FuzzFailure("counter out of 1..239");
  }
  if (frame.CurrentDescriptor == nullptr) return;
  if (frame.count < 2) FuzzFailure("validated frame without code and counter");
  auto entry = theChannel.DescriptorTable.find(frame.bytes[0]);
  if (entry == theChannel.DescriptorTable.end() || &entry->second != frame.CurrentDescriptor) {
    FuzzFailure("CurrentDescriptor is not the table entry of the command");
  }
}

void RunStep(const uint8_t* step, const uint8_t* block, int32_t blockLength) {
  const uint8_t a = step[1];
  const uint8_t b = step[2];
  switch (step[0] % kStepKinds) {
    case kStepBegin:
      VK3cmd_Begin(a);
      break;
    case kStepParam:
      VK3cmd_AddParam(a, dataPool, b);
      break;
    case kStepParamNone:
      VK3cmd_AddParam(a, nullptr, b);
      break;
    case kStepAppend:
      VK3cmd_AppendData(dataPool, static_cast<uint16_t>(a * 256 + b));
      break;
    case kStepReload:
      VK3cmd_LoadDescriptorTable(b % 2 ? nullptr : block, b % 2 ? 0 : blockLength);
      break;
  }
  CheckFrame();
}

uint16_t mirrorBefore[kDisplayPixels];

}  // namespace

void ConverseCommandExchanges(ElapsedMs elapsed) {
  for (const Command& command : kCommands) RunExchange(elapsed, command);
}

void ConverseDisplayFrames(ElapsedMs elapsed) {
  for (bool full : {true, false, false}) {
    const uint64_t startMs = elapsed ? elapsed() : 0;
    std::memcpy(mirrorBefore, FrameBuffer, sizeof mirrorBefore);
    const ResultCode r = VK3cmd_GetDisplayFrame(full);
    RequireKnownResult(r);
    RequireBoundedTime(elapsed, startMs, 1);
    // A failed refresh decodes nothing: the mirror keeps what it showed.
    if (r != kResultOk && std::memcmp(mirrorBefore, FrameBuffer, sizeof mirrorBefore) != 0) {
      FuzzFailure("a failed display exchange changed the FrameBuffer");
    }
  }
}

void ConverseDeviceInfo(ElapsedMs elapsed) {
  for (int run = 0; run < 2; ++run) {
    const uint64_t startMs = elapsed ? elapsed() : 0;
    ServiceWindow window;
    ShowDeviceInfo(window);
    window.CheckDeviceInfoBox();
    RequireBoundedTime(elapsed, startMs, 4);  // four exchanges per query
  }
}

void ConverseColorEntries(ElapsedMs elapsed) {
  ServiceWindow window;
  uint32_t currentColor = 0;
  const uint64_t startMs = elapsed ? elapsed() : 0;
  ReadColorEntry(window, currentColor);
  ChangeColorEntry(window, currentColor);
  if (window.boxes != 0) FuzzFailure("the colour actions show no box");
  RequireBoundedTime(elapsed, startMs, 4);  // read, read, write, read-back
}

void BuildFramesAgainstBlock(const uint8_t* data, size_t size) {
  if (size < 2) return;
  const size_t announced = data[0] | (data[1] << 8);
  const size_t blockLength = announced < size - 2 ? announced : size - 2;
  // The block in a buffer of its own length, so a read past it is caught.
  const Bytes block(data + 2, data + 2 + blockLength);
  const int32_t count = static_cast<int32_t>(blockLength);

  const int loaded = VK3cmd_LoadDescriptorTable(block.data(), count);
  if (loaded < kDescriptorOk || loaded > kDescriptorLeftOver) FuzzFailure("unknown load result");

  const uint8_t* steps = data + 2 + blockLength;
  const size_t stepBytes = size - 2 - blockLength;
  for (size_t at = 0; at + kStepBytes <= stepBytes; at += kStepBytes) {
    RunStep(steps + at, block.data(), count);
  }
}

namespace {

// A fresh session whose device answers with the input; the link started first
// with canned answers when the target fuzzes the steady state.
template <typename Conversation>
void Serve(const uint8_t* data, size_t size, bool startLink, Conversation conversation) {
  FuzzSession session;
  if (startLink) session.StartLinkCanned();
  session.driver.ServeReplies(DecodeReplies(data, size));
  session.driver.QueueWaitingBytes();
  conversation(SessionElapsedMs);
}

}  // namespace

void FuzzCommandExchange(const uint8_t* data, size_t size) {
  Serve(data, size, false, ConverseCommandExchanges);
}

void FuzzDescriptorTable(const uint8_t* data, size_t size) {
  FuzzSession session;
  BuildFramesAgainstBlock(data, size);
}

void FuzzDisplayFrame(const uint8_t* data, size_t size) {
  Serve(data, size, true, ConverseDisplayFrames);
}

void FuzzDeviceInfo(const uint8_t* data, size_t size) {
  Serve(data, size, true, ConverseDeviceInfo);
}

void FuzzColorRead(const uint8_t* data, size_t size) {
  Serve(data, size, true, ConverseColorEntries);
}
