#include "platform/platform.h"

#include <unistd.h>

#include <chrono>
#include <thread>

namespace {
RealPlatform defaultPlatform;
Platform* installedPlatform = &defaultPlatform;
}  // namespace

void RealPlatform::Beep(uint32_t /*hz*/, uint32_t ms) {
  if (isatty(STDERR_FILENO)) {
    const char bell = '\a';
    (void)!write(STDERR_FILENO, &bell, 1);
  }
  Sleep(ms);
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
