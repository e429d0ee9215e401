#include "tests/services/stream_encoder.h"

namespace {

constexpr int kPixels = 76800;
constexpr int kStretch = 16;
constexpr size_t kRunMax = 128;
constexpr uint16_t kPrefixMask = 0xFF80;

Words served;
size_t asked = 0;

}  // namespace

Words ExpandChanges(const uint16_t* before, const uint16_t* after) {
  Words masks;
  Words values;
  for (int g = 0; g < kPixels / kStretch; ++g) {
    uint16_t mask = 0;
    for (int bit = 0; bit < kStretch; ++bit) {
      const int i = g * kStretch + bit;
      if (before[i] != after[i]) {
        mask |= static_cast<uint16_t>(0x8000 >> bit);
        values.push_back(after[i]);
      }
    }
    masks.push_back(mask);
  }
  masks.insert(masks.end(), values.begin(), values.end());
  return masks;
}

Words EncodeStream(const Words& expanded, bool endToken) {
  Words out;
  uint32_t k = 0;
  for (size_t i = 0; i < expanded.size(); ++k) {
    const uint16_t marker = Marker(k);
    const uint16_t v = expanded[i];
    size_t run = 1;
    while (i + run < expanded.size() && expanded[i + run] == v && run < kRunMax) ++run;
    // A run word equal to its value would read as a doubled literal.
    if (run >= 2 && static_cast<uint16_t>(marker | (run - 2)) == v) --run;
    if (run >= 2) {
      out.push_back(static_cast<uint16_t>(marker | (run - 2)));
      out.push_back(v);
      i += run;
      continue;
    }
    out.push_back(v);
    if ((v & kPrefixMask) == marker) out.push_back(v);
    ++i;
  }
  if (endToken) {
    out.push_back(static_cast<uint16_t>(Marker(k) | 0x7F));
    out.push_back(0);
  }
  return out;
}

Bytes StreamBytes(const Words& words) {
  Bytes bytes;
  for (uint16_t w : words) {
    bytes.push_back(static_cast<uint8_t>(w));
    bytes.push_back(static_cast<uint8_t>(w >> 8));
  }
  return bytes;
}

void ServeWords(const Words& words) {
  served = words;
  asked = 0;
}

uint16_t ServedWord() {
  const size_t i = asked++;
  return i < served.size() ? served[i] : 0;
}

size_t WordsAsked() {
  return asked;
}
