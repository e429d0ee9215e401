#include "sim/pixel_encoder.h"

#include <algorithm>

namespace {

constexpr uint16_t kMaskFirstPixel = 0x8000;
constexpr size_t kBytesPerWord = 2;
constexpr uint16_t kEndTokenSecondWord = 0;  // never equal to the first, so never a literal

class TokenWriter {
 public:
  explicit TokenWriter(std::vector<uint16_t>& out) : out_(out) {}

  uint16_t Marker() const { return StreamMarker(token_); }
  bool CarriesMarker(uint16_t w) const { return (w & kStreamMarkerMask) == Marker(); }

  void Literal(uint16_t w) {
    out_.push_back(w);
    if (CarriesMarker(w)) out_.push_back(w);  // sent twice: the decoder reads it as one
    ++token_;
  }
  void Run(size_t n, uint16_t value) {
    out_.push_back(static_cast<uint16_t>(Marker() | (n - kStreamRunMin)));
    out_.push_back(value);
    ++token_;
  }
  void End() {
    out_.push_back(static_cast<uint16_t>(Marker() | kStreamEndBits));
    out_.push_back(kEndTokenSecondWord);
    ++token_;
  }

 private:
  std::vector<uint16_t>& out_;
  uint32_t token_ = 0;
};

size_t EqualWordsAt(const uint16_t* words, size_t count, size_t at) {
  size_t n = 1;
  while (at + n < count && n < kStreamRunMax && words[at + n] == words[at]) ++n;
  return n;
}

}  // namespace

std::vector<uint16_t> EncodeStreamTokens(const uint16_t* expanded, size_t count,
                                         const EncodeOptions& options) {
  std::vector<uint16_t> out;
  out.reserve(count / 2 + 16);
  TokenWriter writer(out);
  size_t at = 0;
  while (at < count) {
    size_t n = EqualWordsAt(expanded, count, at);
    const uint16_t value = expanded[at];
    // A run whose value equals its own first word would read back as a literal.
    if (n >= kStreamRunMin && value == (writer.Marker() | (n - kStreamRunMin))) --n;
    if (n >= kStreamRunMin) {
      writer.Run(n, value);
    } else {
      n = 1;
      writer.Literal(value);
    }
    at += n;
  }
  if (options.endToken) writer.End();
  return out;
}

std::vector<uint8_t> StreamWordsToBytes(const std::vector<uint16_t>& words,
                                        const EncodeOptions& options) {
  std::vector<uint8_t> bytes;
  bytes.reserve(words.size() * kBytesPerWord + options.padToMultiple);
  for (uint16_t w : words) {
    bytes.push_back(static_cast<uint8_t>(w & 0xFF));
    bytes.push_back(static_cast<uint8_t>(w >> 8));
  }
  if (options.padToMultiple > 0) {
    const size_t over = bytes.size() % options.padToMultiple;
    if (over != 0) bytes.resize(bytes.size() + options.padToMultiple - over, 0);
  }
  return bytes;
}

std::vector<uint16_t> ExpandFrameChanges(const uint16_t* screen, const uint16_t* reference,
                                         const bool* forced, int groupLimit) {
  std::vector<uint16_t> expanded(kMaskCount, 0);
  expanded.reserve(kExpandedFrameMax);
  const int limit = std::clamp(groupLimit, 0, kMaskCount);
  for (int g = 0; g < limit; ++g) {
    const int first = g * kStreamPixelsPerMask;
    const bool whole = forced != nullptr && forced[g];
    uint16_t mask = 0;
    for (int bit = 0; bit < kStreamPixelsPerMask; ++bit) {
      const int pixel = first + bit;
      if (whole || screen[pixel] != reference[pixel]) {
        mask |= static_cast<uint16_t>(kMaskFirstPixel >> bit);
        expanded.push_back(screen[pixel]);
      }
    }
    expanded[g] = mask;
  }
  return expanded;
}

FrameEncoder::FrameEncoder() {
  Reset();
}

void FrameEncoder::Reset() {
  std::fill(std::begin(sent_), std::end(sent_), uint16_t{0});
  std::fill(std::begin(forced_), std::end(forced_), false);
}

EncodedFrame FrameEncoder::EncodeGroups(const uint16_t* screen, int groupLimit,
                                        const EncodeOptions& options) const {
  const std::vector<uint16_t> expanded = ExpandFrameChanges(screen, sent_, forced_, groupLimit);
  EncodedFrame frame;
  frame.changedPixels = static_cast<uint32_t>(expanded.size() - kMaskCount);
  frame.bytes =
      StreamWordsToBytes(EncodeStreamTokens(expanded.data(), expanded.size(), options), options);
  return frame;
}

void FrameEncoder::MarkSent(const uint16_t* screen, int groupLimit) {
  const int pixels = groupLimit * kStreamPixelsPerMask;
  std::copy(screen, screen + pixels, sent_);
  std::fill(forced_, forced_ + groupLimit, false);
}

EncodedFrame FrameEncoder::NextFrame(const uint16_t* screen, bool whole, size_t byteBudget,
                                     const EncodeOptions& options) {
  if (whole) std::fill(std::begin(forced_), std::end(forced_), true);
  EncodedFrame frame = EncodeGroups(screen, kMaskCount, options);
  int sentGroups = kMaskCount;
  if (frame.bytes.size() > byteBudget) {
    // The largest prefix of mask groups whose stream fits the budget.
    int fits = 0;
    int tooMany = kMaskCount;
    EncodedFrame best = EncodeGroups(screen, 0, options);
    while (tooMany - fits > 1) {
      const int middle = fits + (tooMany - fits) / 2;
      EncodedFrame trial = EncodeGroups(screen, middle, options);
      if (trial.bytes.size() <= byteBudget) {
        fits = middle;
        best = std::move(trial);
      } else {
        tooMany = middle;
      }
    }
    frame = std::move(best);
    frame.complete = false;
    sentGroups = fits;
  }
  MarkSent(screen, sentGroups);
  return frame;
}
