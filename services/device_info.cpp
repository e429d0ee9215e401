#include "services/device_info.h"

#include <cstdio>
#include <cstring>

#include "link/usb_device.h"
#include "protocol/answer_frame.h"
#include "protocol/command_frame.h"
#include "protocol/link_startup.h"

namespace {

constexpr size_t kSerialChars = 8;
constexpr size_t kDescriptionChars = 64;
constexpr uint8_t kTextEmptyMarker = 255;
constexpr char kUniqueIdBlank = ' ';

// One information exchange: command 248 with the item as its only parameter.
ResultCode AskItem(uint8_t item) {
  VK3cmd_Begin(kCmdInformation);
  VK3cmd_AddParam(item, nullptr, 0);
  ResultCode r = VK3cmd_Send();
  if (r != kResultOk) return r;
  return VK3cmd_Receive();
}

// The data of a found answer parameter when its length byte is `length` and
// all of its data is inside the answer the device sent; otherwise 58.
ResultCode CheckParam(const uint8_t* param, uint8_t length, const uint8_t** data) {
  if (param[1] != length || !VK3cmd_ParamInAnswer(param)) return kResultBadParameterLength;
  *data = param + 2;
  return kResultOk;
}

// The exchange for an item whose answer parameter has the item's own id.
ResultCode QueryItem(uint8_t item, uint8_t length, const uint8_t** data) {
  ResultCode r = AskItem(item);
  if (r != kResultOk) return r;
  const uint8_t* param = VK3cmd_FindParam(item);
  if (param == nullptr) return kResultNoAnswerParameter;
  return CheckParam(param, length, data);
}

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint64_t Le64(const uint8_t* p) {
  uint64_t value = 0;
  for (size_t i = kChipIdBytes; i-- > 0;) value = (value << 8) | p[i];
  return value;
}

// Copies at most `chars` characters of text into a zero-filled field of chars + 1.
void CopyCut(char* field, const char* text, size_t chars) {
  std::memset(field, 0, chars + 1);
  if (text == nullptr) return;
  std::memcpy(field, text, strnlen(text, chars));
}

template <typename... Args>
void AppendFormatted(std::string& text, const char* format, Args... args) {
  char piece[128];
  int n = std::snprintf(piece, sizeof piece, format, args...);
  if (n > 0) text.append(piece, static_cast<size_t>(n) < sizeof piece ? n : sizeof piece - 1);
}

}  // namespace

ResultCode VK3cmd_GetMode(int32_t* bootMode, uint16_t* protocolVersion1,
                          uint16_t* protocolVersion2) {
  ResultCode r = AskItem(kItemMode);
  if (r != kResultOk) return r;
  const uint8_t* param = VK3cmd_FindParam(kAnswerModeBoot);
  const bool boot = param != nullptr;
  if (!boot) param = VK3cmd_FindParam(kAnswerModeApp);
  if (param == nullptr) return kResultNoAnswerParameter;
  const uint8_t* data = nullptr;
  r = CheckParam(param, kModeDataLength, &data);
  if (r != kResultOk) return r;
  *bootMode = boot ? 1 : 0;
  *protocolVersion1 = Le16(data);
  *protocolVersion2 = Le16(data + 2);
  return kResultOk;
}

ResultCode VK3cmd_GetChipId(uint64_t* chipId, uint8_t* uniqueId) {
  const uint8_t* data = nullptr;
  ResultCode r = QueryItem(kItemChipId, kChipIdDataLength, &data);
  if (r != kResultOk) return r;
  *chipId = Le64(data);
  if (uniqueId != nullptr) std::memcpy(uniqueId, data + kChipIdBytes, kUniqueIdBytes);
  return kResultOk;
}

ResultCode VK3cmd_GetInfoItem17(uint8_t* value) {
  const uint8_t* data = nullptr;
  ResultCode r = QueryItem(kItem17, kItem17DataLength, &data);
  if (r != kResultOk) return r;
  *value = data[0];
  return kResultOk;
}

ResultCode VK3cmd_GetInfoText(char* text) {
  const uint8_t* data = nullptr;
  ResultCode r = QueryItem(kItemText, kTextDataLength, &data);
  if (r != kResultOk) return r;
  std::memcpy(text, data, kTextDataLength);
  if (data[0] == kTextEmptyMarker) text[0] = '\0';
  return kResultOk;
}

ResultCode VK3cmd_GetDeviceInfo(DeviceInfo* info) {
  ResultCode r = VK3cmd_GetMode(&info->bootMode, &info->protocolVersion1, &info->protocolVersion2);
  if (r != kResultOk) return r;
  r = VK3cmd_GetChipId(&info->chipId, reinterpret_cast<uint8_t*>(info->uniqueId));
  if (r != kResultOk) return r;
  r = VK3cmd_GetInfoItem17(&info->infoItem17);
  if (r != kResultOk) return r;
  info->uniqueId[kUniqueIdBytes] = '\0';
  for (size_t i = 0; i < kUniqueIdBytes; ++i) {
    if (info->uniqueId[i] == '\0') info->uniqueId[i] = kUniqueIdBlank;
  }
  CopyCut(info->bridgeSerial, theUsbDevice.QuerySerial(), kSerialChars);
  CopyCut(info->bridgeDescription, theUsbDevice.QueryDescr(), kDescriptionChars);
  r = VK3cmd_GetInfoText(info->infoText);
  info->infoText[kTextDataLength] = '\0';
  return r;
}

std::string DeviceInfoReport(const DeviceInfo& info) {
  // The record's texts may come from anywhere: never read past their fields.
  char serial[sizeof info.bridgeSerial];
  char uniqueId[sizeof info.uniqueId];
  CopyCut(serial, info.bridgeSerial, sizeof serial - 1);
  CopyCut(uniqueId, info.uniqueId, sizeof uniqueId - 1);

  std::string text;
  AppendFormatted(text, "FTDI info:\n  Serial: %s\n\n", serial);
  AppendFormatted(text, "Vesk-3 info:\n  Mode: %s\n", info.bootMode != 0 ? "BOOT" : "APP");
  AppendFormatted(text, "  Protocol ver.: %04x / %04x\n", unsigned{info.protocolVersion1},
                  unsigned{info.protocolVersion2});
  AppendFormatted(text, "  Chip ID: %x-%08x\n", static_cast<unsigned>(info.chipId >> 32),
                  static_cast<unsigned>(info.chipId & 0xFFFFFFFFu));
  AppendFormatted(text, "  Unique ID: '%16s'\n", uniqueId);
  return text;
}

void ShowDeviceInfo(PanelUi& ui) {
  DeviceInfo info;
  ResultCode r = VK3cmd_GetDeviceInfo(&info);
  if (r != kResultOk) {
    ui.ShowMessage(std::string("Error: ") + ResultText(r), "ERROR", BoxIcon::Error);
    return;
  }
  ui.ShowMessage(DeviceInfoReport(info), "Vesk-3 device info", BoxIcon::None);
}
