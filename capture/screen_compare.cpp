#include "capture/screen_compare.h"

#include <cstdlib>

#include "services/display_frame.h"

namespace {

constexpr uint8_t kMarkDiffer[3] = {255, 0, 0};
constexpr uint8_t kMarkBorder[3] = {255, 255, 0};
constexpr int kDimDivisor = 3;

bool Differs(const uint8_t* a, const uint8_t* b, int tolerance) {
  for (int c = 0; c < 3; ++c) {
    if (std::abs(int{a[c]} - int{b[c]}) > tolerance) return true;
  }
  return false;
}

bool OnBorder(const Region& r, int x, int y) {
  const bool inside = x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
  return inside && (x == r.x || x == r.x + r.width - 1 || y == r.y || y == r.y + r.height - 1);
}

void Paint(uint8_t* pixel, const uint8_t* colour) {
  pixel[0] = colour[0];
  pixel[1] = colour[1];
  pixel[2] = colour[2];
}

}  // namespace

Region WholeImage(const RgbImage& image) {
  return Region{0, 0, image.width, image.height};
}

bool RegionFits(const Region& region, const RgbImage& image) {
  return region.x >= 0 && region.y >= 0 && region.width > 0 && region.height > 0 &&
         region.x <= image.width - region.width && region.y <= image.height - region.height;
}

std::string ReferenceAtDeviceSize(const RgbImage& reference, RgbImage* atDeviceSize) {
  const int factor = reference.width / kDisplayWidth;
  if (factor < 1 || reference.width != factor * kDisplayWidth ||
      reference.height != factor * kDisplayHeight) {
    return "the reference is " + std::to_string(reference.width) + " x " +
           std::to_string(reference.height) + ", not 240 x 320 or a whole multiple of it";
  }
  RgbImage image = MakeImage(kDisplayWidth, kDisplayHeight);
  for (int y = 0; y < kDisplayHeight; ++y) {
    for (int x = 0; x < kDisplayWidth; ++x)
      Paint(image.At(x, y), reference.At(x * factor, y * factor));
  }
  *atDeviceSize = std::move(image);
  return "";
}

int64_t CountDifferingPixels(const RgbImage& screen, const RgbImage& reference,
                             const Region& region, int tolerance) {
  if (!RegionFits(region, screen) || !RegionFits(region, reference)) return -1;
  int64_t differing = 0;
  for (int y = region.y; y < region.y + region.height; ++y) {
    for (int x = region.x; x < region.x + region.width; ++x) {
      if (Differs(screen.At(x, y), reference.At(x, y), tolerance)) ++differing;
    }
  }
  return differing;
}

RgbImage DiffImage(const RgbImage& screen, const RgbImage& reference, const Region& region,
                   int tolerance) {
  RgbImage diff = screen;
  for (uint8_t& channel : diff.rgb) channel = static_cast<uint8_t>(channel / kDimDivisor);
  if (!RegionFits(region, screen) || !RegionFits(region, reference)) return diff;
  const bool partial = region.width != screen.width || region.height != screen.height;
  for (int y = region.y; y < region.y + region.height; ++y) {
    for (int x = region.x; x < region.x + region.width; ++x) {
      if (Differs(screen.At(x, y), reference.At(x, y), tolerance)) {
        Paint(diff.At(x, y), kMarkDiffer);
      } else if (partial && OnBorder(region, x, y)) {
        Paint(diff.At(x, y), kMarkBorder);
      }
    }
  }
  return diff;
}
