#include "services/frame_view.h"

#include <algorithm>

#include "services/display_frame.h"

// The conversion runs on every refresh; where the CPU has AVX2, a clone of it
// chosen at load time converts twice the pixels per instruction.
#if defined(__x86_64__)
#define VESK3_CLONED_FOR_AVX2 __attribute__((target_clones("avx2", "default")))
#else
#define VESK3_CLONED_FOR_AVX2
#endif

namespace {

// A whole device row: a fixed count and buffers that cannot overlap let the
// compiler convert it in vector registers at any optimisation level.
VESK3_CLONED_FOR_AVX2 void ConvertWholeRow(const uint16_t* __restrict source,
                                           uint32_t* __restrict row) {
  for (int j = 0; j < kDisplayWidth; ++j) row[j] = Rgb565ToPixel(source[j]);
}

// Device columns [first, end) of a row that the view cuts; column j lands at row[x0 + j].
void ConvertPartRow(const uint16_t* source, uint32_t* row, int x0, int first, int end) {
  for (int j = first; j < end; ++j) row[x0 + j] = Rgb565ToPixel(source[j]);
}

}  // namespace

void RenderFrame(const uint16_t* frame, uint32_t* pixels, int width, int height) {
  if (frame == nullptr || pixels == nullptr || width <= 0 || height <= 0) return;
  // Centred; C++ division truncates toward zero (width 239 gives 0, 200 gives -20).
  const int x0 = (width - kDisplayWidth) / 2;
  const int y0 = (height - kDisplayHeight) / 2;
  const int firstColumn = std::max(0, -x0);
  const int endColumn = std::min(kDisplayWidth, width - x0);
  const int firstRow = std::max(0, -y0);
  const int endRow = std::min(kDisplayHeight, height - y0);
  const bool wholeRows = firstColumn == 0 && endColumn == kDisplayWidth;
  for (int i = firstRow; i < endRow; ++i) {
    const uint16_t* source = frame + static_cast<size_t>(i) * kDisplayWidth;
    uint32_t* row = pixels + static_cast<size_t>(y0 + i) * static_cast<size_t>(width);
    if (wholeRows) {
      ConvertWholeRow(source, row + x0);  // x0 >= 0 here
    } else {
      ConvertPartRow(source, row, x0, firstColumn, endColumn);
    }
  }
}
