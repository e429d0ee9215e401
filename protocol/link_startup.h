// Link start-up and sending: every command frame goes out through VK3cmd_Send,
// which first brings the link to open, configured and handshaken.
//
// Owns: VK3cmd_Send, VK3cmd_EnsureOpen (drain, hold-off with its beep, open,
// configure any open link not yet configured, the one-time wake-up at 9600
// baud, the wait for a quiet line and the handshake with the descriptor
// download), VK3cmd_LoadDescriptorTable and VK3cmd_Init.
// Does not own: building frames (command_frame.h), reading answers (answer_frame.h).
#pragma once

#include <cstdint>

#include "protocol/result_codes.h"
#include "protocol/wire.h"

constexpr uint32_t kWakeUpSettleMs = 550;
constexpr uint32_t kHoldOffBeepHz = 3000;
constexpr uint32_t kHoldOffBeepMs = 50;
// Before a handshake the line must be quiet: a device held back by flow
// control may still have most of a display stream to send after its answer
// was refused, and reopening empties only the bridge's own small buffer.
// Whatever arrives is dropped until no byte came for this long, polled once
// a millisecond.
constexpr uint32_t kQuietLineMs = 10;
constexpr int32_t kDescriptorBlockMax = 1 << 20;  // larger announcements are refused

ResultCode VK3cmd_Send();
ResultCode VK3cmd_EnsureOpen();
void VK3cmd_Init();

constexpr int kDescriptorOk = 0;
constexpr int kDescriptorCutShort = 1;
constexpr int kDescriptorLeftOver = 2;
int VK3cmd_LoadDescriptorTable(const uint8_t* bytes, int32_t count);
