#include "platform/tone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/platform/tone_analysis.h"

namespace {

struct ToneCase {
  uint32_t hz;
  uint32_t ms;
  uint32_t sampleRate;
};

class ToneShape : public testing::TestWithParam<ToneCase> {};

// Length, pitch and level, and ends that rise from and fall back to silence
// (a tone that starts or stops at full level clicks).
TEST_P(ToneShape, IsASineOfThePitchAndLengthFadedAtBothEnds) {
  const auto [hz, ms, rate] = GetParam();
  const std::vector<int16_t> tone = SynthesizeTone(hz, ms, rate);
  ASSERT_EQ(tone.size(), uint64_t{rate} * ms / 1000);

  const size_t ramp = std::min<size_t>(uint64_t{rate} * kToneFadeMs / 1000, tone.size() / 2);
  const std::span<const int16_t> middle(tone.data() + ramp, tone.size() - 2 * ramp);
  if (!middle.empty()) {
    EXPECT_NEAR(AmplitudeAt(middle, hz, rate), kTonePeak, kTonePeak * 0.05);
    EXPECT_NEAR(Rms(middle), kTonePeak / std::sqrt(2.0), kTonePeak * 0.05);
  }
  EXPECT_LE(*std::max_element(tone.begin(), tone.end()), kTonePeak);

  // The ends fade: over the outer quarter of each ramp the level stays below
  // a sixth of the peak, and the last sample is silence again.
  const size_t quarter = ramp / 4;
  const auto peakOf = [](auto first, auto last) {
    return std::abs(*std::max_element(
        first, last, [](int16_t a, int16_t b) { return std::abs(a) < std::abs(b); }));
  };
  EXPECT_LT(peakOf(tone.begin(), tone.begin() + quarter), kTonePeak / 6);
  EXPECT_LT(peakOf(tone.end() - quarter, tone.end()), kTonePeak / 6);
  EXPECT_LE(std::abs(tone.back()), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Tones, ToneShape,
    testing::Values(ToneCase{3000, 50, kToneSampleRate},    // the hold-off beep
                    ToneCase{440, 200, 44100},              // another rate
                    ToneCase{3000, 4, kToneSampleRate},     // shorter than two ramps
                    ToneCase{23000, 10, kToneSampleRate}),  // just below half the rate
    [](const testing::TestParamInfo<ToneCase>& info) {
      return std::to_string(info.param.hz) + "Hz_" + std::to_string(info.param.ms) + "ms_" +
             std::to_string(info.param.sampleRate);
    });

TEST(Tone, IsEmptyWhenThereIsNothingToPlay) {
  for (const ToneCase c :
       {ToneCase{0, 50, kToneSampleRate}, ToneCase{3000, 0, kToneSampleRate},
        ToneCase{24000, 50, kToneSampleRate}, ToneCase{30000, 50, kToneSampleRate}}) {
    EXPECT_TRUE(SynthesizeTone(c.hz, c.ms, c.sampleRate).empty())
        << c.hz << " Hz, " << c.ms << " ms";
  }
}

}  // namespace
