// The mirror path end to end over the simulated bridge in real time at
// 3,000,000 baud, and the cost of one presence poll tick.
//
// A refresh is timed from the request to the FrameBuffer and set beside the
// wire time of the bytes it moved both ways (10 bits per byte at 3,000,000
// baud): a ratio near 1 means decoding overlapped the transfer and no step
// waited for a timeout.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "bench/headless_view.h"
#include "bench/memory_bridge.h"
#include "bench/metered_driver.h"
#include "link/usb_device.h"
#include "panel/front_panel_controller.h"
#include "platform/platform.h"
#include "protocol/command_channel.h"
#include "protocol/link_startup.h"
#include "services/display_frame.h"
#include "services/program_state.h"
#include "sim/simulated_setup.h"
#if VESK3_BENCH_LIBFTDI
#include "bench/hardware_bus.h"
#endif

namespace {

constexpr double kWireBitsPerByte = 10;
constexpr double kWireBaud = 3000000;
constexpr int kSquareSide = 40;
constexpr int kOtherBridges = 8;

RealPlatform realPlatform;

double WireSeconds(uint64_t bytes) {
  return static_cast<double>(bytes) * kWireBitsPerByte / kWireBaud;
}

// Reproducible varied pixels: a full frame of them hardly compresses.
std::vector<uint16_t> NoisePicture(uint32_t seed) {
  std::vector<uint16_t> pixels(kDisplayPixels);
  uint32_t s = seed;
  for (uint16_t& p : pixels) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    p = static_cast<uint16_t>(s >> 8);
  }
  return pixels;
}

// `base` with a square of new content at (x, y).
std::vector<uint16_t> WithSquare(std::vector<uint16_t> base, int x, int y, uint16_t colour) {
  for (int r = y; r < y + kSquareSide; ++r) {
    for (int c = x; c < x + kSquareSide; ++c)
      base[static_cast<size_t>(r) * kDisplayWidth + c] = colour;
  }
  return base;
}

// The core on the simulated hand controller in real time, metered.
struct RealTimeLink {
  explicit RealTimeLink(BulkMode mode) : sim(true), metered(sim.bridge) {
    sim.controller.Options().bulkMode = mode;
    VK3cmd_Init();
  }
  bool MirrorsDevice() const {
    return std::equal(FrameBuffer, FrameBuffer + kDisplayPixels, sim.controller.Screen());
  }

  SimulatedSetup sim;
  MeteredDriver metered;
  ProgramScope program{metered, sim.platform};
};

// One refresh, timed; adds its time and the wire time of its bytes.
bool TimedRefresh(benchmark::State& state, RealTimeLink& link, bool whole, double* wire) {
  link.metered.ResetMeter();
  const uint64_t start = WallUs();
  const ResultCode result = VK3cmd_GetDisplayFrame(whole);
  state.SetIterationTime(static_cast<double>(WallUs() - start) / 1e6);
  *wire += WireSeconds(link.metered.meter.BytesMoved());
  if (result != kResultOk) state.SkipWithError("display frame failed");
  return result == kResultOk;
}

void ReportAgainstWire(benchmark::State& state, double wire, const RealTimeLink& link) {
  const double n = static_cast<double>(state.iterations());
  state.counters["wire_ms"] = wire / n * 1e3;
  state.counters["bytes"] = static_cast<double>(link.metered.meter.BytesMoved());
  if (!link.MirrorsDevice()) state.SkipWithError("the mirror differs from the device screen");
}

void FullFrame(benchmark::State& state, BulkMode mode) {
  RealTimeLink link(mode);
  const std::vector<uint16_t> picture = NoisePicture(7);
  link.sim.controller.HoldScreen(picture.data());
  if (VK3cmd_GetDisplayFrame(true) != kResultOk) {  // wake-up and handshake, not timed
    state.SkipWithError("link start-up failed");
    return;
  }
  double wire = 0;
  for (auto _ : state) {
    if (!TimedRefresh(state, link, true, &wire)) break;
  }
  ReportAgainstWire(state, wire, link);
}

