// A platform for the tests: records every beep and sleep, never waits.
//
// Owns: the record of Beep(hz, ms) and Sleep(ms) calls and the virtual time
// they would have taken. Does not own: any real waiting or sound.
// onSleep, when set, runs after a Sleep is recorded, so a test can let
// something happen "meanwhile" (a transmit queue emptying, bytes arriving).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/platform.h"

struct RecordedBeep {
  uint32_t hz;
  uint32_t ms;
  bool operator==(const RecordedBeep&) const = default;
};

class RecordingPlatform : public Platform {
 public:
  void Beep(uint32_t hz, uint32_t ms) override {
    beeps.push_back({hz, ms});
    elapsedMs += ms;
  }
  void Sleep(uint32_t ms) override {
    sleeps.push_back(ms);
    elapsedMs += ms;
    if (onSleep) onSleep(ms);
  }

  uint64_t TotalSleptMs() const {
    uint64_t total = 0;
    for (uint32_t ms : sleeps) total += ms;
    return total;
  }
  void Forget() {
    beeps.clear();
    sleeps.clear();
    elapsedMs = 0;
  }

  std::vector<RecordedBeep> beeps;
  std::vector<uint32_t> sleeps;
  uint64_t elapsedMs = 0;  // virtual time: beeps and sleeps together
  std::function<void(uint32_t ms)> onSleep;
};
