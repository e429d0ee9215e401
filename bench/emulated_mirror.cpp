// The front panel's controller mirroring the simulated hand controller behind
// the emulated FT230X, through the real libftdi1 and libusb, run the way the
// window runs it (the 76 ms display timer, at most one pending tick). Prints
// one JSON line with the refresh period reached and the time one refresh takes.
// Runs under the emulator, which holds the bridge and the device:
//
//   vesk3_ft230x_emulator vesk3_mirror_emulated [--seconds N]
//       [--bulk segments|streamed] [--padding on|off]
//
// --padding says whether the device pads its streamed frames to 512 bytes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/headless_view.h"
#include "bench/metered_driver.h"
#include "drivers/libftdi_driver.h"
#include "link/usb_device.h"
#include "panel/front_panel_controller.h"
#include "platform/platform.h"
#include "tests/hardware/emulator_control.h"

namespace {

constexpr uint64_t kUsPerMs = 1000;
constexpr int kAvailablePollsMax = 40;  // ten seconds of presence polls for the hot-plug

struct Options {
  double seconds = 20;
  std::string bulk = "streamed";
  bool padding = true;
};

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--seconds" && hasValue) {
      o.seconds = std::atof(argv[++i]);
    } else if (a == "--bulk" && hasValue) {
      o.bulk = argv[++i];
    } else if (a == "--padding" && hasValue) {
      o.padding = std::string(argv[++i]) == "on";
    } else {
      std::fprintf(stderr, "unknown argument %s\n", a.c_str());
      std::exit(2);
    }
  }
  return o;
}

void SleepUntilUs(uint64_t us) {
  const uint64_t now = WallUs();
  if (us > now) std::this_thread::sleep_for(std::chrono::microseconds(us - now));
}

double Mean(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

double Percentile95(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, v.size() * 95 / 100)];
}

// Adds the hand controller's bridge and sets how its device sends frames.
int AddHandController(EmulatorControl& control, const Options& o) {
  const int bridge =
      control.AddBridge("vesk3", 0x0403, 0x6015, "VK3A0001", kHandControllerDescription);
  if (bridge < 0) return -1;
  const std::string device = "device " + std::to_string(bridge) + " ";
  if (control.Command(device + "bulk " + o.bulk) != "ok") return -1;
  if (control.Command(device + "pad " + (o.padding ? "1" : "0")) != "ok") return -1;
  return bridge;
}

int Run(const Options& o) {
  EmulatorControl control;
  if (!control.connected()) {
    std::fprintf(stderr, "run me under vesk3_ft230x_emulator\n");
    return 2;
  }
  const int bridge = AddHandController(control, o);
  if (bridge < 0) {
    std::fprintf(stderr, "the emulator did not add the hand controller\n");
    return 1;
  }
  LibFtdiDriver driver;
  RealPlatform platform;
  UseDriver(driver);
  UsePlatform(platform);
  HeadlessView view;
  FrontPanelController controller(view);
  controller.Start();
  for (int i = 0; i < kAvailablePollsMax && controller.PanelStateNow() != DeviceAvailable; ++i) {
    controller.OnTimer(TIMER_POLL);
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollPeriodMs));
  }
  controller.OnConnect();
  if (controller.PanelStateNow() != Connected) {
    std::fprintf(stderr, "could not connect through the emulated bridge\n");
    EndLink();
    return 1;
  }
  controller.OnTimer(TIMER_DISPLAY);  // the whole display first, not measured

  std::vector<double> periodsMs, refreshMs;
  const uint64_t start = WallUs();
  const uint64_t end = start + static_cast<uint64_t>(o.seconds * 1e6);
  uint64_t dueUs = start;
  uint64_t lastTick = 0;
  while (controller.PanelStateNow() == Connected) {
    SleepUntilUs(dueUs);
    const uint64_t tick = WallUs();
    if (tick >= end) break;
    if (lastTick != 0) periodsMs.push_back(static_cast<double>(tick - lastTick) / 1e3);
    lastTick = tick;
    controller.OnTimer(TIMER_DISPLAY);
    refreshMs.push_back(static_cast<double>(WallUs() - tick) / 1e3);
    // Due every period from the start; a tick missed fires once, at once.
    dueUs = std::max(dueUs + kDisplayPeriodMs * kUsPerMs, WallUs());
  }
  std::printf(
      "{\"run\":\"emulated\",\"bulk\":\"%s\",\"padding\":%s,\"seconds\":%.1f,\"refreshes\":%zu,"
      "\"period_ms_mean\":%.2f,\"period_ms_p95\":%.2f,\"refresh_ms_mean\":%.2f,"
      "\"refresh_ms_p95\":%.2f,\"boxes\":%zu}\n",
      o.bulk.c_str(), o.padding ? "true" : "false", static_cast<double>(WallUs() - start) / 1e6,
      refreshMs.size(), Mean(periodsMs), Percentile95(periodsMs), Mean(refreshMs),
      Percentile95(refreshMs), view.boxes.size());
  EndLink();
  control.Unplug(bridge);
  return view.boxes.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return Run(Parse(argc, argv));
}
