#include "bench/scenes.h"

#include <algorithm>
#include <cstring>

#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"
#include "services/display_frame.h"
#include "sim/pixel_encoder.h"

namespace {

constexpr int kPixelsPerMask = 16;
constexpr uint16_t kMaskAll = 0xFFFF;
constexpr uint16_t kMaskFirstPixel = 0x8000;
constexpr int kScatteredPixels = kDisplayPixels / 100;  // 1 %
constexpr int kRectangleSide = 40;
constexpr int kRectangleLeft = 100;
constexpr int kRectangleTop = 140;
constexpr uint16_t kOnePixelValue = 0xF800;
// A full frame's masks go out as 37 runs of 128 and one of 64.
constexpr uint32_t kFullMaskTokens = 38;

// xorshift32: reproducible "varied" content without a library.
struct Random {
  uint32_t state = 0x12345678u;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  uint16_t Word() { return static_cast<uint16_t>(Next() >> 8); }
};

// The expanded frame of a set of changed pixels (indices ascending).
StreamWords ExpandChanged(const std::vector<int>& pixels, const std::vector<uint16_t>& values) {
  StreamWords expanded(kMaskCount, 0);
  for (int i : pixels) {
    expanded[static_cast<size_t>(i / kPixelsPerMask)] |=
        static_cast<uint16_t>(kMaskFirstPixel >> (i % kPixelsPerMask));
  }
  expanded.insert(expanded.end(), values.begin(), values.end());
  return expanded;
}

Scene Finish(std::string name, StreamWords expanded) {
  Scene scene;
  scene.name = std::move(name);
  for (int g = 0; g < kMaskCount; ++g) {
    scene.changedPixels += __builtin_popcount(expanded[static_cast<size_t>(g)]);
  }
  scene.stream = StreamWordsToBytes(EncodeStreamTokens(expanded.data(), expanded.size()));
  scene.expanded = std::move(expanded);
  return scene;
}

StreamWords AllMasks() {
  return StreamWords(kMaskCount, kMaskAll);
}

}  // namespace

Scene FullFrameScene() {
  StreamWords expanded = AllMasks();
  Random random;
  for (int i = 0; i < kDisplayPixels; ++i) expanded.push_back(random.Word());
  return Finish("full", std::move(expanded));
}

Scene OnePixelScene() {
  return Finish("one_pixel", ExpandChanged({0}, {kOnePixelValue}));
}

Scene ScatteredScene() {
  Random random;
  std::vector<int> pixels;
  std::vector<bool> taken(kDisplayPixels, false);
  while (static_cast<int>(pixels.size()) < kScatteredPixels) {
    const int i = static_cast<int>(random.Next() % kDisplayPixels);
    if (taken[static_cast<size_t>(i)]) continue;
    taken[static_cast<size_t>(i)] = true;
    pixels.push_back(i);
  }
  std::sort(pixels.begin(), pixels.end());
  std::vector<uint16_t> values;
  for (size_t n = 0; n < pixels.size(); ++n) values.push_back(random.Word());
  return Finish("scattered_1pct", ExpandChanged(pixels, values));
}

Scene RectangleScene() {
  Random random;
  std::vector<int> pixels;
  std::vector<uint16_t> values;
  for (int y = kRectangleTop; y < kRectangleTop + kRectangleSide; ++y) {
    for (int x = kRectangleLeft; x < kRectangleLeft + kRectangleSide; ++x) {
      pixels.push_back(y * kDisplayWidth + x);
      values.push_back(random.Word());
    }
  }
  return Finish("rect_40x40", ExpandChanged(pixels, values));
}

Scene WorstCaseScene() {
  StreamWords expanded = AllMasks();
  // Value i is token kFullMaskTokens + i; consecutive markers differ, so no runs form.
  for (uint32_t i = 0; i < static_cast<uint32_t>(kDisplayPixels); ++i) {
    expanded.push_back(static_cast<uint16_t>(TokenMarker(kFullMaskTokens + i) | (i & 0x7F)));
  }
  return Finish("worst_case", std::move(expanded));
}

int32_t LoadStreamIntoBulkBuffer(const StreamBytes& stream) {
  const size_t n = std::min(stream.size(), kBulkCapacity);
  std::memcpy(theChannel.BulkBuffer, stream.data(), n);
  theChannel.BulkLength = static_cast<int32_t>(n);
  theChannel.BulkInMemory = true;
  theChannel.memoryPosition = 0;
  NextBulkWord = NextMemoryWord;
  return static_cast<int32_t>(n / 2);
}
