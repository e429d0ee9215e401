#include "services/colors.h"

#include <cstdio>

#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"
#include "protocol/command_frame.h"
#include "protocol/link_startup.h"

namespace {

constexpr uint16_t kColorAnswerMinLength = 9;    // shorter answers change nothing
constexpr uint16_t kColorAnswerFullLength = 11;  // answer bytes 7-10 hold the entry
constexpr size_t kColorOffset = 7;               // after header, parameter id and length
constexpr const char* kLabelEmpty = "Colors:";

uint8_t Blue(uint32_t color) {
  return static_cast<uint8_t>(color);
}
uint8_t Green(uint32_t color) {
  return static_cast<uint8_t>(color >> 8);
}
uint8_t Red(uint32_t color) {
  return static_cast<uint8_t>(color >> 16);
}

// Command 253 with the parameter and the 2 index bytes (low 16 bits, little-endian).
void BeginColorCommand(uint8_t param, int selection) {
  const uint8_t index[2] = {static_cast<uint8_t>(selection), static_cast<uint8_t>(selection >> 8)};
  VK3cmd_Begin(kCmdColors);
  VK3cmd_AddParam(param, index, sizeof index);
}

void ShowColor(PanelUi& ui, uint32_t color) {
  char label[48];
  std::snprintf(label, sizeof label, "Colors:  (%d, %d, %d)", Red(color), Green(color),
                Blue(color));
  ui.SetColorLabel(label);
}

}  // namespace

void ReadColorEntry(PanelUi& ui, uint32_t& currentColor) {
  const int selection = ui.ColorSelection();
  if (selection < 0) {
    ui.SetColorLabel(kLabelEmpty);
    return;
  }
  BeginColorCommand(kParamReadColor, selection);
  if (VK3cmd_Send() != kResultOk) return;
  if (VK3cmd_Receive() != kResultOk) return;

  // A received answer is complete up to its own length L (at most the frame).
  const AnswerFrame& answer = theChannel.answerFrame;
  const uint16_t length = answer.Length();
  if (length < kColorAnswerMinLength || length > kFrameCapacity) return;
  if (length >= kColorAnswerFullLength) {
    const uint8_t* entry = answer.bytes + kColorOffset;
    currentColor = static_cast<uint32_t>(entry[0]) | (static_cast<uint32_t>(entry[1]) << 8) |
                   (static_cast<uint32_t>(entry[2]) << 16) |
                   (static_cast<uint32_t>(entry[3]) << 24);
  }
  ShowColor(ui, currentColor);
}

void ChangeColorEntry(PanelUi& ui, uint32_t& currentColor) {
  ReadColorEntry(ui, currentColor);
  const int selection = ui.ColorSelection();
  if (selection < 0) return;
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  if (!ui.PickColor(Red(currentColor), Green(currentColor), Blue(currentColor), &red, &green,
                    &blue)) {
    return;
  }
  BeginColorCommand(kParamWriteColor, selection);
  currentColor = blue | (static_cast<uint32_t>(green) << 8) | (static_cast<uint32_t>(red) << 16);
  const uint8_t entry[kColorEntryBytes] = {blue, green, red, 0};
  VK3cmd_AppendData(entry, kColorEntryBytes);
  if (VK3cmd_Send() == kResultOk) VK3cmd_Receive();
  ReadColorEntry(ui, currentColor);
}
