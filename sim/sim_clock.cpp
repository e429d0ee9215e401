#include "sim/sim_clock.h"

#include <thread>

void VirtualClock::SleepUntilUs(uint64_t us) {
  if (us > nowUs_) nowUs_ = us;
}

RealClock::RealClock() : start_(std::chrono::steady_clock::now()) {}

uint64_t RealClock::NowUs() {
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

void RealClock::SleepUntilUs(uint64_t us) {
  std::this_thread::sleep_until(start_ + std::chrono::microseconds(us));
}
