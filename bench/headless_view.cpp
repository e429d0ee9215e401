#include "bench/headless_view.h"

#include "services/display_frame.h"
#include "services/frame_view.h"

void HeadlessView::ShowFrame() {
  RenderFrame(FrameBuffer, pixels.data(), kViewWidth, kViewHeight);
  ++framesShown;
}
