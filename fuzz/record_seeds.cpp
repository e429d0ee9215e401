// Records the seed corpora of the fuzz targets from real conversations with
// the simulated hand controller: each target's conversation runs against the
// simulated bridge and device in virtual time, and the bytes the host read
// after each of its writes become the input records the ReplyDriver serves.
//
// Usage: fuzz_record_seeds OUTPUT_DIR   (writes OUTPUT_DIR/<target>/<seed>)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "fuzz/conversations.h"
#include "link/usb_device.h"
#include "protocol/command_channel.h"
#include "protocol/link_startup.h"
#include "services/display_frame.h"
#include "services/program_state.h"
#include "sim/hand_controller.h"
#include "sim/pixel_encoder.h"
#include "sim/sim_bridge.h"
#include "sim/sim_clock.h"
#include "sim/sim_platform.h"
#include "tests/support/core_fixture.h"

namespace {

// Passes every call on to the simulated bridge and keeps, per host write, the
// bytes the host read before its next write.
class ConversationRecorder : public FtDriver {
 public:
  explicit ConversationRecorder(FtDriver& inner) : inner_(inner) {}

  void StartRecording() {
    recording_ = true;
    replies_.assign(1, Bytes{});
    written_.clear();
  }
  const std::vector<Bytes>& Replies() const { return replies_; }
  // Every byte the host wrote while recording.
  const Bytes& Written() const { return written_; }

  FtStatus Write(FtHandle h, const void* data, uint32_t n, uint32_t* written) override {
    const FtStatus status = inner_.Write(h, data, n, written);
    if (recording_ && status == kFtOk && *written > 0) {
      const auto* bytes = static_cast<const uint8_t*>(data);
      written_.insert(written_.end(), bytes, bytes + *written);
      replies_.emplace_back();
    }
    return status;
  }
  FtStatus Read(FtHandle h, void* buffer, uint32_t n, uint32_t* got) override {
    const FtStatus status = inner_.Read(h, buffer, n, got);
    if (recording_ && status == kFtOk) {
      const auto* bytes = static_cast<const uint8_t*>(buffer);
      replies_.back().insert(replies_.back().end(), bytes, bytes + *got);
    }
    return status;
  }

  FtStatus CreateDeviceInfoList(uint32_t* count) override {
    return inner_.CreateDeviceInfoList(count);
  }
  FtStatus GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) override {
    return inner_.GetDeviceInfoList(list, count);
  }
  FtStatus Open(int index, FtHandle* h) override { return inner_.Open(index, h); }
  FtStatus Close(FtHandle h) override { return inner_.Close(h); }
  FtStatus GetBitMode(FtHandle h, uint8_t* pins) override { return inner_.GetBitMode(h, pins); }
  FtStatus Purge(FtHandle h, uint32_t mask) override { return inner_.Purge(h, mask); }
  FtStatus SetDataCharacteristics(FtHandle h, uint8_t w, uint8_t s, uint8_t p) override {
    return inner_.SetDataCharacteristics(h, w, s, p);
  }
  FtStatus SetBaudRate(FtHandle h, uint32_t baud) override { return inner_.SetBaudRate(h, baud); }
  FtStatus SetFlowControl(FtHandle h, uint16_t flow, uint8_t xon, uint8_t xoff) override {
    return inner_.SetFlowControl(h, flow, xon, xoff);
  }
  FtStatus SetTimeouts(FtHandle h, uint32_t r, uint32_t w) override {
    return inner_.SetTimeouts(h, r, w);
  }
  FtStatus SetLatencyTimer(FtHandle h, uint8_t ms) override {
    return inner_.SetLatencyTimer(h, ms);
  }
  FtStatus SetBitMode(FtHandle h, uint8_t mask, uint8_t mode) override {
    return inner_.SetBitMode(h, mask, mode);
  }
  FtStatus GetQueueStatus(FtHandle h, uint32_t* rx) override {
    return inner_.GetQueueStatus(h, rx);
  }
  FtStatus GetStatus(FtHandle h, uint32_t* rx, uint32_t* tx, uint32_t* events) override {
    return inner_.GetStatus(h, rx, tx, events);
  }
  FtStatus GetDeviceInfo(FtHandle h, uint32_t* type, uint32_t* id, char* serial, char* description,
                         void* reserved) override {
    return inner_.GetDeviceInfo(h, type, id, serial, description, reserved);
  }

