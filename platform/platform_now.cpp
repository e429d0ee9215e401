#include <chrono>

#include "platform/platform.h"

uint64_t Platform::NowUs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}
