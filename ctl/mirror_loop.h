// The mirror loop of vesk3ctl: refreshes at the window's period (76 ms,
// counted from the start, never two ticks owed at once), each refreshed frame
// handed on with the time it arrived and the bytes its refresh moved.
//
// Owns: the pacing on the platform's clock, the limits (frames, time), the
// interrupt check between refreshes. Does not own: what is done with a frame
// (record, watch, expect) or the refresh itself (the session).
#pragma once

#include <cstdint>
#include <functional>

#include "ctl/device_session.h"

constexpr uint32_t kMirrorPeriodMs = 76;
// The line's capacity at 3,000,000 baud, 10 bits a byte.
constexpr uint64_t kLinkBytesPerSecond = 300000;

struct MirrorFrame {
  uint64_t index = 0;         // refreshed frames before this one
  uint64_t msSinceStart = 0;  // when this frame had arrived
  uint64_t bytesMoved = 0;    // by its refresh, both ways
};

struct MirrorLimits {
  uint64_t frames = 0;  // 0: no limit
  uint64_t ms = 0;      // 0: no limit
};

enum class MirrorEnd { Done, Stopped, Interrupted, Failed };

// Called for each refreshed frame (FrameBuffer holds it); false stops the loop.
using FrameSink = std::function<bool(const MirrorFrame&)>;
// Called after every tick, refreshed or not, with the time since start.
using TickSink = std::function<void(uint64_t msSinceStart)>;

// The loop one tick at a time, for callers that pull frames (the Python
// module's frames()): the same pacing as RunMirror, which is built on it.
class MirrorTicks {
 public:
  explicit MirrorTicks(DeviceSession& session) : session_(session) {}

  // Connects (wake-up, handshake); the clock starts at the first refresh.
  ResultCode Start();
  enum class Tick { Refreshed, Unchanged, Interrupted, Failed };
  // Waits for the next tick and refreshes once. *frame is filled on
  // Refreshed; *msSinceStart on Refreshed and Unchanged; *failed on Failed.
  Tick Next(MirrorFrame* frame, uint64_t* msSinceStart, ResultCode* failed);
  uint64_t Frames() const { return frames_; }

 private:
  DeviceSession& session_;
  uint64_t startUs_ = 0;
  uint64_t nextTickUs_ = 0;
  uint64_t frames_ = 0;
  bool ticked_ = false;
};

// Connects first (wake-up, handshake), so the clock starts at the first refresh.
MirrorEnd RunMirror(DeviceSession& session, const MirrorLimits& limits, const FrameSink& onFrame,
                    const TickSink& onTick, ResultCode* failed);
