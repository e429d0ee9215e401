#include "platform/platform.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/sound_server.h"
#include "platform/tone.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long a sound server may take to accept the connection and the sound;
// a local one answers within a few milliseconds, so past this none is there.
constexpr std::chrono::milliseconds kSoundServerConnectTimeout{50};
// How much longer than its duration a beep may keep the thread, all told.
constexpr std::chrono::milliseconds kBeepOverrunLimit{90};
// The longest tone synthesised; a longer beep is this tone, then silence.
constexpr uint32_t kLongestToneMs = 10000;

RealPlatform defaultPlatform;
Platform* installedPlatform = &defaultPlatform;

void RingTerminalBell() {
  if (isatty(STDERR_FILENO)) {
    const char bell = '\a';
    (void)!write(STDERR_FILENO, &bell, 1);
  }
}

}  // namespace

void RealPlatform::Beep(uint32_t hz, uint32_t ms) {
  const Clock::time_point start = Clock::now();
  const uint32_t toneMs = std::min(ms, kLongestToneMs);
  const std::vector<int16_t> tone = SynthesizeTone(hz, toneMs, kToneSampleRate);
  if (!tone.empty()) {
    const SoundOutcome outcome =
        PlayOnSoundServer(tone, kToneSampleRate, start + kSoundServerConnectTimeout,
                          start + std::chrono::milliseconds(toneMs) + kBeepOverrunLimit);
    if (outcome == SoundOutcome::NotPlayed) RingTerminalBell();
  }
  std::this_thread::sleep_until(start + std::chrono::milliseconds(ms));
}

void RealPlatform::Sleep(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void UsePlatform(Platform& platform) {
  installedPlatform = &platform;
}

void UseRealPlatform() {
  installedPlatform = &defaultPlatform;
}

Platform& ThePlatform() {
  return *installedPlatform;
}
