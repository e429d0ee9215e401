// The host's computing on the mirror path, side by side with memcpy: the
// pixel stream decoder (from the BulkBuffer and through the streamed word
// source) and the conversion of the FrameBuffer into the view's pixels.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "bench/memory_bridge.h"
#include "bench/scenes.h"
#include "link/usb_device.h"
#include "platform/platform.h"
#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"
#include "services/display_frame.h"
#include "services/frame_view.h"
#include "services/program_state.h"

namespace {

constexpr size_t kExpandedFullFrameBytes = 163200;  // 81600 expanded words
// The window's display view, and a view the size of the image.
constexpr int kWindowViewWidth = 253;
constexpr int kWindowViewHeight = 412;

MemoryBridge bridge;
RealPlatform realPlatform;

void Memcpy(benchmark::State& state, size_t bytes) {
  std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// The decoder must have rebuilt the scene's expanded frame; a benchmark of a
// wrong decode would be worthless.
bool ExpandedAsScene(const Scene& scene, size_t words) {
  const size_t n = std::min(words, scene.expanded.size());
  return std::equal(scene.expanded.begin(), scene.expanded.begin() + static_cast<long>(n),
                    ExpansionBuffer);
}

void DecodeFromMemory(benchmark::State& state, const Scene& scene) {
  ResetDisplayState();
  const int32_t words = LoadStreamIntoBulkBuffer(scene.stream);
  for (auto _ : state) {
    theChannel.memoryPosition = 0;
    NextBulkWord = NextMemoryWord;
    DecodeDisplayFrame(words);
    benchmark::DoNotOptimize(FrameBuffer);
    benchmark::ClobberMemory();
  }
  // A stream cut at the BulkBuffer's end only rebuilds its first part.
  const bool whole = scene.stream.size() <= kBulkCapacity;
  if (!ExpandedAsScene(scene, whole ? scene.expanded.size() : kMaskCount)) {
    state.SkipWithError("decoded frame differs from the scene");
  }
  state.SetBytesProcessed(state.iterations() * words * 2);
  state.counters["stream_bytes"] = words * 2;
  state.counters["pixels"] = scene.changedPixels;
}

void DecodeStreamed(benchmark::State& state, const Scene& scene) {
  bridge.bridges = {{0x04036015, "Vesk-3 HandController"}};
  ProgramScope program(bridge, realPlatform);
  theUsbDevice.DeviceKind = kDeviceKindHandController;
  if (theUsbDevice.Open() != 0) {
    state.SkipWithError("memory bridge did not open");
    return;
  }
  bridge.Serve(scene.stream);
  const auto words = static_cast<int32_t>(scene.stream.size() / 2);
  for (auto _ : state) {
    bridge.Rewind();
    theChannel.streamRemaining = static_cast<int64_t>(scene.stream.size());
    theChannel.streamPosition = 0;
    theChannel.streamWordCount = 0;
    NextBulkWord = NextStreamWord;
    DecodeDisplayFrame(words);
    benchmark::DoNotOptimize(FrameBuffer);
    benchmark::ClobberMemory();
  }
  if (!ExpandedAsScene(scene, scene.expanded.size())) {
    state.SkipWithError("decoded frame differs from the scene");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * scene.stream.size()));
  state.counters["stream_bytes"] = static_cast<double>(scene.stream.size());
  state.counters["pixels"] = scene.changedPixels;
}

void RenderIntoView(benchmark::State& state, int width, int height) {
  std::vector<uint16_t> frame(kDisplayPixels);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint16_t>(i * 2654435761u >> 8);
  std::vector<uint32_t> view(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (auto _ : state) {
    RenderFrame(frame.data(), view.data(), width, height);
    benchmark::DoNotOptimize(view.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kDisplayPixels);
}

void RegisterAll() {
  // Scenes live for the whole run: the benchmarks refer to them.
  static const std::vector<Scene> scenes = {FullFrameScene(), OnePixelScene(), ScatteredScene(),
                                            RectangleScene(), WorstCaseScene()};
  benchmark::RegisterBenchmark("BM_MemcpyExpandedFrame", Memcpy, kExpandedFullFrameBytes);
  for (const Scene& scene : scenes) {
    benchmark::RegisterBenchmark(("BM_DecodeFromMemory/" + scene.name).c_str(), DecodeFromMemory,
                                 std::cref(scene));
    benchmark::RegisterBenchmark(("BM_DecodeStreamed/" + scene.name).c_str(), DecodeStreamed,
                                 std::cref(scene));
  }
  for (auto [w, h] :
       {std::pair{kWindowViewWidth, kWindowViewHeight}, std::pair{kDisplayWidth, kDisplayHeight}}) {
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    benchmark::RegisterBenchmark(("BM_MemcpyViewBuffer/" + size).c_str(), Memcpy,
                                 static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    benchmark::RegisterBenchmark(("BM_RenderFrame/" + size).c_str(), RenderIntoView, w, h);
  }
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
