#include "ctl/mirror_loop.h"

#include "ctl/interrupt.h"
#include "ctl/key_press.h"
#include "platform/platform.h"

namespace {
constexpr uint64_t kUsPerMs = 1000;
constexpr uint64_t kPeriodUs = uint64_t{kMirrorPeriodMs} * kUsPerMs;
}  // namespace

ResultCode MirrorTicks::Start() {
  const ResultCode connected = session_.Connect();
  startUs_ = ThePlatform().NowUs();
  nextTickUs_ = startUs_;
  frames_ = 0;
  ticked_ = false;
  return connected;
}

MirrorTicks::Tick MirrorTicks::Next(MirrorFrame* frame, uint64_t* msSinceStart,
                                    ResultCode* failed) {
  if (ticked_) {
    // Like the window's timer: the next tick one period on, or at once when late.
    nextTickUs_ += kPeriodUs;
    const uint64_t nowUs = ThePlatform().NowUs();
    if (nextTickUs_ < nowUs) nextTickUs_ = nowUs;
  }
  ticked_ = true;
  if (!WaitUntilUs(nextTickUs_)) return Tick::Interrupted;
  const uint64_t bytesBefore = session_.Driver().BytesMoved();
  bool refreshed = false;
  const ResultCode r = session_.Refresh(&refreshed);
  if (r != kResultOk) {
    *failed = r;
    return Tick::Failed;
  }
  *msSinceStart = (ThePlatform().NowUs() - startUs_) / kUsPerMs;
  if (!refreshed) return Tick::Unchanged;
  *frame = MirrorFrame{frames_, *msSinceStart, session_.Driver().BytesMoved() - bytesBefore};
  ++frames_;
  return Tick::Refreshed;
}

MirrorEnd RunMirror(DeviceSession& session, const MirrorLimits& limits, const FrameSink& onFrame,
                    const TickSink& onTick, ResultCode* failed) {
  MirrorTicks ticks(session);
  const ResultCode connected = ticks.Start();
  if (connected != kResultOk) {
    *failed = connected;
    return MirrorEnd::Failed;
  }
  for (;;) {
    MirrorFrame frame;
    uint64_t nowMs = 0;
    switch (ticks.Next(&frame, &nowMs, failed)) {
      case MirrorTicks::Tick::Interrupted:
        return MirrorEnd::Interrupted;
      case MirrorTicks::Tick::Failed:
        return MirrorEnd::Failed;
      case MirrorTicks::Tick::Refreshed:
        if (!onFrame(frame)) return MirrorEnd::Stopped;
        break;
      case MirrorTicks::Tick::Unchanged:
        break;
    }
    if (onTick) onTick(nowMs);
    if (limits.frames != 0 && ticks.Frames() >= limits.frames) return MirrorEnd::Done;
    if (limits.ms != 0 && nowMs >= limits.ms) return MirrorEnd::Done;
  }
}
