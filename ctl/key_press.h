// Pressing the device's keys from the command line: the key names, and the
// events a key held for a while sends — the press, the repeated presses of a
// held PC key (the first 500 ms after the press, then every 33 ms) and one
// release.
//
// Owns: the names esc enter up down left right, the event schedule, playing
// it in time through the session and the platform's clock, releasing a held
// key when interrupted. Does not own: the button command (services/buttons).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ctl/device_session.h"

constexpr uint32_t kRepeatDelayMs = 500;
constexpr uint32_t kRepeatIntervalMs = 33;
// Waits are cut into pieces this long, so an interrupt is seen within one.
constexpr uint32_t kInterruptCheckMs = 20;

// The device key of a name, or -1.
int DeviceKeyNamed(const std::string& name);
const char* KeyNames();  // "esc enter up down left right"

struct KeyEvent {
  uint32_t atMs;  // since the press
  int32_t code;   // key, + kButtonRelease for the release
};

// Press at 0, repeats at 500, 533, ... before holdMs, release at holdMs.
std::vector<KeyEvent> HoldSchedule(int key, uint32_t holdMs);

// Waits until the platform's clock reaches the time; false when interrupted first.
bool WaitUntilUs(uint64_t atUs);

enum class PressOutcome { Done, Interrupted, Failed };

// Presses the keys in order, gapMs apart. On interrupt a held key is
// released before returning; on failure *failed holds the code.
PressOutcome PressKeys(DeviceSession& session, const std::vector<int>& keys, uint32_t holdMs,
                       uint32_t gapMs, ResultCode* failed);
