#include "services/frame_view.h"

#include <algorithm>

#include "services/display_frame.h"

void RenderFrame(const uint16_t* frame, uint32_t* pixels, int width, int height) {
  if (frame == nullptr || pixels == nullptr || width <= 0 || height <= 0) return;
  // Centred; C++ division truncates toward zero (width 239 gives 0, 200 gives -20).
  const int x0 = (width - kDisplayWidth) / 2;
  const int y0 = (height - kDisplayHeight) / 2;
  const int firstColumn = std::max(0, -x0);
  const int endColumn = std::min(kDisplayWidth, width - x0);
  const int firstRow = std::max(0, -y0);
  const int endRow = std::min(kDisplayHeight, height - y0);
  for (int i = firstRow; i < endRow; ++i) {
    const uint16_t* source = frame + static_cast<size_t>(i) * kDisplayWidth;
    uint32_t* row = pixels + static_cast<size_t>(y0 + i) * static_cast<size_t>(width);
    for (int j = firstColumn; j < endColumn; ++j) row[x0 + j] = Rgb565ToPixel(source[j]);
  }
}
