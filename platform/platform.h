// The platform seam: the two waits and the beep the protocol needs.
//
// Owns: Beep, Sleep and NowUs, and which implementation the core calls. The real
// platform really waits; tests install one that records and never waits, and
// the simulated hand controller installs one that advances its own clock.
// Does not own: timers of the window (Qt's) or driver timeouts (the driver's).
#pragma once

#include <cstdint>

class Platform {
 public:
  virtual ~Platform() = default;
  // A tone of hz for ms milliseconds; blocks for about ms.
  virtual void Beep(uint32_t hz, uint32_t ms) = 0;
  // Blocks the calling (the one) thread for ms milliseconds.
  virtual void Sleep(uint32_t ms) = 0;
  // Microseconds on a monotonic clock, for pacing loops and timestamps; the
  // machine's steady clock unless the platform keeps a clock of its own.
  virtual uint64_t NowUs();
};

// Sleeps for real. Beeps on the desktop's sound server (PulseAudio, or
// PipeWire's PulseAudio service); where none answers within a short connect
// timeout, rings the terminal bell instead where standard error is a terminal.
// A beep takes its duration, and never more than about 100 ms longer.
class RealPlatform : public Platform {
 public:
  void Beep(uint32_t hz, uint32_t ms) override;
  void Sleep(uint32_t ms) override;
};

void UsePlatform(Platform& platform);
// Back to the built-in real platform, the one in force before any UsePlatform.
void UseRealPlatform();
Platform& ThePlatform();
