// PNG files of RgbImages, through libpng.
//
// Owns: writing an RgbImage as an 8-bit RGB PNG and reading any PNG back as
// one. Errors come back as text ("" on success). Does not own: what is in the
// image (frame_image) or where the file goes (the caller).
#pragma once

#include <string>

#include "capture/frame_image.h"

std::string WritePng(const std::string& path, const RgbImage& image);
std::string ReadPng(const std::string& path, RgbImage* image);
