// Images of the device screen for files: the 240 x 320 mirror widened to
// 8-bit RGB exactly as the window's view widens it, and enlarged by whole
// factors.
//
// Owns: RgbImage (packed R, G, B rows, top-down), ImageOfFrame, ScaleNearest.
// Does not own: the widening itself (services/frame_view's RenderFrame) or
// any file format (png_file, the recorders).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3 bytes

  uint8_t* At(int x, int y) { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
  const uint8_t* At(int x, int y) const {
    return rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
  }
};

constexpr int kMaxScale = 16;  // 3840 x 5120: enough for any screen, small enough for memory

RgbImage MakeImage(int width, int height);

// The whole 240 x 320 device frame (76800 RGB565 words), widened.
RgbImage ImageOfFrame(const uint16_t* frame);

// Each pixel becomes a factor x factor block; factor 1 .. kMaxScale.
RgbImage ScaleNearest(const RgbImage& image, int factor);