// A 40 x 40 square moves across a still picture: each refresh carries the
// square's old and new place.
void SmallDelta(benchmark::State& state, BulkMode mode) {
  RealTimeLink link(mode);
  const std::vector<uint16_t> background = NoisePicture(11);
  link.sim.controller.HoldScreen(background.data());
  if (VK3cmd_GetDisplayFrame(true) != kResultOk) {
    state.SkipWithError("link start-up failed");
    return;
  }
  double wire = 0;
  int step = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const int x = (step * 8) % (kDisplayWidth - kSquareSide);
    const std::vector<uint16_t> picture = WithSquare(background, x, 140, 0xFFE0);
    link.sim.controller.HoldScreen(picture.data());
    ++step;
    state.ResumeTiming();
    if (!TimedRefresh(state, link, false, &wire)) break;
  }
  ReportAgainstWire(state, wire, link);
}

// Nothing changed: the smallest refresh there is.
void NoChange(benchmark::State& state, BulkMode mode) {
  RealTimeLink link(mode);
  const std::vector<uint16_t> picture = NoisePicture(13);
  link.sim.controller.HoldScreen(picture.data());
  if (VK3cmd_GetDisplayFrame(true) != kResultOk) {
    state.SkipWithError("link start-up failed");
    return;
  }
  double wire = 0;
  for (auto _ : state) {
    if (!TimedRefresh(state, link, false, &wire)) break;
  }
  ReportAgainstWire(state, wire, link);
}

// ---- the presence poll -------------------------------------------------

// One tick of the 250 ms presence poll timer of a window that is not connected.
void PollTick(benchmark::State& state, FtDriver& driver) {
  ProgramScope program(driver, realPlatform);
  HeadlessView view;
  FrontPanelController controller(view);
  controller.Start();
  controller.OnTimer(TIMER_POLL);  // NoDevice or DeviceAvailable from here on
  for (auto _ : state) controller.OnTimer(TIMER_POLL);
  state.counters["available"] = controller.PanelStateNow() == DeviceAvailable;
}

void PollNoBridge(benchmark::State& state) {
  VirtualClock clock;
  SimBridge bus(clock);
  PollTick(state, bus);
}

void PollHandController(benchmark::State& state) {
  SimulatedSetup sim(false);  // a converter and the hand controller
  PollTick(state, sim.bridge);
}

void PollOtherBridges(benchmark::State& state) {
  VirtualClock clock;
  SimBridge bus(clock);
  for (int i = 0; i < kOtherBridges; ++i) {
    SimBridgeInfo other;
    other.id = kOtherBridgeId;
    other.description = "USB <-> Serial Converter";
    other.serial = "A10K3XQ" + std::to_string(i);
    bus.AddBridge(other);
  }
  PollTick(state, bus);
}

// The host's own part: a driver that lists the bridges from memory.
void PollHostOnly(benchmark::State& state) {
  MemoryBridge bus;
  bus.bridges = {{kOtherBridgeId, "USB <-> Serial Converter"},
                 {kHandControllerBridgeId, "Vesk-3 HandController"}};
  PollTick(state, bus);
}

#if VESK3_BENCH_LIBFTDI
// This machine's own USB bus through the hardware backend.
void PollLibFtdi(benchmark::State& state) {
  const std::unique_ptr<FtDriver> bus = MakeHardwareBus();
  PollTick(state, *bus);
}
#endif

void RegisterAll() {
  for (auto [name, mode] :
       {std::pair{"segments", BulkMode::Segments}, std::pair{"streamed", BulkMode::Streamed}}) {
    const std::string suffix = std::string("/") + name;
    benchmark::RegisterBenchmark(("BM_FullFrameEndToEnd" + suffix).c_str(), FullFrame, mode)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_SmallDeltaEndToEnd" + suffix).c_str(), SmallDelta, mode)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_NoChangeEndToEnd" + suffix).c_str(), NoChange, mode)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("BM_PollTick/no_bridge", PollNoBridge)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("BM_PollTick/hand_controller", PollHandController)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("BM_PollTick/other_bridges_8", PollOtherBridges)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("BM_PollTick/host_only", PollHostOnly)
      ->Unit(benchmark::kMicrosecond);
#if VESK3_BENCH_LIBFTDI
  benchmark::RegisterBenchmark("BM_PollTick/libftdi_this_machine", PollLibFtdi)
      ->Unit(benchmark::kMicrosecond);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
