// Command frames: building the frame in place and validating it against the
// device's descriptor table.
//
// Owns: VK3cmd_Begin, VK3cmd_AddParam, VK3cmd_AppendData and the counter.
// Does not own: sending (link_startup.h) or the table's content (the handshake).
// Results are small local codes (0 ok, 1 unknown command, 2 unknown parameter,
// 3 wrong length, 4 frame full) that no caller acts on: a rejected item is
// simply missing from the frame.
#pragma once

#include <cstdint>

constexpr int kFrameOk = 0;
constexpr int kFrameUnknownCommand = 1;
constexpr int kFrameUnknownParam = 2;
constexpr int kFrameWrongLength = 3;
constexpr int kFrameFull = 4;

int VK3cmd_Begin(uint8_t command);
int VK3cmd_AddParam(uint8_t id, const void* data, int32_t length);
int VK3cmd_AppendData(const void* data, uint16_t length);
