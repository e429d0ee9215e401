// Measuring tones in the tests: the amplitude of one frequency in a block of
// samples (Goertzel), and the plain peak and RMS of a block.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>

// Amplitude of the component at hz in samples taken at sampleRate: a full
// sine of amplitude A at hz, over whole periods, gives A.
inline double AmplitudeAt(std::span<const int16_t> samples, double hz, double sampleRate) {
  const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * hz / sampleRate);
  double previous = 0.0;
  double beforePrevious = 0.0;
  for (const int16_t sample : samples) {
    const double current = sample + coefficient * previous - beforePrevious;
    beforePrevious = previous;
    previous = current;
  }
  const double power = previous * previous + beforePrevious * beforePrevious -
                       coefficient * previous * beforePrevious;
  return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(samples.size());
}

inline double Rms(std::span<const int16_t> samples) {
  double sum = 0.0;
  for (const int16_t sample : samples) sum += static_cast<double>(sample) * sample;
  return std::sqrt(sum / static_cast<double>(samples.size()));
}