 private:
  FtDriver& inner_;
  bool recording_ = false;
  std::vector<Bytes> replies_;
  Bytes written_;
};

// A hand controller behind its bridge in virtual time, with the recorder in
// front, installed as the program's driver and platform.
struct SimulatedDesk {
  explicit SimulatedDesk(const HandControllerOptions& options)
      : device(options), bridge(clock), recorder(bridge), platform(clock) {
    SimBridgeInfo info;
    info.description = kHandControllerDescription;
    info.serial = "VK3A0417";
    info.device = &device;
    bridge.AddBridge(info);
    VK3cmd_Init();
  }

  // Lets the device's clock run, as it does between two window messages.
  void Pass(uint64_t ms) {
    clock.AdvanceUs(ms * 1000);
    device.Tick(clock.NowUs());
  }

  VirtualClock clock;
  HandController device;
  SimBridge bridge;
  ConversationRecorder recorder;
  SimPlatform platform;
  ProgramScope program{recorder, platform};
};

using Conversation = std::function<void(SimulatedDesk&)>;

// Replays a seed the way its fuzz target does and checks that the host says
// exactly what it said to the simulated device: the seed is faithful.
void ReplayOrExit(const std::string& name, const Bytes& seed, const Bytes& hostWrote,
                  const std::function<void()>& conversation, bool startLink) {
  FuzzSession session;
  if (startLink) session.StartLinkCanned();
  session.driver.ServeReplies(DecodeReplies(seed.data(), seed.size()));
  session.driver.QueueWaitingBytes();
  conversation();
  const Bytes replayed = session.driver.WrittenBytes();
  if (replayed != hostWrote) {
    std::fprintf(stderr, "%s: the replay wrote\n  %s\nthe simulated device heard\n  %s\n",
                 name.c_str(), HexBytes(replayed).c_str(), HexBytes(hostWrote).c_str());
    std::exit(1);
  }
}

void WriteSeed(const std::filesystem::path& dir, const std::string& name, const Bytes& bytes) {
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  std::printf("%s/%s: %zu bytes\n", dir.string().c_str(), name.c_str(), bytes.size());
}

// Runs `before` (not recorded), then the conversation (recorded), and writes the seed.
void Record(const std::filesystem::path& dir, const std::string& name,
            const HandControllerOptions& options, const Conversation& before,
            const std::function<void()>& conversation, bool startLink) {
  Bytes seed;
  Bytes hostWrote;
  {
    SimulatedDesk desk(options);
    if (startLink && VK3cmd_EnsureOpen() != kResultOk) {
      std::fprintf(stderr, "%s: the simulated device did not start\n", name.c_str());
      std::exit(1);
    }
    if (before) before(desk);
    desk.recorder.StartRecording();
    conversation();
    seed = EncodeReplies(desk.recorder.Replies());
    hostWrote = desk.recorder.Written();
  }
  ReplayOrExit(name, seed, hostWrote, conversation, startLink);
  WriteSeed(dir, name, seed);
}

HandControllerOptions Options(BulkMode bulk, BootMode boot = BootMode::App) {
  HandControllerOptions options;
  options.bulkMode = bulk;
  options.bootMode = boot;
  return options;
}

