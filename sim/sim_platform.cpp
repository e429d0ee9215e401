#include "sim/sim_platform.h"

namespace {
constexpr uint64_t kUsPerMs = 1000;

template <typename T>
void KeepRecord(std::vector<T>& records, const T& record) {
  if (records.size() >= SimPlatform::kRecordLimit) records.erase(records.begin());
  records.push_back(record);
}
}  // namespace

void SimPlatform::Beep(uint32_t hz, uint32_t ms) {
  KeepRecord(beeps_, SimBeep{hz, ms, clock_.NowUs()});
  clock_.SleepForUs(uint64_t{ms} * kUsPerMs);
}

void SimPlatform::Sleep(uint32_t ms) {
  KeepRecord(sleeps_, ms);
  totalSleptMs_ += ms;
  clock_.SleepForUs(uint64_t{ms} * kUsPerMs);
}

void SimPlatform::ForgetRecords() {
  beeps_.clear();
  sleeps_.clear();
  totalSleptMs_ = 0;
}
