// Waiting for the device screen to match a reference picture: the mirror
// runs at its period until a refreshed frame matches inside the region, or
// the time is up.
//
// Owns: reading a reference (a PNG at device size or a whole multiple of it),
// the wait and what it ends with: the time to the match, or the last screen
// and its count of differing pixels. Does not own: the comparison itself
// (capture/screen_compare), the diff file, or what is printed (the caller).
#pragma once

#include <cstdint>
#include <string>

#include "capture/frame_image.h"
#include "capture/screen_compare.h"
#include "ctl/mirror_loop.h"

// The reference at device size; "" on success, otherwise why not.
std::string ReadReference(const std::string& path, RgbImage* reference);

struct ExpectOutcome {
  // Stopped: matched. Done: timed out. Interrupted, or Failed with `failed`.
  MirrorEnd end = MirrorEnd::Done;
  ResultCode failed = kResultOk;
  uint64_t matchedMs = 0;  // since the first refresh, when the match arrived
  int64_t differing = -1;  // in the last frame; -1 when none arrived
  RgbImage screen;         // the last frame compared
};

ExpectOutcome ExpectScreen(DeviceSession& session, const RgbImage& reference, const Region& region,
                           int tolerance, double timeoutS);
