// The front panel's controller in a loop of its own under a real clock, run
// the way the window runs it: the 76 ms display timer while connected, the
// 250 ms presence poll while not. Prints one JSON line with the refresh
// period reached and the CPU time of the host side as a share of one core;
// the simulated device's own work (everything inside the driver calls, and
// the animation it draws) is measured and shown apart.
//
//   vesk3_mirror_cpu [--seconds N] [--scene ui|square|noise] [--bulk segments|streamed]
//   vesk3_mirror_cpu --idle [--seconds N] [--bus none|sim|hardware]
//
// Scenes: ui, the simulated device's own user interface (its bar moves every
// 100 ms); square, a 40 x 40 square that moves on every refresh; noise, a new
// screen of varied pixels on every refresh (the link is then saturated).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/headless_view.h"
#include "bench/metered_driver.h"
#include "link/usb_device.h"
#include "panel/front_panel_controller.h"
#include "platform/platform.h"
#include "protocol/command_channel.h"
#include "services/display_frame.h"
#include "services/program_state.h"
#include "sim/simulated_setup.h"
#if VESK3_BENCH_LIBFTDI
#include "bench/hardware_bus.h"
#endif

namespace {

constexpr uint64_t kUsPerMs = 1000;
constexpr int kSquareSide = 40;
constexpr int kSquareStep = 6;  // pixels per refresh
constexpr int kConnectPollTicks = 8;

struct Options {
  double seconds = 60;
  std::string scene = "ui";
  std::string bulk = "segments";
  bool idle = false;
  std::string bus = "sim";
};

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--seconds" && hasValue)
      o.seconds = std::atof(argv[++i]);
    else if (a == "--scene" && hasValue)
      o.scene = argv[++i];
    else if (a == "--bulk" && hasValue)
      o.bulk = argv[++i];
    else if (a == "--bus" && hasValue)
      o.bus = argv[++i];
    else if (a == "--idle")
      o.idle = true;
    else {
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

// What the device shows next, drawn on the device's side of the wire.
class Animation {
 public:
  Animation(const std::string& scene, HandController& device) : scene_(scene), device_(device) {
    uint32_t s = 0x2545F491u;
    background_.resize(kDisplayPixels);
    for (uint16_t& p : background_)
      p = static_cast<uint16_t>((s = s * 1664525u + 1013904223u) >> 16);
    picture_ = background_;
  }
  void Step() {
    if (scene_ == "square") {
      picture_ = background_;
      const int x = (step_ * kSquareStep) % (kDisplayWidth - kSquareSide);
      const int y = (step_ * kSquareStep / 2) % (kDisplayHeight - kSquareSide);
      for (int r = y; r < y + kSquareSide; ++r) {
        for (int c = x; c < x + kSquareSide; ++c)
          picture_[static_cast<size_t>(r) * kDisplayWidth + c] = 0xFFE0;
      }
      device_.HoldScreen(picture_.data());
    } else if (scene_ == "noise") {
      uint32_t s = static_cast<uint32_t>(step_) * 2654435761u + 1;
      for (uint16_t& p : picture_)
        p = static_cast<uint16_t>((s = s * 1664525u + 1013904223u) >> 16);
      device_.HoldScreen(picture_.data());
    }
    ++step_;
  }

 private:
  std::string scene_;
  HandController& device_;
  std::vector<uint16_t> background_, picture_;
  int step_ = 0;
};

// A periodic timer as the window's toolkit runs it: due every period from its
// start; a tick that comes due while a handler runs fires once, as soon as it
// returns (at most one pending tick).
struct PeriodicTimer {
  uint64_t periodUs;
  uint64_t dueUs;
  void Advance(uint64_t nowUs) {
    dueUs += periodUs;
    if (dueUs < nowUs) dueUs = nowUs;
  }
};

struct Percentiles {
  double mean = 0, p50 = 0, p95 = 0, max = 0;
};

Percentiles Summarise(std::vector<double> v) {
  Percentiles p;
  if (v.empty()) return p;
  std::sort(v.begin(), v.end());
  double sum = 0;
  for (double x : v) sum += x;
  p.mean = sum / static_cast<double>(v.size());
  p.p50 = v[v.size() / 2];
  p.p95 = v[std::min(v.size() - 1, v.size() * 95 / 100)];
  p.max = v.back();
  return p;
}

int RunMirror(const Options& o) {
  SimulatedSetup sim(true);
  sim.controller.Options().bulkMode =
      o.bulk == "streamed" ? BulkMode::Streamed : BulkMode::Segments;
  MeteredDriver metered(sim.bridge);
  ProgramScope program(metered, sim.platform);
  HeadlessView view;
  FrontPanelController controller(view);
  controller.Start();
  for (int i = 0; i < kConnectPollTicks && controller.PanelStateNow() != DeviceAvailable; ++i) {
    controller.OnTimer(TIMER_POLL);
  }
  controller.OnConnect();
  if (controller.PanelStateNow() != Connected) {
    std::fprintf(stderr, "could not connect to the simulated hand controller\n");
    return 1;
  }
  Animation animation(o.scene, sim.controller);
  animation.Step();
  controller.OnTimer(TIMER_DISPLAY);  // the whole display first, not measured

  metered.ResetMeter();
  uint64_t animationCpuUs = 0;
  std::vector<double> periodsMs, refreshMs;
  const uint64_t cpuStart = ProcessCpuUs();
  const uint64_t start = WallUs();
  const uint64_t end = start + static_cast<uint64_t>(o.seconds * 1e6);
  PeriodicTimer timer{kDisplayPeriodMs * kUsPerMs, start};
  uint64_t lastTick = 0;
  while (controller.PanelStateNow() == Connected) {
    SleepUntilUs(timer.dueUs);
    const uint64_t tick = WallUs();
    if (tick >= end) break;
    if (lastTick != 0) periodsMs.push_back(static_cast<double>(tick - lastTick) / 1e3);
    lastTick = tick;
    const uint64_t animationStart = ThreadCpuUs();
    animation.Step();
    animationCpuUs += ThreadCpuUs() - animationStart;
    controller.OnTimer(TIMER_DISPLAY);
    refreshMs.push_back(static_cast<double>(WallUs() - tick) / 1e3);
    timer.Advance(WallUs());
  }
  const double wallUs = static_cast<double>(WallUs() - start);
  const double processCpuUs = static_cast<double>(ProcessCpuUs() - cpuStart);
  const double deviceCpuUs = static_cast<double>(metered.meter.cpuUs + animationCpuUs);
  const bool mirrored =
      std::equal(FrameBuffer, FrameBuffer + kDisplayPixels, sim.controller.Encoder().Sent());
  const Percentiles period = Summarise(periodsMs);
  const Percentiles refresh = Summarise(refreshMs);
  std::printf(
      "{\"run\":\"mirror\",\"scene\":\"%s\",\"bulk\":\"%s\",\"seconds\":%.1f,\"refreshes\":%zu,"
      "\"period_ms_mean\":%.2f,\"period_ms_p50\":%.2f,\"period_ms_p95\":%.2f,\"period_ms_max\":%."
      "2f,"
      "\"refresh_ms_mean\":%.3f,\"refresh_ms_p95\":%.3f,\"wire_ms_per_refresh\":%.3f,"
      "\"host_cpu_pct\":%.3f,\"device_cpu_pct\":%.3f,\"process_cpu_pct\":%.3f,"
      "\"boxes\":%zu,\"mirrors_device\":%s}\n",
      o.scene.c_str(), o.bulk.c_str(), wallUs / 1e6, refreshMs.size(), period.mean, period.p50,
      period.p95, period.max, refresh.mean, refresh.p95,
      refreshMs.empty() ? 0.0
                        : static_cast<double>(metered.meter.BytesMoved()) * 10 / 3000 /
                              static_cast<double>(refreshMs.size()),
      100 * (processCpuUs - deviceCpuUs) / wallUs, 100 * deviceCpuUs / wallUs,
      100 * processCpuUs / wallUs, view.boxes.size(), mirrored ? "true" : "false");
  return view.boxes.empty() ? 0 : 1;
}

int RunIdle(const Options& o) {
  std::unique_ptr<FtDriver> owned;
  std::unique_ptr<SimulatedSetup> sim;
  std::unique_ptr<VirtualClock> clock;
  FtDriver* bus = nullptr;
  if (o.bus == "sim") {
    sim = std::make_unique<SimulatedSetup>(true);
    bus = &sim->bridge;
  } else if (o.bus == "none") {
    clock = std::make_unique<VirtualClock>();
    owned = std::make_unique<SimBridge>(*clock);
    bus = owned.get();
#if VESK3_BENCH_LIBFTDI
  } else if (o.bus == "hardware") {
    owned = MakeHardwareBus();
    bus = owned.get();
#endif
  } else {
    std::fprintf(stderr, "unknown bus %s\n", o.bus.c_str());
    return 2;
  }
  MeteredDriver metered(*bus);
  RealPlatform platform;
  ProgramScope program(metered, platform);
  HeadlessView view;
  FrontPanelController controller(view);
  controller.Start();
  const uint64_t cpuStart = ProcessCpuUs();
  const uint64_t start = WallUs();
  const uint64_t end = start + static_cast<uint64_t>(o.seconds * 1e6);
  PeriodicTimer timer{kPollPeriodMs * kUsPerMs, start};
  int ticks = 0;
  while (true) {
    SleepUntilUs(timer.dueUs);
    if (WallUs() >= end) break;
    controller.OnTimer(TIMER_POLL);
    ++ticks;
    timer.Advance(WallUs());
  }
  const double wallUs = static_cast<double>(WallUs() - start);
  const double processCpuUs = static_cast<double>(ProcessCpuUs() - cpuStart);
  std::printf(
      "{\"run\":\"idle\",\"bus\":\"%s\",\"seconds\":%.1f,\"ticks\":%d,\"available\":%s,"
      "\"process_cpu_pct\":%.4f,\"driver_cpu_pct\":%.4f}\n",
      o.bus.c_str(), wallUs / 1e6, ticks,
      controller.PanelStateNow() == DeviceAvailable ? "true" : "false", 100 * processCpuUs / wallUs,
      100 * static_cast<double>(metered.meter.cpuUs) / wallUs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  return o.idle ? RunIdle(o) : RunMirror(o);
}
