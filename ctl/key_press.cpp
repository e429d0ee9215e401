#include "ctl/key_press.h"

#include "ctl/interrupt.h"
#include "platform/platform.h"
#include "services/buttons.h"

namespace {

constexpr uint64_t kUsPerMs = 1000;

struct KeyName {
  const char* name;
  int key;
};
constexpr KeyName kKeyNames[] = {{"esc", kKeyEsc},   {"enter", kKeyEnter}, {"up", kKeyUp},
                                 {"down", kKeyDown}, {"left", kKeyLeft},   {"right", kKeyRight}};

}  // namespace

int DeviceKeyNamed(const std::string& name) {
  for (const KeyName& k : kKeyNames) {
    if (name == k.name) return k.key;
  }
  return -1;
}

const char* KeyNames() {
  return "esc enter up down left right";
}

std::vector<KeyEvent> HoldSchedule(int key, uint32_t holdMs) {
  std::vector<KeyEvent> events{{0, key}};
  for (uint32_t at = kRepeatDelayMs; at < holdMs; at += kRepeatIntervalMs)
    events.push_back({at, key});
  events.push_back({holdMs, key + kButtonRelease});
  return events;
}

bool WaitUntilUs(uint64_t atUs) {
  for (;;) {
    if (Interrupted()) return false;
    const uint64_t now = ThePlatform().NowUs();
    if (now >= atUs) return true;
    uint64_t ms = (atUs - now + kUsPerMs - 1) / kUsPerMs;
    if (ms > kInterruptCheckMs) ms = kInterruptCheckMs;
    ThePlatform().Sleep(static_cast<uint32_t>(ms));
  }
}

PressOutcome PressKeys(DeviceSession& session, const std::vector<int>& keys, uint32_t holdMs,
                       uint32_t gapMs, ResultCode* failed) {
  for (size_t k = 0; k < keys.size(); ++k) {
    if (k > 0 && !WaitUntilUs(ThePlatform().NowUs() + uint64_t{gapMs} * kUsPerMs)) {
      return PressOutcome::Interrupted;
    }
    if (Interrupted()) return PressOutcome::Interrupted;
    const uint64_t pressedUs = ThePlatform().NowUs();
    bool held = false;
    for (const KeyEvent& event : HoldSchedule(keys[k], holdMs)) {
      const bool release = event.code >= kButtonRelease;
      if (!WaitUntilUs(pressedUs + uint64_t{event.atMs} * kUsPerMs)) {
        // Let go of the key before stopping: the device must not see it held.
        if (held) (void)session.Button(keys[k] + kButtonRelease);
        return PressOutcome::Interrupted;
      }
      const ResultCode r = session.Button(event.code);
      if (r != kResultOk) {
        if (held && !release && r != kResultPoweredOff)
          (void)session.Button(keys[k] + kButtonRelease);
        *failed = r;
        return PressOutcome::Failed;
      }
      held = !release;
    }
  }
  return PressOutcome::Done;
}
