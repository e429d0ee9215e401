// The capture library: widening and scaling, PNG files, screen comparison
// and the three kinds of recording read back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "capture/frame_image.h"
#include "capture/png_file.h"
#include "capture/png_folder_recorder.h"
#include "capture/recorder.h"
#include "capture/screen_compare.h"
#include "services/display_frame.h"
#include "tests/capture/video_probe.h"

namespace {

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

Rgb PixelAt(const RgbImage& image, int x, int y) {
  const uint8_t* p = image.At(x, y);
  return {p[0], p[1], p[2]};
}

// A frame with a different colour in every row and column, so any mix-up shows.
std::vector<uint16_t> PatternFrame(uint16_t salt = 0) {
  std::vector<uint16_t> frame(kDisplayPixels);
  for (int i = 0; i < kDisplayPixels; ++i) frame[i] = static_cast<uint16_t>(i * 37 + salt);
  return frame;
}

class CaptureFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          (std::string("vesk3-capture-") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  std::filesystem::path dir;
};

TEST(FrameImage, WidensEveryWordAsTheViewDoesWithoutMargins) {
  struct Case {
    uint16_t word;
    Rgb widened;
  };
  const Case cases[] = {{0xFFFF, {0xF8, 0xFC, 0xF8}}, {0xF800, {0xF8, 0, 0}},
                        {0x07E0, {0, 0xFC, 0}},       {0x001F, {0, 0, 0xF8}},
                        {0x0821, {0x08, 0x04, 0x08}}, {0x0000, {0, 0, 0}}};
  std::vector<uint16_t> frame(kDisplayPixels, 0);
  // The first and the last pixel of the frame carry the cases in turn.
  for (const Case& c : cases) {
    frame.front() = c.word;
    frame.back() = c.word;
    const RgbImage image = ImageOfFrame(frame.data());
    ASSERT_EQ(image.width, kDisplayWidth);
    ASSERT_EQ(image.height, kDisplayHeight);
    EXPECT_EQ(PixelAt(image, 0, 0), c.widened) << std::hex << c.word;
    EXPECT_EQ(PixelAt(image, kDisplayWidth - 1, kDisplayHeight - 1), c.widened)
        << std::hex << c.word;
  }
}

TEST(FrameImage, ScalesByWholeBlocks) {
  const std::vector<uint16_t> frame = PatternFrame();
  const RgbImage image = ImageOfFrame(frame.data());
  const RgbImage scaled = ScaleNearest(image, 3);
  ASSERT_EQ(scaled.width, 3 * kDisplayWidth);
  ASSERT_EQ(scaled.height, 3 * kDisplayHeight);
  for (int y : {0, 1, 2, 3, 500, 959}) {
    for (int x : {0, 2, 3, 359, 719}) {
      EXPECT_EQ(PixelAt(scaled, x, y), PixelAt(image, x / 3, y / 3)) << x << "," << y;
    }
  }
}

TEST_F(CaptureFiles, PngRoundTripsAndRefusesWhatIsNotOne) {
  const std::vector<uint16_t> frame = PatternFrame();
  const RgbImage image = ImageOfFrame(frame.data());
  ASSERT_EQ(WritePng(Path("a.png"), image), "");
  RgbImage back;
  ASSERT_EQ(ReadPng(Path("a.png"), &back), "");
  EXPECT_EQ(back.width, image.width);
  EXPECT_EQ(back.rgb, image.rgb);

  std::ofstream(Path("junk.png")) << "not a picture";
  EXPECT_NE(ReadPng(Path("junk.png"), &back), "");
  EXPECT_NE(ReadPng(Path("missing.png"), &back), "");
  EXPECT_NE(WritePng(Path("no/such/folder/a.png"), image), "");
}

TEST(ScreenCompare, CountsPixelsBeyondTheToleranceInsideTheRegion) {
  RgbImage reference = MakeImage(kDisplayWidth, kDisplayHeight);
  RgbImage screen = reference;
  screen.At(10, 10)[0] = 5;     // off by 5 in red
  screen.At(100, 200)[2] = 40;  // off by 40 in blue
  screen.At(239, 319)[1] = 255;
  struct Case {
    Region region;
    int tolerance;
    int64_t differing;
  };
  const Case cases[] = {
      {WholeImage(screen), 0, 3},   {WholeImage(screen), 5, 2}, {WholeImage(screen), 40, 1},
      {WholeImage(screen), 255, 0}, {{0, 0, 50, 50}, 0, 1},     {{11, 11, 229, 309}, 0, 2},
      {{239, 319, 1, 1}, 0, 1},     {{0, 0, 241, 320}, 0, -1},  // outside the screen
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CountDifferingPixels(screen, reference, c.region, c.tolerance), c.differing)
        << c.region.x << "," << c.region.y << "," << c.region.width << "," << c.region.height
        << " tolerance " << c.tolerance;
  }
}

