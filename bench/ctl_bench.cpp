// vesk3ctl against its physical bounds, over the simulated hand controller in
// real time at 3,000,000 baud:
//
//  - screenshot from start to file, beside its physical bound: the wake-up
//    pause (550 ms, every run wakes the device), the wake-up byte at 9600
//    baud, and every other byte the run moved (handshake with descriptor
//    download, the whole frame) at 300,000 bytes/s;
//  - record's refresh rate beside the window's controller on the same scene
//    (the device's own user interface), each mirroring for the same time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "bench/headless_view.h"
#include "bench/metered_driver.h"
#include "ctl/commands.h"
#include "ctl/session_driver.h"
#include "panel/front_panel_controller.h"
#include "protocol/link_startup.h"
#include "services/program_state.h"
#include "sim/simulated_setup.h"

namespace {

constexpr double kLinkBytesPerSecond = 300000;
constexpr double kWakeUpByteSeconds = 10.0 / kWakeUpBaud;
constexpr int kConnectPollTicks = 8;

std::string ScratchPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("vesk3-bench-ctl-" + name)).string();
}

// One run of vesk3ctl on a fresh simulated device; the bytes it moved in *bytes.
int RunCtl(const std::vector<std::string>& args, uint64_t* bytes, std::string* err) {
  SimulatedSetup sim(/*realTime=*/true);
  SessionDriver meter(sim.bridge);
  std::ostringstream out, errors;
  const int code = RunVesk3ctl(
      args,
      [&](bool) {
        return Backend{&meter, &sim.platform, {}};
      },
      out, errors, false);
  *bytes = meter.BytesMoved();
  *err = errors.str();
  return code;
}

void BM_ScreenshotStartToFile(benchmark::State& state) {
  const std::string file = ScratchPath("shot.png");
  double boundSeconds = 0;
  double totalSeconds = 0;
  for (auto _ : state) {
    uint64_t bytes = 0;
    std::string err;
    const auto start = std::chrono::steady_clock::now();
    const int code = RunCtl({"-q", "screenshot", file}, &bytes, &err);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (code != 0) {
      state.SkipWithError(err.c_str());
      return;
    }
    state.SetIterationTime(seconds);
    totalSeconds += seconds;
    boundSeconds = kWakeUpSettleMs / 1000.0 + kWakeUpByteSeconds +
                   static_cast<double>(bytes - 1) / kLinkBytesPerSecond;
    state.counters["bytes"] = static_cast<double>(bytes);
  }
  state.counters["bound_ms"] = boundSeconds * 1000;
  // The mean start-to-file time over the bound; the target is 1.2 at most.
  state.counters["x_bound"] = totalSeconds / static_cast<double>(state.iterations()) / boundSeconds;
  std::filesystem::remove(file);
}
BENCHMARK(BM_ScreenshotStartToFile)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// Mean period between the refreshes after the first, whose whole frame takes longer.
double PeriodMs(uint64_t firstUs, uint64_t lastUs, uint64_t refreshes) {
  return refreshes < 2 ? 0 : static_cast<double>(lastUs - firstUs) / 1000.0 / (refreshes - 1);
}

void BM_RecordRefreshRate(benchmark::State& state) {
  const std::string folder = ScratchPath("record");
  for (auto _ : state) {
    std::filesystem::remove_all(folder);
    uint64_t bytes = 0;
    std::string err;
    const int code =
        RunCtl({"-q", "record", folder, "--seconds", std::to_string(state.range(0))}, &bytes, &err);
    std::ifstream csv(folder + "/frames.csv");
    std::string line;
    std::getline(csv, line);  // the header
    unsigned long long index = 0, ms = 0, moved = 0, firstMs = 0, frames = 0;
    while (std::getline(csv, line) &&
           std::sscanf(line.c_str(), "%llu,%llu,%llu", &index, &ms, &moved) == 3) {
      if (frames++ == 1) firstMs = ms;  // after the whole first frame
    }
    if (code != 0 || frames < 3) {
      state.SkipWithError(err.c_str());
      return;
    }
    const double period = PeriodMs(firstMs * 1000, ms * 1000, frames - 1);
    state.counters["period_ms"] = period;
    state.counters["refreshes_per_s"] = 1000 / period;
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_RecordRefreshRate)->Arg(10)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// The window's controller, its display timer run as the toolkit runs it (due
// every 76 ms from its start, at most one pending tick).
void BM_WindowRefreshRate(benchmark::State& state) {
  const double seconds = static_cast<double>(state.range(0));
  for (auto _ : state) {
    SimulatedSetup sim(/*realTime=*/true);
    ProgramScope program(sim.bridge, sim.platform);
    HeadlessView view;
    FrontPanelController controller(view);
    controller.Start();
    for (int i = 0; i < kConnectPollTicks && controller.PanelStateNow() != DeviceAvailable; ++i) {
      controller.OnTimer(TIMER_POLL);
    }
    controller.OnConnect();
    if (controller.PanelStateNow() != Connected) {
      state.SkipWithError("could not connect");
      return;
    }
    const uint64_t start = WallUs();
    const uint64_t end = start + static_cast<uint64_t>(seconds * 1e6);
    uint64_t due = start;
    uint64_t refreshes = 0;
    uint64_t firstUs = 0;
    uint64_t lastUs = 0;
    while (controller.PanelStateNow() == Connected) {
      const uint64_t now = WallUs();
      if (due > now) std::this_thread::sleep_for(std::chrono::microseconds(due - now));
      if (WallUs() >= end) break;
      controller.OnTimer(TIMER_DISPLAY);
      lastUs = WallUs();
      if (refreshes++ == 1) firstUs = lastUs;  // after the whole first frame
      due += uint64_t{kDisplayPeriodMs} * 1000;
      if (due < WallUs()) due = WallUs();
    }
    const double period = PeriodMs(firstUs, lastUs, refreshes - 1);
    state.counters["period_ms"] = period;
    state.counters["refreshes_per_s"] = 1000 / period;
  }
}
BENCHMARK(BM_WindowRefreshRate)->Arg(10)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
