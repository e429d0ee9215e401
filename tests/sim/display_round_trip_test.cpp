// The display from the device's screen to the host's FrameBuffer: the token
// encoder word for word, then random and adversarial screens through the
// device's encoder, the bridge and the host's decoder, in both bulk modes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "link/usb_device.h"
#include "protocol/command_channel.h"
#include "services/display_frame.h"
#include "sim/pixel_encoder.h"
#include "tests/sim/sim_fixture.h"

namespace {

using Words = std::vector<uint16_t>;
using Picture = std::vector<uint16_t>;

// The format read back independently of the host's decoder: tokens with the
// marker advancing per token, two-word literals and runs, the end token.
Words ReferenceExpand(const Words& stream) {
  Words out;
  for (size_t i = 0, token = 0; i < stream.size(); ++token) {
    const uint16_t w = stream[i];
    if ((w & kStreamMarkerMask) != StreamMarker(static_cast<uint32_t>(token))) {
      out.push_back(w);
      i += 1;
      continue;
    }
    const uint16_t v = i + 1 < stream.size() ? stream[i + 1] : 0;
    if (i + 1 < stream.size() && v == w) {
      out.push_back(w);
    } else if ((w & kStreamRunBits) == kStreamEndBits) {
      break;
    } else {
      out.insert(out.end(), (w & kStreamRunBits) + kStreamRunMin, v);
    }
    i += 2;
  }
  return out;
}

Words Encode(const Words& expanded, const EncodeOptions& options = {}) {
  return EncodeStreamTokens(expanded.data(), expanded.size(), options);
}

// ---- the token encoder, word for word ----

TEST(PixelEncoder, WorkedExampleOnlyPixelZeroTurnsRed) {
  Picture before(kDisplayPixels, 0);
  Picture after = before;
  after[0] = 0xF800;
  const Words expanded = ExpandFrameChanges(after.data(), before.data(), nullptr);
  ASSERT_EQ(expanded.size(), 4801u);

  const Words stream = Encode(expanded);
  ASSERT_EQ(stream.size(), 78u);
  EXPECT_EQ(stream[0], 0x8000);  // token 0: the literal mask
  EXPECT_EQ(stream[1], 0x9C7E);  // token 1: run of 128 zero masks under M(1)
  EXPECT_EQ(stream[2], 0x0000);
  EXPECT_EQ(stream[75], 0x20BD);  // token 38: run of 63 under M(38) = 0x2080
  EXPECT_EQ(stream[76], 0x0000);
  EXPECT_EQ(stream[77], 0xF800);  // token 39: the new value
  const std::vector<uint8_t> bytes = StreamWordsToBytes(stream);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 6),
            (std::vector<uint8_t>{0x00, 0x80, 0x7E, 0x9C, 0x00, 0x00}));
}

TEST(PixelEncoder, TokensThatWouldReadBackAsSomethingElse) {
  Words before425(425);
  for (size_t i = 0; i < before425.size(); ++i) before425[i] = i % 2 ? 2 : 1;
  Words zeroAt425 = before425;
  zeroAt425.push_back(0x0000);
  Words zeroAt425Stream = before425;
  zeroAt425Stream.insert(zeroAt425Stream.end(), {0x0000, 0x0000});

  struct Case {
    const char* what;
    Words expanded;
    Words stream;
  };
  const Case cases[] = {
      {"a literal carrying the current marker is sent twice", {0x91A5}, {0x91A5, 0x91A5}},
      {"a run whose value equals its own first word gives up one copy",
       {0x9181, 0x9181, 0x9181},
       {0x9180, 0x9181, 0x9181}},
      {"a pair equal to the run header of 2 becomes a doubled literal and a literal",
       {0x9180, 0x9180},
       {0x9180, 0x9180, 0x9180}},
      {"the marker advances per token, not per word",
       {7, 7, 0x9C00},  // run of 2 is token 0; 0x9C00 carries M(1)
       {0x9180, 7, 0x9C00, 0x9C00}},
      {"token 425 has the marker 0x0000: a zero literal there goes twice", zeroAt425,
       zeroAt425Stream},
      {"129 equal words: a run of 128 and a literal", Words(129, 5), {0x91FE, 5, 5}},
      {"130 equal words: runs of 128 and 2", Words(130, 5), {0x91FE, 5, 0x9C00, 5}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Encode(c.expanded), c.stream) << c.what;
    EXPECT_EQ(ReferenceExpand(c.stream), c.expanded) << c.what;
  }
}

