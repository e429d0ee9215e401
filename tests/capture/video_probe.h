// Reading a recorded video back through FFmpeg's libraries, for the tests:
// the codec, every frame's timestamp in milliseconds and its pixels as RGB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/frame_image.h"

struct ProbedVideo {
  std::string error;  // "" when the file opened and decoded to its end
  std::string codec;
  std::vector<int64_t> ptsMs;
  std::vector<RgbImage> frames;
};

ProbedVideo ProbeVideo(const std::string& path);
