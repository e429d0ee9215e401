#include "services/frame_view.h"

#include <gtest/gtest.h>

#include <vector>

#include "services/display_frame.h"

namespace {

constexpr uint32_t kNeverWritten = 0xDEADBEEF;

// A device image whose every pixel differs from its neighbours.
std::vector<uint16_t> PatternFrame() {
  std::vector<uint16_t> frame(kDisplayPixels);
  for (int i = 0; i < kDisplayPixels; ++i) frame[i] = static_cast<uint16_t>(i * 40503u);
  return frame;
}

TEST(FrameView, ColoursWidenByShiftingOnly) {
  struct Case {
    uint16_t rgb565;
    uint32_t pixel;
  };
  for (const Case& c :
       {Case{0xFFFF, 0x00F8FCF8}, Case{0xF800, 0x00F80000}, Case{0x07E0, 0x0000FC00},
        Case{0x001F, 0x000000F8}, Case{0x0841, 0x00080808}, Case{0x0000, 0x00000000}}) {
    EXPECT_EQ(Rgb565ToPixel(c.rgb565), c.pixel) << std::hex << c.rgb565;
  }
}

struct ViewCase {
  const char* name;
  int width;
  int height;
  int x0;  // view position of device column 0 / row 0
  int y0;
};

class FrameViewPlacement : public ::testing::TestWithParam<ViewCase> {};

// Every view pixel is either the device pixel the centring puts there or
// untouched; and every device pixel that fits is drawn.
TEST_P(FrameViewPlacement, CentresWithTruncatingDivision) {
  const ViewCase& c = GetParam();
  const std::vector<uint16_t> frame = PatternFrame();
  std::vector<uint32_t> pixels(static_cast<size_t>(c.width) * c.height, kNeverWritten);

  RenderFrame(frame.data(), pixels.data(), c.width, c.height);

  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      const int j = x - c.x0;
      const int i = y - c.y0;
      const bool inside = j >= 0 && j < kDisplayWidth && i >= 0 && i < kDisplayHeight;
      const uint32_t expected =
          inside ? Rgb565ToPixel(frame[i * kDisplayWidth + j]) : kNeverWritten;
      ASSERT_EQ(pixels[static_cast<size_t>(y) * c.width + x], expected) << "x " << x << " y " << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Views, FrameViewPlacement,
    ::testing::Values(ViewCase{"Wider", 253, 412, 6, 46},  // 6 left, 7 right, 46 above and below
                      ViewCase{"OneNarrower", 239, 320, 0, 0},  // -1 / 2 is 0: column 239 dropped
                      ViewCase{"Narrow", 200, 330, -20, 5},     // device columns 20..219
                      ViewCase{"Short", 240, 301, 0, -9},       // -19 / 2 is -9
                      ViewCase{"Exact", 240, 320, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FrameView, EmptyViewWritesNothing) {
  const std::vector<uint16_t> frame = PatternFrame();
  uint32_t pixel = kNeverWritten;
  RenderFrame(frame.data(), &pixel, 0, 0);
  RenderFrame(frame.data(), &pixel, 1, 0);
  RenderFrame(frame.data(), nullptr, 10, 10);
  EXPECT_EQ(pixel, kNeverWritten);
}

}  // namespace
