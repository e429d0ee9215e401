#include "platform/tone.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Gain of the raised-cosine ramp at sample i of a ramp of n samples: 0 at the
// outer end, approaching 1 towards the inner end.
double RampGain(uint64_t i, uint64_t n) {
  return 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(i) / static_cast<double>(n));
}

}  // namespace

std::vector<int16_t> SynthesizeTone(uint32_t hz, uint32_t ms, uint32_t sampleRate) {
  if (hz == 0 || ms == 0 || uint64_t{hz} * 2 >= sampleRate) return {};
  const uint64_t count = uint64_t{sampleRate} * ms / 1000;
  const uint64_t ramp = std::min<uint64_t>(uint64_t{sampleRate} * kToneFadeMs / 1000, count / 2);
  const double step = 2.0 * std::numbers::pi * hz / sampleRate;

  std::vector<int16_t> samples(count);
  for (uint64_t i = 0; i < count; ++i) {
    double gain = 1.0;
    if (i < ramp) gain = RampGain(i, ramp);
    if (count - 1 - i < ramp) gain = RampGain(count - 1 - i, ramp);
    samples[i] = static_cast<int16_t>(std::lround(kTonePeak * gain * std::sin(step * i)));
  }
  return samples;
}
