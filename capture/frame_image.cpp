#include "capture/frame_image.h"

#include "services/display_frame.h"
#include "services/frame_view.h"

RgbImage MakeImage(int width, int height) {
  RgbImage image;
  image.width = width;
  image.height = height;
  image.rgb.assign(static_cast<size_t>(width) * height * 3, 0);
  return image;
}

RgbImage ImageOfFrame(const uint16_t* frame) {
  // The view's conversion into a view of exactly the device's size: no margins.
  std::vector<uint32_t> pixels(kDisplayPixels);
  RenderFrame(frame, pixels.data(), kDisplayWidth, kDisplayHeight);
  RgbImage image = MakeImage(kDisplayWidth, kDisplayHeight);
  for (int i = 0; i < kDisplayPixels; ++i) {
    const uint32_t p = pixels[static_cast<size_t>(i)];
    uint8_t* out = image.rgb.data() + static_cast<size_t>(i) * 3;
    out[0] = static_cast<uint8_t>(p >> 16);
    out[1] = static_cast<uint8_t>(p >> 8);
    out[2] = static_cast<uint8_t>(p);
  }
  return image;
}

RgbImage ScaleNearest(const RgbImage& image, int factor) {
  if (factor <= 1) return image;
  RgbImage scaled = MakeImage(image.width * factor, image.height * factor);
  for (int y = 0; y < scaled.height; ++y) {
    for (int x = 0; x < scaled.width; ++x) {
      const uint8_t* from = image.At(x / factor, y / factor);
      uint8_t* to = scaled.At(x, y);
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
    }
  }
  return scaled;
}
