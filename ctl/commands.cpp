#include "ctl/commands.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "capture/frame_image.h"
#include "capture/png_file.h"
#include "capture/recorder.h"
#include "capture/screen_compare.h"
#include "ctl/command_line.h"
#include "ctl/interrupt.h"
#include "ctl/key_press.h"
#include "ctl/mirror_loop.h"
#include "ctl/screen_expect.h"
#include "services/display_frame.h"
#include "services/program_state.h"

namespace {

constexpr uint64_t kMsPerSecond = 1000;
constexpr uint64_t kWatchReportMs = 1000;
constexpr uint64_t kProgressRedrawMs = 250;
constexpr const char* kDiffSuffix = ".diff.png";

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

std::string JsonString(const char* text, size_t max) {
  std::string json = "\"";
  for (size_t i = 0; i < max && text[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      // Device bytes are not trusted to be UTF-8: each is its own code point.
      json += Format("\\u%04x", c);
    } else {
      json += static_cast<char>(c);
    }
  }
  return json + "\"";
}

// What a run has to work with: the console, the session driver, the session.
struct Run {
  const CommandLine& line;
  const Console& console;
  SessionDriver& driver;
  DeviceSession& session;
};

int Failed(const Run& run, ResultCode code) {
  ReportFailure(run.console, run.session.Failure(code));
  return kExitFailure;
}

int Interrupt() {
  return InterruptExitCode(InterruptSignal());
}

std::string Serials(const std::vector<ListedBridge>& bridges) {
  std::string text;
  for (const ListedBridge& b : bridges) {
    if (!b.handController) continue;
    if (!text.empty()) text += ", ";
    text += b.serial;
  }
  return text;
}

// Before the first exchange: which hand controller the run will take.
void NoteChoice(const Run& run) {
  std::vector<ListedBridge> bridges;
  FtStatus status = kFtOk;
  if (!run.driver.ListBridges(&bridges, &status)) return;
  size_t count = 0;
  bool chosenSeen = false;
  for (const ListedBridge& b : bridges) {
    if (!b.handController) continue;
    ++count;
    chosenSeen = chosenSeen || b.serial == run.line.serial;
  }
  if (run.line.serial.empty() && count > 1) {
    run.console.Note("several Vesk-3 attached (" + Serials(bridges) + "); using the first, " +
                     "choose one with --serial");
  } else if (!run.line.serial.empty() && !chosenSeen) {
    run.console.Note("no Vesk-3 with serial " + run.line.serial + " is attached" +
                     (count > 0 ? " (attached: " + Serials(bridges) + ")" : ""));
  }
}

int ListCommand(const Run& run) {
  std::vector<ListedBridge> bridges;
  FtStatus status = kFtOk;
  if (!run.driver.ListBridges(&bridges, &status)) {
    run.console.Error(Format("cannot list the FTDI bridges (driver status %u)", status));
    return kExitFailure;
  }
  for (const ListedBridge& b : bridges) {
    run.console.out << b.serial << '\t' << b.description << '\t'
                    << (b.handController ? "Vesk-3" : "-") << '\n';
  }
  if (bridges.empty()) run.console.Note("no FTDI bridge found");
  return kExitOk;
}

int InfoCommand(const Run& run) {
  DeviceInfo info;
  const ResultCode r = run.session.ReadInfo(&info);
  if (r != kResultOk) return Failed(run, r);
  run.console.out << (run.line.json ? DeviceInfoJson(info) + "\n" : DeviceInfoReport(info));
  return kExitOk;
}

int ScreenshotCommand(const Run& run) {
  const ResultCode r = run.session.ReadWholeFrame();
  if (r != kResultOk) return Failed(run, r);
  const std::string error =
      WritePng(run.line.file, ScaleNearest(ImageOfFrame(FrameBuffer), run.line.scale));
  if (!error.empty()) {
    run.console.Error(error);
    return kExitFailure;
  }
  run.console.Detail("wrote " + run.line.file);
  return kExitOk;
}

int PressCommand(const Run& run) {
  ResultCode failed = kResultOk;
  switch (PressKeys(run.session, run.line.keys, run.line.holdMs, run.line.gapMs, &failed)) {
    case PressOutcome::Done:
      return kExitOk;
    case PressOutcome::Interrupted:
      return Interrupt();
    case PressOutcome::Failed:
      break;
  }
  return Failed(run, failed);
}

int PushEscCommand(const Run& run) {
  const ResultCode r = run.session.PushEscLine();
  return r == kResultOk ? kExitOk : Failed(run, r);
}

// Rates over an interval of the mirror.
struct Rates {
  double refreshesPerSecond = 0;
  double bytesPerSecond = 0;
  double linkShare = 0;  // of kLinkBytesPerSecond
};

Rates RatesOver(uint64_t frames, uint64_t bytes, uint64_t ms) {
  Rates rates;
  if (ms == 0) return rates;
  rates.refreshesPerSecond = static_cast<double>(frames) * kMsPerSecond / static_cast<double>(ms);
  rates.bytesPerSecond = static_cast<double>(bytes) * kMsPerSecond / static_cast<double>(ms);
  rates.linkShare = rates.bytesPerSecond / static_cast<double>(kLinkBytesPerSecond);
  return rates;
}

// A mirror loop's end as an exit status; failures are reported.
int MirrorExit(const Run& run, MirrorEnd end, ResultCode failed) {
  switch (end) {
    case MirrorEnd::Done:
    case MirrorEnd::Stopped:
      return kExitOk;
    case MirrorEnd::Interrupted:
      return Interrupt();
    case MirrorEnd::Failed:
      break;
  }
  return Failed(run, failed);
}

MirrorLimits SecondsLimit(double seconds, uint64_t frames) {
  MirrorLimits limits;
  limits.ms = static_cast<uint64_t>(seconds * kMsPerSecond + 0.5);
  limits.frames = frames;
  return limits;
}

int RecordCommand(const Run& run) {
  if (RecordingKindOf(run.line.out) == RecordingKind::PngFolder &&
      std::filesystem::exists(run.line.out) && !std::filesystem::is_directory(run.line.out)) {
    run.console.Error(run.line.out + " is a file: OUT ends in .mkv or .mp4, or names a folder");
    run.console.err << UsageText(Command::Record);
    return kExitUsage;
  }
  // No file is made for a device that is not there.
  const ResultCode connected = run.session.Connect();
  if (connected != kResultOk) return Failed(run, connected);
  std::string error;
  std::unique_ptr<FrameRecorder> recorder = OpenRecorder(run.line.out, &error);
  if (!recorder) {
    run.console.Error(error);
    return kExitFailure;
  }
  uint64_t frames = 0;
  uint64_t bytes = 0;
  uint64_t lastDrawnMs = 0;
  std::string writeError;
  auto onFrame = [&](const MirrorFrame& frame) {
    const RgbImage image = ImageOfFrame(FrameBuffer);
    writeError = recorder->Add({&image, frame.msSinceStart, frame.bytesMoved});
    ++frames;
    bytes += frame.bytesMoved;
    return writeError.empty();
  };
  auto onTick = [&](uint64_t nowMs) {
    if (!run.console.ShowsProgress() || nowMs - lastDrawnMs < kProgressRedrawMs) return;
    lastDrawnMs = nowMs;
    const Rates r = RatesOver(frames, bytes, nowMs);
    run.console.err << Format("\rframes %" PRIu64
                              "  %.1f refreshes/s  %.0f bytes/s  %.1f%% of the link ",
                              frames, r.refreshesPerSecond, r.bytesPerSecond, r.linkShare * 100);
    run.console.err.flush();
  };
  ResultCode failed = kResultOk;
  const MirrorLimits limits =
      run.line.frames != 0 ? MirrorLimits{run.line.frames, 0} : SecondsLimit(run.line.seconds, 0);
  const MirrorEnd end = RunMirror(run.session, limits, onFrame, onTick, &failed);
  if (run.console.ShowsProgress()) run.console.err << '\n';
  // Whatever ended the loop, the file is completed so it plays or opens.
  const std::string finishError = recorder->Finish();
  if (!writeError.empty() || !finishError.empty()) {
    run.console.Error(writeError.empty() ? finishError : writeError);
    return kExitFailure;
  }
  if (end != MirrorEnd::Failed)
    run.console.Note(Format("%" PRIu64 " frames in ", frames) + run.line.out);
  return MirrorExit(run, end, failed);
}

int WatchCommand(const Run& run) {
  uint64_t frames = 0;
  uint64_t lastMs = 0;
  uint64_t nextReportMs = kWatchReportMs;
  uint64_t lastBytes = run.driver.BytesMoved();
  auto onFrame = [&](const MirrorFrame&) {
    ++frames;
    return true;
  };
  auto onTick = [&](uint64_t nowMs) {
    // Once a second on the second, whatever the phase of the ticks.
    if (nowMs < nextReportMs) return;
    while (nextReportMs <= nowMs) nextReportMs += kWatchReportMs;
    const uint64_t bytes = run.driver.BytesMoved() - lastBytes;
    const Rates r = RatesOver(frames, bytes, nowMs - lastMs);
    run.console.out << Format("%.1f refreshes/s  %" PRIu64 " bytes/refresh  %.1f%% of the link\n",
                              r.refreshesPerSecond, frames != 0 ? bytes / frames : 0,
                              r.linkShare * 100);
    run.console.out.flush();
    frames = 0;
    lastMs = nowMs;
    lastBytes = run.driver.BytesMoved();
  };
  ResultCode failed = kResultOk;
  const MirrorLimits limits =
      run.line.seconds > 0 ? SecondsLimit(run.line.seconds, 0) : MirrorLimits{};
  const MirrorEnd end = RunMirror(run.session, limits, onFrame, onTick, &failed);
  return MirrorExit(run, end, failed);
}

std::string DiffPathOf(const std::string& reference) {
  const std::string png = ".png";
  if (reference.size() > png.size() &&
      reference.compare(reference.size() - png.size(), png.size(), png) == 0) {
    return reference.substr(0, reference.size() - png.size()) + kDiffSuffix;
  }
  return reference + kDiffSuffix;
}

int ExpectCommand(const Run& run) {
  RgbImage reference;
  std::string error = ReadReference(run.line.reference, &reference);
  if (!error.empty()) {
    run.console.Error(error);
    return kExitFailure;
  }
  const Region region = run.line.hasRegion ? run.line.region : WholeImage(reference);
  const ExpectOutcome outcome =
      ExpectScreen(run.session, reference, region, run.line.tolerance, run.line.timeoutS);
  if (outcome.end != MirrorEnd::Done) {
    if (outcome.end == MirrorEnd::Stopped) {
      run.console.Note(Format("the screen matches after %" PRIu64 " ms", outcome.matchedMs));
    }
    return MirrorExit(run, outcome.end, outcome.failed);
  }
  if (outcome.differing < 0) {
    run.console.Error("no frame arrived before the timeout");
    return kExitExpectTimedOut;
  }
  run.console.out << outcome.differing << " pixels differ\n";
  const std::string diffPath = DiffPathOf(run.line.reference);
  error = WritePng(diffPath, DiffImage(outcome.screen, reference, region, run.line.tolerance));
  if (!error.empty()) {
    run.console.Error(error);
  } else {
    run.console.Note("timed out; the differences are marked in " + diffPath);
  }
  return kExitExpectTimedOut;
}

int RunCommand(const Run& run) {
  if (run.line.command == Command::List) return ListCommand(run);
  NoteChoice(run);
  switch (run.line.command) {
    case Command::Info:
      return InfoCommand(run);
    case Command::Screenshot:
      return ScreenshotCommand(run);
    case Command::Press:
      return PressCommand(run);
    case Command::PushEsc:
      return PushEscCommand(run);
    case Command::Record:
      return RecordCommand(run);
    case Command::Watch:
      return WatchCommand(run);
    case Command::Expect:
      return ExpectCommand(run);
    case Command::List:
    case Command::None:
      break;
  }
  return kExitUsage;
}

}  // namespace

