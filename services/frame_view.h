// The conversion of the FrameBuffer into a view's 32-bit pixels: the whole
// 240 x 320 image centred in the view with truncating division, each RGB565
// word widened by shifting (0xFFFF becomes 0x00F8FCF8). Rows are top-down.
// Pixels outside the centred image are never written.
#pragma once

#include <cstdint>

// pixels: width x height words, row y at pixels + y * width.
void RenderFrame(const uint16_t* frame, uint32_t* pixels, int width, int height);

constexpr uint32_t Rgb565ToPixel(uint16_t c) {
  return (static_cast<uint32_t>(c >> 11) << 19) | (static_cast<uint32_t>((c >> 5) & 0x3F) << 10) |
         (static_cast<uint32_t>(c & 0x1F) << 3);
}
