#include "capture/png_file.h"

#include <png.h>

#include <cstring>

namespace {
// A reference larger than this is not a screen of ours; refusing it bounds memory.
constexpr png_uint_32 kMaxReadSide = 8192;
}  // namespace

std::string WritePng(const std::string& path, const RgbImage& image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGB;
  if (png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), 0, nullptr) == 0) {
    std::string error = "cannot write " + path + ": " + png.message;
    png_image_free(&png);
    return error;
  }
  return "";
}

std::string ReadPng(const std::string& path, RgbImage* image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&png, path.c_str()) == 0) {
    return "cannot read " + path + ": " + png.message;
  }
  if (png.width == 0 || png.height == 0 || png.width > kMaxReadSide || png.height > kMaxReadSide) {
    png_image_free(&png);
    return "cannot read " + path + ": the image is too large";
  }
  png.format = PNG_FORMAT_RGB;
  RgbImage read = MakeImage(static_cast<int>(png.width), static_cast<int>(png.height));
  if (png_image_finish_read(&png, nullptr, read.rgb.data(), 0, nullptr) == 0) {
    std::string error = "cannot read " + path + ": " + png.message;
    png_image_free(&png);
    return error;
  }
  *image = std::move(read);
  return "";
}
