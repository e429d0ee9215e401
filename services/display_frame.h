// Display frames: the display frame request (command 209), the two-stage
// decoder of the device's pixel stream and the program's copy of the device
// display.
//
// Owns: FrameBuffer, ExpansionBuffer, fullRefresh, NextBulkWord,
// VK3cmd_GetDisplayFrame, DecodeDisplayFrame. Does not own: drawing (the
// window's view, via RenderFrame in frame_view.h) or when to refresh (the window).
#pragma once

#include <cstdint>

#include "protocol/result_codes.h"
#include "protocol/wire.h"

constexpr int kExpansionWords = 163202;

extern uint16_t FrameBuffer[kDisplayPixels];
extern uint16_t ExpansionBuffer[kExpansionWords];
extern bool fullRefresh;

using WordSource = uint16_t (*)();
extern WordSource NextBulkWord;

ResultCode VK3cmd_GetDisplayFrame(bool full);
void DecodeDisplayFrame(int32_t count);

// Back to the program-start state: black FrameBuffer, fullRefresh set (tests).
void ResetDisplayState();
