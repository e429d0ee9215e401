// The soak: an hour of device time in virtual time. The device's animated
// screen is mirrored every 76 ms while random keys go to it, the device sends
// notifications of every kind, and the user disconnects, pushes ESC and
// reconnects. Every step must end as the panel ends it, the mirror must come
// back at the end, and the process's peak memory must not grow after the
// first minute (LeakSanitizer checks the rest at exit in the sanitizer build).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

#include "protocol/command_channel.h"
#include "tests/robustness/panel_session.h"

namespace {

constexpr uint64_t kSoakMs = 60ull * 60 * 1000;
constexpr uint64_t kWarmUpMs = 60 * 1000;
constexpr size_t kBoxesKept = 64;
// Allocator bookkeeping may round a peak up by a few pages.
constexpr long kPeakSlackKb = 256;
constexpr uint32_t kSeed = 0x5eed3;
constexpr int kDevicePages = 5;  // the items of the device's main menu

constexpr uint32_t kKeys[] = {kVirtualKeyEscape, kVirtualKeyReturn, kVirtualKeyLeft,
                              kVirtualKeyRight,  kVirtualKeyUp,     kVirtualKeyDown};
constexpr uint8_t kNotifications[] = {kNotifyBusyA, kNotifyBusyB, kNotifySystemChangeDefault,
                                      kNotifySwitchedOff};

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer the process keeps freed memory in its quarantine and
// grows with the sanitizer's own records, so there the program's live heap
// is what is measured.
extern "C" size_t __sanitizer_get_current_allocated_bytes();  // the sanitizer's allocator
const char* const kMemoryMeasure = "live heap";
long MemoryKb() {
  return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
}
#else
const char* const kMemoryMeasure = "peak memory";
long MemoryKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}
#endif

struct Tally {
  uint64_t refreshes = 0, keys = 0, notifications = 0, disconnects = 0, connects = 0, pushEscs = 0,
           boxes = 0;
};

TEST(Soak, AnHourOfDeviceTimeStaysCorrectAndFlat) {
  PanelSession session;
  std::mt19937 rng(kSeed);
  Tally tally;
  std::string problem;
  long firstMinuteKb = 0;  // the most memory the first minute needed
  long laterKb = 0;        // the most memory needed after it

  auto run = [&](const SessionStep& step) {
    session.Run(step);
    // The simulation's own logs of writes and sleeps are the test's, not the
    // program's memory: keep them short.
    session.sim.bridge.ForgetHostWrites(session.sim.controllerBridge);
    session.sim.platform.ForgetRecords();
    if (problem.empty()) problem = session.CheckLastStep();
    const long kb = MemoryKb();
    long& peak = session.NowMs() < kWarmUpMs ? firstMinuteKb : laterKb;
    peak = std::max(peak, kb);
    if (session.view.boxes.size() > kBoxesKept) {
      tally.boxes += session.view.boxes.size();
      session.view.boxes.clear();
    }
  };

  // The first minute begins with a tour: every page of the device, each
  // mirrored whole after a reconnect, so the biggest frames come early.
  run({Action::Poll});
  run({Action::Connect});
  for (int page = 0; page < kDevicePages; ++page) {
    for (uint32_t key : {kVirtualKeyReturn, kVirtualKeyEscape, kVirtualKeyDown}) {
      if (key == kVirtualKeyReturn) {
        run({Action::KeyDown, key});
        run({Action::KeyUp, key});
        run({Action::Disconnect});
        run({Action::Poll});
        run({Action::Connect});
        for (int i = 0; i < 3; ++i) run({Action::Refresh});
        continue;
      }
      run({Action::KeyDown, key});
      run({Action::KeyUp, key});
    }
  }
  run({Action::Color});
  run({Action::PushEsc});

  while (problem.empty() && session.NowMs() < kSoakMs) {
    const uint32_t dice = rng() % 1000;
    if (session.controller.PanelStateNow() != Connected) {
      run({Action::Poll});
      if (session.controller.PanelStateNow() != DeviceAvailable) continue;
      // A switched-off device only comes back with its hardware Esc key.
      if (dice < 300) {
        run({Action::PushEsc});
        ++tally.pushEscs;
      }
      run({Action::Connect});
      ++tally.connects;
    } else if (dice < 25) {
      const uint32_t key = kKeys[rng() % std::size(kKeys)];
      run({Action::KeyDown, key});
      run({Action::KeyUp, key});
      ++tally.keys;
    } else if (dice < 27) {
      const uint8_t code = kNotifications[rng() % std::size(kNotifications)];
      session.sim.controller.SendNotification(
          code, rng() % 2 ? NotifyWhen::Now : NotifyWhen::InPlaceOfNextAnswer);
      ++tally.notifications;
    } else if (dice < 28) {
      run({Action::Disconnect});
      ++tally.disconnects;
    } else if (dice < 30) {
      run({Action::PushEsc});
      ++tally.pushEscs;
    } else {
      run({Action::Refresh});
      ++tally.refreshes;
    }
  }
  ASSERT_EQ(problem, "") << "at " << session.NowMs() << " ms of device time";
  session.sim.controller.SwitchOn();
  EXPECT_EQ(session.RecoverByConnect(), "");
  EXPECT_EQ(session.stopwatch.longestTransferOverTimeoutUs, 0u) << session.stopwatch.slowestCall;

  tally.boxes += session.view.boxes.size();
  std::printf(
      "soak: %llu s of device time, %llu refreshes, %llu key events, %llu notifications, "
      "%llu disconnects, %llu connects, %llu push ESC, %llu boxes; %s %ld kB in the first minute, "
      "%ld kB after it\n",
      static_cast<unsigned long long>(session.NowMs() / 1000),
      static_cast<unsigned long long>(tally.refreshes), static_cast<unsigned long long>(tally.keys),
      static_cast<unsigned long long>(tally.notifications),
      static_cast<unsigned long long>(tally.disconnects),
      static_cast<unsigned long long>(tally.connects),
      static_cast<unsigned long long>(tally.pushEscs), static_cast<unsigned long long>(tally.boxes),
      kMemoryMeasure, firstMinuteKb, laterKb);
  EXPECT_LE(laterKb, firstMinuteKb + kPeakSlackKb);
  EXPECT_GT(tally.refreshes, 30000u) << "most of the hour should be mirrored";
}

}  // namespace