TEST(ScreenCompare, DiffImageMarksTheDifferencesOnADimmedScreen) {
  RgbImage reference = MakeImage(kDisplayWidth, kDisplayHeight);
  for (uint8_t& c : reference.rgb) c = 90;
  RgbImage screen = reference;
  screen.At(20, 30)[1] = 0;
  const RgbImage diff = DiffImage(screen, reference, WholeImage(screen), 0);
  EXPECT_EQ(PixelAt(diff, 20, 30), (Rgb{255, 0, 0}));
  EXPECT_EQ(PixelAt(diff, 21, 30), (Rgb{30, 30, 30}));
}

TEST(ScreenCompare, TakesAReferenceSavedEnlarged) {
  const std::vector<uint16_t> frame = PatternFrame();
  const RgbImage image = ImageOfFrame(frame.data());
  RgbImage back;
  ASSERT_EQ(ReferenceAtDeviceSize(ScaleNearest(image, 2), &back), "");
  EXPECT_EQ(back.rgb, image.rgb);
  EXPECT_NE(ReferenceAtDeviceSize(MakeImage(241, 320), &back), "");
  EXPECT_NE(ReferenceAtDeviceSize(MakeImage(480, 320), &back), "");
}

// Four frames at uneven times, as a mirror delivers them.
const uint64_t kTimesMs[] = {0, 76, 152, 301};

void RecordFour(const std::string& out, std::vector<RgbImage>* images) {
  std::string error;
  std::unique_ptr<FrameRecorder> recorder = OpenRecorder(out, &error);
  ASSERT_NE(recorder, nullptr) << error;
  for (size_t i = 0; i < std::size(kTimesMs); ++i) {
    const std::vector<uint16_t> frame = PatternFrame(static_cast<uint16_t>(i * 1000));
    images->push_back(ImageOfFrame(frame.data()));
    ASSERT_EQ(recorder->Add({&images->back(), kTimesMs[i], 100 + i}), "");
  }
  ASSERT_EQ(recorder->Finish(), "");
  EXPECT_EQ(recorder->Finish(), "");  // a second Finish changes nothing
}

TEST_F(CaptureFiles, MkvHoldsEveryFrameLosslesslyAtItsTime) {
  std::vector<RgbImage> images;
  RecordFour(Path("r.mkv"), &images);
  const ProbedVideo video = ProbeVideo(Path("r.mkv"));
  ASSERT_EQ(video.error, "");
  EXPECT_EQ(video.codec, "ffv1");
  ASSERT_EQ(video.frames.size(), images.size());
  EXPECT_EQ(video.ptsMs, std::vector<int64_t>(std::begin(kTimesMs), std::end(kTimesMs)));
  for (size_t i = 0; i < images.size(); ++i) EXPECT_EQ(video.frames[i].rgb, images[i].rgb) << i;
}

TEST_F(CaptureFiles, Mp4HoldsEveryFrameAtItsTime) {
  std::vector<RgbImage> images;
  std::string error;
  if (!OpenRecorder(Path("probe.mp4"), &error)) GTEST_SKIP() << error;
  RecordFour(Path("r.mp4"), &images);
  const ProbedVideo video = ProbeVideo(Path("r.mp4"));
  ASSERT_EQ(video.error, "");
  EXPECT_EQ(video.codec, "h264");
  EXPECT_EQ(video.ptsMs, std::vector<int64_t>(std::begin(kTimesMs), std::end(kTimesMs)));
}

TEST_F(CaptureFiles, FolderHoldsNumberedPngsAndTheirTable) {
  std::vector<RgbImage> images;
  RecordFour(Path("frames"), &images);
  std::ifstream csv(Path("frames/frames.csv"));
  std::stringstream text;
  text << csv.rdbuf();
  EXPECT_EQ(text.str(), "index,ms,bytes\n0,0,100\n1,76,101\n2,152,102\n3,301,103\n");
  for (size_t i = 0; i < images.size(); ++i) {
    RgbImage back;
    ASSERT_EQ(ReadPng(Path("frames/" + RecordedFrameName(i)), &back), "");
    EXPECT_EQ(back.rgb, images[i].rgb);
  }
}

TEST_F(CaptureFiles, RefusesOutputsItCannotWrite) {
  std::ofstream(Path("plain-file")) << "x";
  std::string error;
  EXPECT_EQ(OpenRecorder(Path("plain-file"), &error), nullptr);
  EXPECT_NE(error, "");
  error.clear();
  EXPECT_EQ(OpenRecorder(Path("no/such/folder/r.mkv"), &error), nullptr);
  EXPECT_NE(error, "");
}

}  // namespace
