// Display frames: the display frame request (command 209) and the program's
// copy of the device display.
//
// Owns: FrameBuffer, fullRefresh, NextBulkWord, VK3cmd_GetDisplayFrame and
// DecodeDisplayFrame (the decoder on NextBulkWord into the FrameBuffer). Does
// not own: the decoder itself (services/pixel_stream), drawing (the window's
// view, via RenderFrame in frame_view.h) or when to refresh (the window).
#pragma once

#include <cstdint>

#include "protocol/result_codes.h"
#include "protocol/wire.h"
#include "services/pixel_stream.h"

extern uint16_t FrameBuffer[kDisplayPixels];
extern bool fullRefresh;

using WordSource = uint16_t (*)();
extern WordSource NextBulkWord;

ResultCode VK3cmd_GetDisplayFrame(bool full);
void DecodeDisplayFrame(int32_t count);

// Back to the program-start state: black FrameBuffer, fullRefresh set (tests).
void ResetDisplayState();
