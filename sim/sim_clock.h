// The simulated device's sense of time.
//
// Owns: SimClock, the one clock the simulated bridge, the simulated hand
// controller and the simulated platform share; VirtualClock, which only moves
// when something waits on it (tests: a 4000 ms hold-off costs nothing), and
// RealClock, which really waits (the programs and benchmarks).
// Does not own: who waits or for how long (the bridge and the platform decide).
#pragma once

#include <chrono>
#include <cstdint>

class SimClock {
 public:
  virtual ~SimClock() = default;
  // Microseconds since the clock was made.
  virtual uint64_t NowUs() = 0;
  // Returns once NowUs() has reached us (at once when it already has).
  virtual void SleepUntilUs(uint64_t us) = 0;

  void SleepForUs(uint64_t us) { SleepUntilUs(NowUs() + us); }
};

// Time that stands still until a wait moves it forward; nothing waits for real.
class VirtualClock final : public SimClock {
 public:
  uint64_t NowUs() override { return nowUs_; }
  void SleepUntilUs(uint64_t us) override;
  void AdvanceUs(uint64_t us) { nowUs_ += us; }

 private:
  uint64_t nowUs_ = 0;
};

// The steady clock of the machine; SleepUntilUs blocks the calling thread.
class RealClock final : public SimClock {
 public:
  RealClock();
  uint64_t NowUs() override;
  void SleepUntilUs(uint64_t us) override;

 private:
  std::chrono::steady_clock::time_point start_;
};
