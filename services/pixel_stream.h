// The pixel stream decoder: the device's compressed display frame, read from a
// word source, expanded into change masks and new values (stage 1), then the
// masks applied to a frame of 76800 pixels (stage 2).
//
// Owns: ExpansionBuffer,
// ExpandTokens and ApplyChangeMasks with their SIMD kernels. Does not own:
// where the words come from (a BulkWordSource, protocol/answer_frame), the
// FrameBuffer, the word-source slot or the display request
// (services/display_frame).
#pragma once

#include <cstdint>

#include "protocol/answer_frame.h"
#include "protocol/wire.h"

constexpr int kMaskedPixels = kMaskCount * 16;
constexpr int kExpansionWords = 163202;

extern uint16_t ExpansionBuffer[kExpansionWords];

// What stage 1 does when its source breaks (BulkWordSource::Broken).
enum class OnSourceBreak {
  ReadOn,  // take the source's zeros as words, as any short stream
  Stop,    // stop before the token the break cut into
};

// Stage 1: the tokens of `count` stream words into the ExpansionBuffer. Stops
// at the end token or when the buffer is full (a run that would pass its end
// is cut there). False when the source broke and onBreak said Stop.
bool ExpandTokens(BulkWordSource& source, int32_t count, OnSourceBreak onBreak);

// Stage 2: the 4800 change masks applied to `frame` (kMaskedPixels words)
// with the values that follow them; never reads past expanded word 81599.
// `frame` is not the ExpansionBuffer (the copies rely on it).
void ApplyChangeMasks(uint16_t* __restrict frame);
