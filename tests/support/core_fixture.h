// The fixture every core test starts from, and the standard start-up script.
//
// Owns: a fresh program state for every case (ProgramScope); installing a
// fresh FakeDriver (one hand controller attached) and a
// RecordingPlatform; builders for answers, notifications and descriptor
// blocks; the scripted start-up conversation (wake-up, mode request,
// descriptor request and block).
// Does not own: anything a test asserts; the fixture only sets the stage.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

#include "services/program_state.h"
#include "tests/support/fake_driver.h"
#include "tests/support/recording_platform.h"

// One command entry of a descriptor block: code and (id, data length) pairs.
struct DescriptorEntry {
  uint8_t command;
  std::vector<std::pair<uint8_t, uint8_t>> params;
};

// The descriptor block as the device sends it: E, then each entry as code, P, pairs.
Bytes DescriptorBlock(const std::vector<DescriptorEntry>& entries);
// The commands this program uses, as a device of today describes them.
Bytes StandardDescriptorBlock();

// An answer frame: code, counter, type, L (computed), then the raw parameter bytes.
Bytes Answer(uint8_t command, uint8_t counter, uint8_t type, const Bytes& params = {});
// One answer parameter: id, length byte (data size), data.
Bytes Param(uint8_t id, const Bytes& data = {});
// Parameter 252 announcing a bulk length, little-endian.
Bytes BulkLengthParam(int32_t length);
// A notification in place of an answer: FB, code, three bytes not looked at.
Bytes Notification(uint8_t code);
// The byte strings one after the other.
Bytes Cat(std::initializer_list<Bytes> parts);
// n bytes 0, 1, 2, ... (mod 256), as bulk payload.
Bytes Counting(size_t n, uint8_t first = 0);

// The handshake as it goes over the wire.
extern const Bytes kWakeUpByte;         // 00
extern const Bytes kModeRequest;        // F8 01 01 FF
extern const Bytes kDescriptorRequest;  // F8 02 0A FF
constexpr uint8_t kModeApp = 1;
constexpr uint8_t kModeBoot = 3;
Bytes ModeAnswer(uint16_t version = 0x0102, uint16_t secondVersion = 0x0304,
                 uint8_t mode = kModeApp);
// The 15-byte descriptor answer announcing `announced` bytes, without the block.
Bytes DescriptorAnswer(int32_t announced);

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Scripts the wake-up byte (no reply).
  void ExpectWakeUp();
  // Scripts mode request and answer, descriptor request and answer + block.
  void ExpectHandshake(const Bytes& block = StandardDescriptorBlock(),
                       const Bytes& modeAnswer = ModeAnswer());
  // Wake-up and handshake: what the program's first command is preceded by.
  void ExpectStartUp(const Bytes& block = StandardDescriptorBlock());
  // Runs the start-up through VK3cmd_EnsureOpen and forgets what it recorded,
  // so the test sees the steady state only. Asserts that it succeeded.
  void StartLink(const Bytes& block = StandardDescriptorBlock());

  FakeDriver driver;
  RecordingPlatform platform;
  // From SetUp to TearDown: driver and platform installed on a fresh state.
  std::optional<ProgramScope> program;
};
