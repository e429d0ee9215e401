// The platform seam for a run against the simulated device.
//
// Owns: Beep, Sleep and NowUs on a SimClock (on a VirtualClock they only move time
// forward; on a RealClock they really wait) and the record of every beep and
// sleep, so tests can check a hold-off without waiting for it.
// Does not own: the clock (the caller's) or any sound (there is none).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"
#include "sim/sim_clock.h"

struct SimBeep {
  uint32_t hz;
  uint32_t ms;
  uint64_t atUs;  // clock time when the beep began
};

class SimPlatform : public Platform {
 public:
  explicit SimPlatform(SimClock& clock) : clock_(clock) {}

  void Beep(uint32_t hz, uint32_t ms) override;
  void Sleep(uint32_t ms) override;
  uint64_t NowUs() override { return clock_.NowUs(); }

  const std::vector<SimBeep>& Beeps() const { return beeps_; }
  const std::vector<uint32_t>& Sleeps() const { return sleeps_; }
  uint64_t TotalSleptMs() const { return totalSleptMs_; }
  void ForgetRecords();

  // A long demo run keeps only the most recent records.
  static constexpr size_t kRecordLimit = 4096;

 private:
  SimClock& clock_;
  std::vector<SimBeep> beeps_;
  std::vector<uint32_t> sleeps_;
  uint64_t totalSleptMs_ = 0;
};
