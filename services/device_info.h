// Device information: the information query (command 248) for the mode, the
// chip and unique identifiers, item 17 and the text item; the composite query
// with the bridge's serial and description; and the "Device Info" report.
//
// Owns: the exchanges, DeviceInfo, the report text. Does not own: the box
// (PanelUi) or the connect decision (the window uses VK3cmd_GetMode as probe).
#pragma once

#include <cstdint>
#include <string>

#include "protocol/result_codes.h"
#include "protocol/wire.h"
#include "services/panel_ui.h"

struct DeviceInfo {
  char bridgeSerial[9] = {};
  char bridgeDescription[65] = {};
  int32_t bootMode = 0;
  uint16_t protocolVersion1 = 0;
  uint16_t protocolVersion2 = 0;
  uint64_t chipId = 0;
  char uniqueId[17] = {};
  uint8_t infoItem17 = 0;
  char infoText[33] = {};
};

ResultCode VK3cmd_GetMode(int32_t* bootMode, uint16_t* protocolVersion1,
                          uint16_t* protocolVersion2);
// uniqueId may be null; otherwise it receives 16 bytes.
ResultCode VK3cmd_GetChipId(uint64_t* chipId, uint8_t* uniqueId);
ResultCode VK3cmd_GetInfoItem17(uint8_t* value);
// text receives 32 bytes.
ResultCode VK3cmd_GetInfoText(char* text);
ResultCode VK3cmd_GetDeviceInfo(DeviceInfo* info);

// The report of "Device Info" for a filled record.
std::string DeviceInfoReport(const DeviceInfo& info);

// The "Device Info" action: the report box, or "Error: %s" with caption "ERROR".
void ShowDeviceInfo(PanelUi& ui);