// Key presses on the device itself, so later frames carry changes.
Conversation OpenPage(int downs) {
  return [downs](SimulatedDesk& desk) {
    for (int i = 0; i < downs; ++i) {
      desk.device.PressKey(UiKey::Down);
      desk.device.ReleaseKey(UiKey::Down);
    }
    desk.device.PressKey(UiKey::Enter);
    desk.device.ReleaseKey(UiKey::Enter);
    desk.Pass(300);
  };
}

Conversation NotifyBeforehand(uint8_t code, NotifyWhen when) {
  return [code, when](SimulatedDesk& desk) { desk.device.SendNotification(code, when); };
}

void RecordExchangeSeeds(const std::filesystem::path& root) {
  const auto dir = root / "fuzz_command_exchange";
  auto converse = [] { ConverseCommandExchanges(nullptr); };
  Record(dir, "app-segments", Options(BulkMode::Segments), {}, converse, false);
  Record(dir, "app-streamed", Options(BulkMode::Streamed), {}, converse, false);
  Record(dir, "boot-segments", Options(BulkMode::Segments, BootMode::Boot), {}, converse, false);
}

void RecordDisplaySeeds(const std::filesystem::path& root) {
  const auto dir = root / "fuzz_display_frame";
  auto converse = [] { ConverseDisplayFrames(nullptr); };
  Record(dir, "menu-segments", Options(BulkMode::Segments), {}, converse, true);
  Record(dir, "menu-streamed", Options(BulkMode::Streamed), {}, converse, true);
  Record(dir, "status-segments", Options(BulkMode::Segments), OpenPage(0), converse, true);
  Record(dir, "status-streamed", Options(BulkMode::Streamed), OpenPage(0), converse, true);
  Record(dir, "colours-segments", Options(BulkMode::Segments), OpenPage(2), converse, true);
  Record(dir, "busy-in-place", Options(BulkMode::Segments),
         NotifyBeforehand(kNotifyBusyB, NotifyWhen::InPlaceOfNextAnswer), converse, true);
}

// A whole frame of noise, which no screen of the device's own interface comes
// near: encoded by the device's encoder, it needs three bulk segments.
void RecordNoiseFrameSeed(const std::filesystem::path& root) {
  std::vector<uint16_t> expanded(kMaskCount, 0xFFFF);
  uint32_t noise = 0x2545F491u;
  for (int i = 0; i < kDisplayPixels; ++i) {
    noise ^= noise << 13;
    noise ^= noise >> 17;
    noise ^= noise << 5;
    expanded.push_back(static_cast<uint16_t>(noise));
  }
  const Bytes stream = StreamWordsToBytes(EncodeStreamTokens(expanded.data(), expanded.size()));
  const Bytes info = {240, 0, 64, 1, 1, 0, 0, 0, 0, 0x2C, 1, 0};  // 240 x 320, frame 1, all pixels
  Bytes params = Param(kParamDisplayInfo, info);
  const Bytes bulkLength = BulkLengthParam(static_cast<int32_t>(stream.size()));
  params.insert(params.end(), bulkLength.begin(), bulkLength.end());
  params.push_back(kParamBulkSegments);
  params.push_back(0);
  // The whole display (counter 1 after the start-up), then two frames without changes.
  Bytes whole = Answer(kCmdDisplayFrame, 1, 0, params);
  size_t at = 0;
  size_t room = kBulkSegmentMax - whole.size();
  while (at < stream.size()) {
    const size_t k = std::min(room, stream.size() - at);
    whole.insert(whole.end(), stream.begin() + static_cast<std::ptrdiff_t>(at),
                 stream.begin() + static_cast<std::ptrdiff_t>(at + k));
    at += k;
    if (at == stream.size()) break;
    const Bytes next = Answer(kCmdDisplayFrame, 1, 0);
    whole.insert(whole.end(), next.begin(), next.end());
    room = kBulkSegmentMax - next.size();
  }
  Bytes unchanged = BulkLengthParam(0);
  unchanged.push_back(kParamBulkSegments);
  unchanged.push_back(0);
  const Bytes seed = EncodeReplies({{},
                                    whole,
                                    Answer(kCmdDisplayFrame, 2, 0, unchanged),
                                    Answer(kCmdDisplayFrame, 3, 0, unchanged)});
  FuzzDisplayFrame(seed.data(), seed.size());
  if (!std::equal(FrameBuffer, FrameBuffer + kDisplayPixels, expanded.begin() + kMaskCount)) {
    std::fprintf(stderr, "noise-three-segments: the mirror is not the noise\n");
    std::exit(1);
  }
  WriteSeed(root / "fuzz_display_frame", "noise-three-segments", seed);
}

