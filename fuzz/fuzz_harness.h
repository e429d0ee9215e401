// The stage every fuzz target plays on: a conversation with a device whose
// every byte comes from the fuzzer's input.
//
// Owns: the input format (device replies, one record per host write), the
// reply-serving fake bridge, the per-input reset of the program's globals,
// the canned start-up for targets that fuzz the steady state, and the checks
// shared by the targets (known result codes, bounded virtual time).
// Does not own: what a target does with the link; each target drives the
// program's own operations.
//
// Input format: a sequence of records, each a 32-bit little-endian length and
// that many bytes (a length past the end of the input takes what is left).
// Record 0 is waiting on the link when the first exchange starts; record k
// (k >= 1) joins the receive queue once the host's k-th driver write has gone
// out. The fake bridge never waits: a read with nothing queued times out at
// once, so every execution is short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/result_codes.h"
#include "services/program_state.h"
#include "tests/support/fake_driver.h"
#include "tests/support/recording_platform.h"

// Splits a fuzz input into its reply records.
std::vector<Bytes> DecodeReplies(const uint8_t* data, size_t size);
// The inverse, for the seed recorder.
Bytes EncodeReplies(const std::vector<Bytes>& replies);

// A fake bridge that queues the next reply record after every host write.
class ReplyDriver : public FakeDriver {
 public:
  void ServeReplies(std::vector<Bytes> replies);
  // Queues record 0 (bytes already waiting before the first exchange).
  void QueueWaitingBytes();
  FtStatus Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) override;

 private:
  std::vector<Bytes> replies_;
  size_t next_ = 0;
};

// One fuzz execution: a fresh ReplyDriver and RecordingPlatform installed on a
// fresh program state, and at the end the link closed and the built-in driver
// back (ProgramScope).
class FuzzSession {
 public:
  FuzzSession();
  ~FuzzSession();
  FuzzSession(const FuzzSession&) = delete;
  FuzzSession& operator=(const FuzzSession&) = delete;

  // Runs the program's first command start-up (wake-up, handshake, standard
  // descriptor block) against canned answers; aborts if it does not succeed.
  void StartLinkCanned();

  ReplyDriver driver;
  RecordingPlatform platform;
  ProgramScope program{driver, platform};
};

// Aborts (a crash libFuzzer reports) when a service returned a code that no
// layer of the program can produce.
void RequireKnownResult(ResultCode code);

// The longest one exchange may keep the thread in Beep and Sleep: the busy
// hold-off with its beep, plus the wake-up's settle time and transmit polls.
constexpr uint64_t kExchangeVirtualMsMax = 4000 + 50 + 550 + 1000;

// Virtual time spent in Beep and Sleep so far; null where nobody counts it.
using ElapsedMs = uint64_t (*)();
// The elapsed time of the platform the current FuzzSession installed.
uint64_t SessionElapsedMs();
// Aborts when more than `exchanges` times the bound above has passed since
// `startMs`. Does nothing without a clock.
void RequireBoundedTime(ElapsedMs elapsed, uint64_t startMs, int exchanges);

// Aborts with a message: the fuzzer's "crash".
[[noreturn]] void FuzzFailure(const char* what);