std::string DeviceInfoJson(const DeviceInfo& info) {
  std::string json = "{";
  json += "\"serial\":" + JsonString(info.bridgeSerial, sizeof info.bridgeSerial - 1);
  json += std::string(",\"mode\":\"") + (info.bootMode != 0 ? "BOOT" : "APP") + "\"";
  json += Format(",\"protocol_version_1\":%u,\"protocol_version_2\":%u",
                 unsigned{info.protocolVersion1}, unsigned{info.protocolVersion2});
  json += Format(",\"chip_id\":%" PRIu64, info.chipId);
  json += ",\"unique_id\":" + JsonString(info.uniqueId, sizeof info.uniqueId - 1);
  return json + "}";
}

int RunVesk3ctl(const std::vector<std::string>& args, const BackendChooser& chooseBackend,
                std::ostream& out, std::ostream& err, bool errIsTerminal) {
  const ParseResult parsed = ParseCommandLine(args);
  Console console{out, err, errIsTerminal, parsed.line.verbosity};
  if (!parsed.error.empty()) {
    console.Error(parsed.error);
    err << UsageText(parsed.line.command);
    return kExitUsage;
  }
  if (parsed.line.help) {
    out << HelpText(parsed.line.command);
    return kExitOk;
  }
  Backend backend = chooseBackend(parsed.line.sim);
  SessionDriver driver(*backend.driver);
  driver.ChooseSerial(parsed.line.serial);
  ProgramScope scope(driver, *backend.platform);
  DeviceSession session(driver, console, backend.openFailureHint);
  const int status = RunCommand(Run{parsed.line, console, driver, session});
  console.Detail(Format("%" PRIu64 " bytes written, %" PRIu64 " bytes read", driver.BytesWritten(),
                        driver.BytesRead()));
  return status;
}
