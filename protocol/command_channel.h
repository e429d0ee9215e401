// The command channel: the one command/answer context of the program.
//
// Owns: the command frame being built and sent, the frame counter, the
// descriptor table, the answer frame, the bulk state with its buffer, the
// stream staging block, the hold-off owed after a notification and the
// start-up state (wake-up pending, handshake version). All of it is static and
// lives for the whole run; nothing here allocates per command.
// Does not own: the link (link/) or what a command means (services/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "protocol/wire.h"

constexpr size_t kBulkCapacity = 165200;      // BulkBuffer bytes
constexpr size_t kStreamStageSize = 512;      // bytes per streamed refill
constexpr int32_t kStreamExhausted = 0xFFFF;  // stream position once the stream has ended

// The pause owed after a notification.
constexpr uint32_t kHoldOffNotificationMs = 500;
constexpr uint32_t kHoldOffBusyMs = 4000;

// command code -> (parameter id -> parameter data length)
using ParamLengths = std::map<uint8_t, uint8_t>;
using DescriptorMap = std::map<uint8_t, ParamLengths>;

struct CommandFrame {
  uint8_t bytes[kFrameCapacity] = {};
  uint16_t count = 0;
  const ParamLengths* CurrentDescriptor = nullptr;
};

struct AnswerFrame {
  uint8_t bytes[kFrameCapacity] = {};
  uint16_t cursor = 0;
  // L, the answer's own length field (bytes 3-4, little-endian).
  uint16_t Length() const { return static_cast<uint16_t>(bytes[3] | (bytes[4] << 8)); }
};

struct CommandChannel {
  CommandFrame commandFrame;
  uint8_t FrameCounter = kCounterFirst;
  DescriptorMap DescriptorTable;

  AnswerFrame answerFrame;
  uint8_t BulkBuffer[kBulkCapacity] = {};
  int32_t BulkLength = 0;
  bool BulkInMemory = false;
  size_t memoryPosition = 0;  // byte offset of the next NextMemoryWord
  uint8_t StreamStage[kStreamStageSize] = {};
  int32_t streamPosition = 0;   // next word in StreamStage
  int32_t streamWordCount = 0;  // words in StreamStage
  int64_t streamRemaining = 0;  // announced streamed bytes not yet pulled from the link

  uint32_t HoldOffMs = 0;
  bool WakeUpPending = true;
  int32_t HandshakeVersion = -1;

  // Back to the program-start state (tests, fuzzing).
  void Reset();
};

extern CommandChannel theChannel;