TEST(PixelEncoder, RunsOfEveryLengthReadBack) {
  Words expanded;
  for (uint16_t n = 1; n <= 300; ++n) {
    // Values chosen to collide with markers and run headers now and then.
    const uint16_t value = static_cast<uint16_t>(StreamMarker(n) | (n % 3 == 0 ? n - 2 : n));
    expanded.insert(expanded.end(), n, value);
  }
  const Words stream = Encode(expanded);
  EXPECT_EQ(ReferenceExpand(stream), expanded);
  EXPECT_LT(stream.size(), 2 * 300u + 2 * expanded.size() / 128);
}

TEST(PixelEncoder, StreamedFramesEndWithAnEndTokenOnA512ByteBoundary) {
  const EncodeOptions streamed{true, 512};
  const Words stream = Encode({1, 2, 3}, streamed);
  ASSERT_EQ(stream.size(), 5u);
  EXPECT_EQ(stream[3], StreamMarker(3) | kStreamEndBits);
  EXPECT_NE(stream[4], stream[3]);  // so it cannot read as a literal
  EXPECT_EQ(StreamWordsToBytes(stream, streamed).size(), 512u);
  EXPECT_EQ(ReferenceExpand(stream), (Words{1, 2, 3}));
}

TEST(PixelEncoder, AFrameOverItsBudgetIsSplitAndTheNextFramesCarryTheRest) {
  std::mt19937 rng(7);
  Picture screen(kDisplayPixels);
  for (uint16_t& p : screen) p = static_cast<uint16_t>(rng());
  FrameEncoder encoder;
  Picture host(kDisplayPixels, 0);
  int frames = 0;
  for (bool complete = false; !complete && frames < 100; ++frames) {
    const EncodedFrame frame = encoder.NextFrame(screen.data(), frames == 0, 20000);
    EXPECT_LE(frame.bytes.size(), 20000u);
    Words words(frame.bytes.size() / 2);
    std::memcpy(words.data(), frame.bytes.data(), words.size() * 2);
    const Words expanded = ReferenceExpand(words);
    size_t value = kMaskCount;
    for (int g = 0; g < kMaskCount; ++g) {
      for (int bit = 0; bit < 16; ++bit) {
        if (expanded[g] & (0x8000 >> bit)) host[g * 16 + bit] = expanded[value++];
      }
    }
    complete = frame.complete;
  }
  EXPECT_GT(frames, 5);
  EXPECT_EQ(host, screen);
}

// ---- device screen to host FrameBuffer ----

struct Scene {
  const char* name;
  bool whole;     // asked for with parameter 1
  int maxFrames;  // frames until the host's copy equals the screen
  Picture (*paint)(const uint16_t* shown);
};

Picture SinglePixel(const uint16_t* shown) {
  Picture p(shown, shown + kDisplayPixels);
  p[240 * 201 + 117] ^= 0x1234;
  return p;
}
Picture RandomEverywhere(const uint16_t*) {
  std::mt19937 rng(42);
  Picture p(kDisplayPixels);
  for (uint16_t& v : p) v = static_cast<uint16_t>(rng());
  return p;
}
// In a whole frame the 4800 masks are tokens 0..37, so value i is token 38 + i:
// every value carries its token's marker and must be sent twice.
Picture EveryValueCarriesItsMarker(const uint16_t*) {
  Picture p(kDisplayPixels);
  for (int i = 0; i < kDisplayPixels; ++i) {
    p[i] = static_cast<uint16_t>(StreamMarker(38 + i) | (i & 0x7F));
  }
  return p;
}
Picture RunsOfEveryLength(const uint16_t*) {
  Picture p;
  for (uint16_t n = 1; p.size() < kDisplayPixels; n = n % 140 + 1) {
    p.insert(p.end(), n, static_cast<uint16_t>(StreamMarker(static_cast<uint32_t>(p.size())) | n));
  }
  p.resize(kDisplayPixels);
  return p;
}
Picture ZeroAtToken425(const uint16_t*) {
  Picture p(kDisplayPixels);
  for (int i = 0; i < kDisplayPixels; ++i) p[i] = i % 2 ? 2 : 1;
  p[425 - 38] = 0x0000;
  return p;
}
Picture EveryOtherPixel(const uint16_t* shown) {
  Picture p(shown, shown + kDisplayPixels);
  for (int i = 0; i < kDisplayPixels; i += 2) p[i] = static_cast<uint16_t>(~p[i]);
  return p;
}

