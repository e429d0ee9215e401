#include "ctl/screen_expect.h"

#include "capture/png_file.h"
#include "services/display_frame.h"

namespace {
constexpr double kMsPerSecond = 1000;
}  // namespace

std::string ReadReference(const std::string& path, RgbImage* reference) {
  RgbImage read;
  std::string error = ReadPng(path, &read);
  if (error.empty()) error = ReferenceAtDeviceSize(read, reference);
  return error;
}

ExpectOutcome ExpectScreen(DeviceSession& session, const RgbImage& reference, const Region& region,
                           int tolerance, double timeoutS) {
  ExpectOutcome outcome;
  auto onFrame = [&](const MirrorFrame& frame) {
    outcome.screen = ImageOfFrame(FrameBuffer);
    outcome.differing = CountDifferingPixels(outcome.screen, reference, region, tolerance);
    outcome.matchedMs = frame.msSinceStart;
    return outcome.differing != 0;
  };
  MirrorLimits limits;
  limits.ms = static_cast<uint64_t>(timeoutS * kMsPerSecond + 0.5);
  outcome.end = RunMirror(session, limits, onFrame, nullptr, &outcome.failed);
  return outcome;
}
