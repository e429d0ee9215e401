// Button events (command 174) and the Esc line (CBUS1 of the bridge).
//
// Owns: the key table, VK3cmd_InsertButtonEvent with its sorting of results,
// PushEsc. Does not own: key translation from the toolkit (the window maps its
// keys to device key numbers with DeviceKeyForVirtualKey's table).
#pragma once

#include <cstdint>

#include "protocol/result_codes.h"
#include "protocol/wire.h"
#include "services/panel_ui.h"

constexpr int32_t kButtonRelease = 128;  // added to a key number: its release
constexpr uint32_t kEscPulseMs = 200;

// The device key for a PC virtual-key code (Esc 0x1B, Enter 0x0D, arrows 0x25-0x28), or -1.
int DeviceKeyForVirtualKey(uint32_t virtualKey);
// 0x20 | (code & 0x0F) | 0x10 for a release (code >= 128).
uint8_t ButtonParamId(int32_t code);

// -1 not Connected (nothing sent); 0 delivered (0 or 12); 1 a box was shown.
int32_t VK3cmd_InsertButtonEvent(PanelUi& ui, int32_t code);

// Opens the link if closed, drives CBUS1 high for 200 ms, then low.
ResultCode PushEsc();
