// The device session of vesk3ctl: one hand controller reached through the
// core's own road (VK3cmd_EnsureOpen / VK3cmd_Send: the same link start-up,
// results and texts as the window), one exchange at a time.
//
// Owns: connecting, the information report, the whole frame, one mirror
// refresh, button events, the Esc line, and the notifications as the window
// meets them: a busy device and a system change are waited out (the next
// command pays the hold-off and hands the device a new handshake), "powered
// off" ends the session with its text. Failures come back as a
// SessionFailure: the result code and its text, and the link's detail line.
// Does not own: the driver (SessionDriver), pacing (mirror_loop, key_press)
// or any file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ctl/console.h"
#include "ctl/session_driver.h"
#include "protocol/result_codes.h"
#include "services/device_info.h"

// A system change makes the device ask for a new handshake; after this many
// in a row on one exchange the device is not settling and the command ends.
constexpr int kSystemChangeRetries = 3;
// A frame answered with "busy" is asked again after the hold-off, this often.
constexpr int kBusyRetries = 3;

struct SessionFailure {
  ResultCode code = kResultOk;
  std::string text;    // "Error (1): Can not open device", or the notification's text
  std::string detail;  // the link's own line, or "" when it has none
  std::string hint;    // plain words on what to do, or ""
};

// Why an open failed, in plain words, when the backend knows more than the
// link's status ("" when it does not).
using OpenFailureHint = std::function<std::string()>;

class DeviceSession {
 public:
  DeviceSession(SessionDriver& driver, const Console& console, OpenFailureHint hint = {})
      : driver_(driver), console_(console), hint_(std::move(hint)) {}

  // Wake-up (the first time) and handshake.
  ResultCode Connect();
  ResultCode ReadInfo(DeviceInfo* info);
  // The whole display into FrameBuffer.
  ResultCode ReadWholeFrame();
  // One refresh of the mirror: the whole display first, then the changes.
  // *refreshed says whether FrameBuffer holds a new frame (a busy device
  // answers the request with a notification instead).
  ResultCode Refresh(bool* refreshed);
  // A button event: a key code, + kButtonRelease for its release.
  ResultCode Button(int32_t code);
  // The 200 ms pulse on CBUS1; opens the link when it is closed.
  ResultCode PushEscLine();

  SessionFailure Failure(ResultCode code) const;
  SessionDriver& Driver() { return driver_; }

 private:
  // Runs the exchange until it is not a system change (at most kSystemChangeRetries).
  ResultCode WaitingOutSystemChanges(const std::function<ResultCode()>& exchange);

  SessionDriver& driver_;
  const Console& console_;
  OpenFailureHint hint_;
  bool wholeFrameShown_ = false;
};

// Prints the failure on the console's error stream, one line each.
void ReportFailure(const Console& console, const SessionFailure& failure);