void RecordDeviceInfoSeeds(const std::filesystem::path& root) {
  const auto dir = root / "fuzz_device_info";
  auto converse = [] { ConverseDeviceInfo(nullptr); };
  Record(dir, "app", Options(BulkMode::Segments), {}, converse, true);
  Record(dir, "boot", Options(BulkMode::Segments, BootMode::Boot), {}, converse, true);
  Record(dir, "system-change-waiting", Options(BulkMode::Segments),
         NotifyBeforehand(kNotifySystemChangeDefault, NotifyWhen::Now), converse, true);
}

void RecordColorSeeds(const std::filesystem::path& root) {
  const auto dir = root / "fuzz_color_read";
  auto converse = [] { ConverseColorEntries(nullptr); };
  Record(dir, "entry-3", Options(BulkMode::Segments), {}, converse, true);
  Record(dir, "busy-in-place", Options(BulkMode::Segments),
         NotifyBeforehand(kNotifyBusyA, NotifyWhen::InPlaceOfNextAnswer), converse, true);
}

// The simulated device's descriptor block, then the frames the program builds.
void RecordDescriptorSeeds(const std::filesystem::path& root) {
  const auto dir = root / "fuzz_descriptor_table";
  const Bytes block = HandController().DescriptorBlock();
  auto seed = [&block](const std::vector<std::array<uint8_t, 3>>& steps) {
    Bytes bytes = {static_cast<uint8_t>(block.size()), static_cast<uint8_t>(block.size() >> 8)};
    bytes.insert(bytes.end(), block.begin(), block.end());
    for (const auto& step : steps) bytes.insert(bytes.end(), step.begin(), step.end());
    return bytes;
  };
  WriteSeed(dir, "program-frames",
            seed({
                {kStepBegin, 248, 0},
                {kStepParamNone, 1, 0},  // mode
                {kStepBegin, 209, 0},
                {kStepParamNone, 1, 0},
                {kStepParamNone, 2, 0},  // display
                {kStepBegin, 174, 0},
                {kStepParamNone, 0x21, 0},  // Enter
                {kStepBegin, 253, 0},
                {kStepParam, 193, 2},  // colour
                {kStepBegin, 253, 0},
                {kStepParam, 194, 2},
                {kStepAppend, 0, 4},
            }));
  WriteSeed(dir, "rejected-and-reloaded",
            seed({
                {kStepBegin, 99, 0},
                {kStepParamNone, 5, 0},  // not in table
                {kStepBegin, 248, 0},
                {kStepParamNone, 16, 3},  // wrong length
                {kStepBegin, 253, 0},
                {kStepReload, 0, 0},
                {kStepParam, 193, 2},  // reload
                {kStepBegin, 209, 0},
                {kStepReload, 0, 1},
                {kStepParamNone, 2, 0},  // emptied
                {kStepBegin, 1, 0},
                {kStepAppend, 2, 20},
                {kStepParamNone, 7, 0},  // full frame
            }));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const std::filesystem::path root = argv[1];
  RecordExchangeSeeds(root);
  RecordDescriptorSeeds(root);
  RecordDisplaySeeds(root);
  RecordNoiseFrameSeed(root);
  RecordDeviceInfoSeeds(root);
  RecordColorSeeds(root);
  return 0;
}