const Scene kScenes[] = {
    {"single pixel", false, 1, SinglePixel},
    {"random everywhere", false, 1, RandomEverywhere},
    {"random everywhere, whole", true, 1, RandomEverywhere},
    {"every value carries its marker", true, 2, EveryValueCarriesItsMarker},
    {"runs of every length", false, 1, RunsOfEveryLength},
    {"zero literal at token 425", true, 1, ZeroAtToken425},
    {"every other pixel", false, 1, EveryOtherPixel},
};

class DisplayRoundTrip : public SimTest, public ::testing::WithParamInterface<BulkMode> {
 protected:
  bool HostCopyMatches() const {
    return std::equal(FrameBuffer, FrameBuffer + kDisplayPixels, sim.controller.Screen());
  }
};

TEST_P(DisplayRoundTrip, TheHostsCopyEqualsTheDevicesScreen) {
  sim.controller.Options().bulkMode = GetParam();
  ASSERT_EQ(VK3cmd_GetDisplayFrame(true), kResultOk);  // the firmware UI, whole
  ASSERT_TRUE(HostCopyMatches());

  for (const Scene& scene : kScenes) {
    SCOPED_TRACE(scene.name);
    sim.controller.HoldScreen(scene.paint(sim.controller.Screen()).data());
    int frames = 0;
    while (frames < 4 && !HostCopyMatches()) {
      const uint64_t before = NowUs();
      ASSERT_EQ(VK3cmd_GetDisplayFrame(scene.whole && frames == 0), kResultOk);
      ++frames;
      EXPECT_LE(theChannel.BulkLength, static_cast<int32_t>(kDeviceStreamBudget));
      EXPECT_LT(NowUs() - before, 100000u);           // no read waited for bytes that never came
      EXPECT_EQ(theUsbDevice.QueryReadBufLen(), 0u);  // nothing left over on the link
    }
    EXPECT_TRUE(HostCopyMatches());
    EXPECT_LE(frames, scene.maxFrames);
  }
  // Nothing changed: a frame of zero masks changes nothing.
  ASSERT_EQ(VK3cmd_GetDisplayFrame(false), kResultOk);
  EXPECT_TRUE(HostCopyMatches());
}

TEST_P(DisplayRoundTrip, TheMirrorFollowsTheLiveUi) {
  sim.controller.Options().bulkMode = GetParam();
  ASSERT_EQ(VK3cmd_GetDisplayFrame(true), kResultOk);
  sim.controller.PressKey(UiKey::Enter);  // the status page: clock and moving bar
  ASSERT_EQ(VK3cmd_GetDisplayFrame(false), kResultOk);
  const Picture first(FrameBuffer, FrameBuffer + kDisplayPixels);
  for (int tick = 0; tick < 15; ++tick) {
    sim.virtualClock.AdvanceUs(76000);
    ASSERT_EQ(VK3cmd_GetDisplayFrame(false), kResultOk);
    EXPECT_TRUE(HostCopyMatches()) << "tick " << tick;
  }
  EXPECT_NE(Picture(FrameBuffer, FrameBuffer + kDisplayPixels), first);  // it moved by itself
}

INSTANTIATE_TEST_SUITE_P(BothBulkModes, DisplayRoundTrip,
                         ::testing::Values(BulkMode::Segments, BulkMode::Streamed),
                         [](const auto& info) {
                           return info.param == BulkMode::Segments ? "Segments" : "Streamed";
                         });

}  // namespace
