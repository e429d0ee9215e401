// Comparing the device screen with a reference picture (the golden-screen check).
//
// Owns: the region, the per-channel tolerance, the count of differing
// pixels and the diff image (the screen dimmed, the differences marked).
// Does not own: getting the screen (the mirror) or reading the reference
// (png_file). Both images are in device pixels, 240 x 320.
#pragma once

#include <cstdint>
#include <string>

#include "capture/frame_image.h"

struct Region {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The whole image.
Region WholeImage(const RgbImage& image);
bool RegionFits(const Region& region, const RgbImage& image);

// A reference saved enlarged (screenshot --scale N) back at device size; ""
// when it is the device's size or a whole multiple of it, otherwise why not.
std::string ReferenceAtDeviceSize(const RgbImage& reference, RgbImage* atDeviceSize);

// Pixels inside the region where some channel differs by more than tolerance.
int64_t CountDifferingPixels(const RgbImage& screen, const RgbImage& reference,
                             const Region& region, int tolerance);

// The screen at a third of its brightness, the region's differing pixels in
// full red and the region's border in yellow.
RgbImage DiffImage(const RgbImage& screen, const RgbImage& reference, const Region& region,
                   int tolerance);
