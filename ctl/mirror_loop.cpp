#include "ctl/mirror_loop.h"

#include "ctl/interrupt.h"
#include "ctl/key_press.h"
#include "platform/platform.h"

namespace {
constexpr uint64_t kUsPerMs = 1000;
constexpr uint64_t kPeriodUs = uint64_t{kMirrorPeriodMs} * kUsPerMs;
}  // namespace

MirrorEnd RunMirror(DeviceSession& session, const MirrorLimits& limits, const FrameSink& onFrame,
                    const TickSink& onTick, ResultCode* failed) {
  const ResultCode connected = session.Connect();
  if (connected != kResultOk) {
    *failed = connected;
    return MirrorEnd::Failed;
  }
  const uint64_t startUs = ThePlatform().NowUs();
  uint64_t nextTickUs = startUs;
  uint64_t frames = 0;
  for (;;) {
    if (!WaitUntilUs(nextTickUs)) return MirrorEnd::Interrupted;
    const uint64_t bytesBefore = session.Driver().BytesMoved();
    bool refreshed = false;
    const ResultCode r = session.Refresh(&refreshed);
    if (r != kResultOk) {
      *failed = r;
      return MirrorEnd::Failed;
    }
    const uint64_t nowMs = (ThePlatform().NowUs() - startUs) / kUsPerMs;
    if (refreshed) {
      MirrorFrame frame{frames, nowMs, session.Driver().BytesMoved() - bytesBefore};
      ++frames;
      if (!onFrame(frame)) return MirrorEnd::Stopped;
    }
    if (onTick) onTick(nowMs);
    if (limits.frames != 0 && frames >= limits.frames) return MirrorEnd::Done;
    if (limits.ms != 0 && nowMs >= limits.ms) return MirrorEnd::Done;
    // Like the window's timer: the next tick one period on, or at once when late.
    nextTickUs += kPeriodUs;
    const uint64_t afterUs = ThePlatform().NowUs();
    if (nextTickUs < afterUs) nextTickUs = afterUs;
  }
}
