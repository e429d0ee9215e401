// The device's side of the pixel stream, for the tests: the expanded frame of
// a display change (masks, then values) and its token encoding.
//
// Owns: Marker, ExpandChanges, EncodeStream, StreamBytes and a scripted word
// source for driving the decoder directly. Does not own: decoding (services/).
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/fake_driver.h"

using Words = std::vector<uint16_t>;

// The marker prefix of token k.
constexpr uint16_t Marker(uint32_t k) {
  return static_cast<uint16_t>(0x9180 + k * 0x0A80);
}

// The expanded frame that turns `before` into `after` (76800 pixels each):
// 4800 change masks, then the new values of the changed pixels.
Words ExpandChanges(const uint16_t* before, const uint16_t* after);
// Tokens for an expanded frame: runs of 2..128 equal words, literals, a
// literal carrying the current marker sent twice; optionally an end token.
Words EncodeStream(const Words& expanded, bool endToken = false);
// Little-endian bytes of the words.
Bytes StreamBytes(const Words& words);

// A word source for NextBulkWord that serves `words` and then zeros, and
// counts every call.
void ServeWords(const Words& words);
uint16_t ServedWord();
size_t WordsAsked();
