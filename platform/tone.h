// The samples of a tone: a sine of a given pitch and length, faded in and out.
//
// Owns: the synthesis of a tone as signed 16-bit mono samples at a given
// sample rate. Does not own: playing them (sound_server) or deciding when a
// tone is due (the platform's Beep).
#pragma once

#include <cstdint>
#include <vector>

// The rate the beep is synthesised and played at; every desktop sound server
// takes it without fuss.
constexpr uint32_t kToneSampleRate = 48000;
// Peak amplitude: half of full scale, clearly audible without being harsh.
constexpr int16_t kTonePeak = 16384;
// Length of the raised-cosine ramp at either end, so the tone does not click.
constexpr uint32_t kToneFadeMs = 3;

// ms milliseconds of a sine at hz, sampled at sampleRate, rising from and
// falling back to silence over kToneFadeMs at either end (over half the tone
// where it is shorter than two ramps). Empty when there is nothing to play:
// ms or hz is 0, or hz is at or above half the sample rate and so cannot be
// represented.
std::vector<int16_t> SynthesizeTone(uint32_t hz, uint32_t ms, uint32_t sampleRate);
