// The hand controller's encoder of display frames into the pixel stream.
//
// Owns: the expanded frame (4800 change masks, then the new values of the
// changed pixels in pixel order), its token encoding (the marker that
// advances per token, runs of 2..128, literals that carry the current marker
// sent twice, the optional end token) and FrameEncoder, the device's memory
// of what it has sent, so a frame carries only what changed since the last
// frame sent.
// Does not own: the screen (the firmware UI draws it) or the answer frames
// around the stream (hand_controller).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/wire.h"

constexpr size_t kExpandedFrameMax = kMaskCount + kDisplayPixels;  // 81600 words

// The marker prefix of token number k: (0x9180 + k * 0x0A80) mod 0x10000.
constexpr uint16_t StreamMarker(uint32_t token) {
  return static_cast<uint16_t>(kMarkerFirst + token * kMarkerStep);
}

struct EncodeOptions {
  bool endToken = false;     // close the stream with an end token
  size_t padToMultiple = 0;  // pad the bytes with zeros to a multiple of this (0: none)
};

// Tokens of `expanded` (count words) as stream words.
std::vector<uint16_t> EncodeStreamTokens(const uint16_t* expanded, size_t count,
                                         const EncodeOptions& options = {});
// The words as little-endian bytes, padded as the options say.
std::vector<uint8_t> StreamWordsToBytes(const std::vector<uint16_t>& words,
                                        const EncodeOptions& options = {});

// The expanded frame of the pixels where `screen` and `reference` differ, in
// the mask groups [0, groupLimit); groups flagged in `forced` (may be null)
// count as wholly changed. Masks of later groups are 0.
std::vector<uint16_t> ExpandFrameChanges(const uint16_t* screen, const uint16_t* reference,
                                         const bool* forced, int groupLimit = kMaskCount);

struct EncodedFrame {
  std::vector<uint8_t> bytes;  // the pixel stream as it goes on the wire
  uint32_t changedPixels = 0;  // pixels this frame carries
  bool complete = true;        // false: later frames carry the rest of the changes
};

// The device's side of the mirror: what it has sent so far (black at power-up,
// as the host's copy starts).
class FrameEncoder {
 public:
  FrameEncoder();

  // The next frame of `screen`: every pixel when `whole`, otherwise the pixels
  // changed since the last frame sent. A frame is at most `byteBudget` bytes;
  // changes that do not fit are left for the next frame (complete = false).
  EncodedFrame NextFrame(const uint16_t* screen, bool whole, size_t byteBudget,
                         const EncodeOptions& options = {});

  // Forget what was sent: the next frame starts from black.
  void Reset();

  const uint16_t* Sent() const { return sent_; }

 private:
  EncodedFrame EncodeGroups(const uint16_t* screen, int groupLimit,
                            const EncodeOptions& options) const;
  void MarkSent(const uint16_t* screen, int groupLimit);

  uint16_t sent_[kDisplayPixels];
  bool forced_[kMaskCount];
};
