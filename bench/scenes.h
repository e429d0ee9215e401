// Display changes for the benchmarks, and the device's side of their pixel
// streams: the expanded frame (change masks, then values), encoded with the
// device's own encoder.
//
// Owns: the scenes the mirror path is measured with (a full frame, the sparse
// deltas, the worst case for the token format), their encoding into stream
// bytes, and loading a stream where the decoder's word sources read it.
// Does not own: decoding (services/) or the simulated device (sim/).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using StreamWords = std::vector<uint16_t>;
using StreamBytes = std::vector<uint8_t>;

// The marker prefix of token k.
constexpr uint16_t TokenMarker(uint32_t k) {
  return static_cast<uint16_t>(0x9180 + k * 0x0A80);
}

// One display change and the stream a device sends for it.
struct Scene {
  std::string name;
  StreamWords expanded;  // 4800 masks, then the new values in pixel order
  StreamBytes stream;    // little-endian token words
  int changedPixels = 0;
};

// Every mask 0xFFFF, varied values (few runs): the whole display replaced.
Scene FullFrameScene();
// Only pixel 0 changes, to 0xF800 (78 stream words).
Scene OnePixelScene();
// 1 % of the pixels (768), scattered at random.
Scene ScatteredScene();
// One 40 x 40 rectangle of new content.
Scene RectangleScene();
// The longest stream a full frame can take: every value carries its token's
// marker and is sent twice (about 2 stream words per pixel).
Scene WorstCaseScene();

// The stream in the BulkBuffer as a segmented transfer leaves it (cut at the
// buffer's size when longer), BulkLength set, NextMemoryWord at its start.
// Returns the number of stream words the decoder is given.
int32_t LoadStreamIntoBulkBuffer(const StreamBytes& stream);
