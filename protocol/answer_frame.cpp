#include "protocol/answer_frame.h"

#include <algorithm>

#include "link/usb_device.h"
#include "protocol/command_channel.h"

namespace {

constexpr uint8_t kSingleByteExchangeA = 0x00;
constexpr uint8_t kSingleByteExchangeB = 0xFF;

AnswerFrame& Answer() {
  return theChannel.answerFrame;
}
const CommandFrame& Sent() {
  return theChannel.commandFrame;
}

bool IsSingleByteExchange() {
  uint8_t code = Sent().bytes[0];
  return code == kSingleByteExchangeA || code == kSingleByteExchangeB;
}

// L as the device sent it, bounded by the frame: nothing past the frame is ever looked at.
size_t BoundedLength() {
  size_t length = Answer().Length();
  return length <= kFrameCapacity ? length : kFrameCapacity;
}

ResultCode ClassifyNotification(uint8_t code) {
  theChannel.HoldOffMs = kHoldOffNotificationMs;
  if (code == kNotifyBusyA || code == kNotifyBusyB) {
    theChannel.HoldOffMs = kHoldOffBusyMs;
    return kResultDeviceBusy;
  }
  if (code == kNotifySwitchedOff) {
    theUsbDevice.Close();
    return kResultPoweredOff;
  }
  return kResultSystemChange;
}

ResultCode ClassifyAnswerType(const uint8_t* bytes) {
  switch (bytes[2]) {
    case kAnswerTypeOk:
      return bytes[1] == Sent().bytes[1] ? kResultOk : kResultWrongCounter;
    case kAnswerUnknownCommand:
      return kResultInvalidCommand;
    case kAnswerCounterMismatch:
      return kResultDeviceCounterMismatch;
    case kAnswerUnknownParameter:
      return kResultUnknownParameter;
    case kAnswerTooManyParameters:
      return kResultTooManyParameters;
    case kAnswerTooManyBytes:
      return kResultTooManyBytesSent;
    case kAnswerCannotExecute:
      return kResultCannotExecute;
    default:
      return kResultUnknownAnswerType;
  }
}

// The 32-bit little-endian value of a bulk announcement whose data starts at
// parameter byte `at`; bytes at or past `end` were not sent and count as 0.
int32_t AnnouncedLength(const uint8_t* params, size_t at, size_t end) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) {
    uint32_t byte = at + i < end ? params[at + i] : 0;
    value |= byte << (8 * i);
  }
  return static_cast<int32_t>(value);
}

// Bulk data in segments: each segment is an answer frame followed by bulk
// bytes, together at most 65535 bytes; the first frame is the one just walked.
ResultCode ReadBulkSegments(int32_t announced) {
  if (announced < 0 || static_cast<size_t>(announced) > kBulkCapacity) return kResultInvalidAnswer;
  int32_t remaining = announced;
  int32_t written = 0;
  int32_t frameLength = Answer().Length();
  while (remaining > 0) {
    int32_t room = kBulkSegmentMax - frameLength;
    int32_t k = remaining < room ? remaining : room;
    int32_t got = theUsbDevice.Read(theChannel.BulkBuffer + written, k);
    if (got != k) return kResultTooFewBytesReceived;
    remaining -= k;
    written += k;
    if (remaining <= 0) break;
    ResultCode next = VK3cmd_ReadAnswer();
    if (next != kResultOk) return next;
    frameLength = Answer().Length();
    Answer().cursor = kAnswerHeaderSize;
  }
  return kResultOk;
}

// Walks the answer parameters for the bulk announcement and the bulk mode.
ResultCode WalkParameters() {
  const size_t length = Answer().Length();
  if (length <= kAnswerHeaderSize) return kResultOk;
  const size_t count = length - kAnswerHeaderSize;  // D: parameter bytes
  const uint8_t* params = Answer().bytes + kAnswerHeaderSize;
  int32_t announced = 0;  // A: announced in this answer
  size_t p = 0;
  while (true) {
    uint8_t id = params[p++];
    if (p == count) return kResultOk;
    uint8_t n = params[p++];
    if (id == kParamBulkLength) {
      announced = AnnouncedLength(params, p, count);
      theChannel.BulkLength = announced;
      theChannel.BulkInMemory = true;
    } else if (id == kParamBulkSegments) {
      if (n != 0) return kResultInvalidAnswer;
      return ReadBulkSegments(announced);
    } else if (id == kParamBulkStream) {
      if (n != 0) return kResultInvalidAnswer;
      theChannel.BulkInMemory = false;
      theChannel.streamRemaining = theChannel.BulkLength > 0 ? theChannel.BulkLength : 0;
      return kResultOk;
    }
    p += n;
    if (p > count) return kResultInvalidAnswer;
    if (p == count) return kResultOk;
  }
}

}  // namespace

ResultCode VK3cmd_ReadAnswer() {
  if (!theUsbDevice.IsOpen()) return kResultLinkFailure;
  uint8_t* bytes = Answer().bytes;
  if (theUsbDevice.Read(bytes, 1) != 1) return kResultLinkFailure;
  if (IsSingleByteExchange()) return kResultOk;

  int32_t got = theUsbDevice.Read(bytes + 1, 4);
  if (got == 0) return kResultLinkFailure;
  if (got < 4) return kResultAnswerTooShort;
  if (bytes[0] == kNotificationMarker) return ClassifyNotification(bytes[1]);

  const size_t length = Answer().Length();
  if (length == 0 || length > kFrameCapacity) return kResultInvalidAnswer;
  if (length > kAnswerHeaderSize) {
    int32_t want = static_cast<int32_t>(length - kAnswerHeaderSize);
    got = theUsbDevice.Read(bytes + kAnswerHeaderSize, want);
    if (got == 0) return kResultLinkFailure;
    if (got < want) return kResultAnswerTooShort;
  }
  if (bytes[0] != Sent().bytes[0]) return kResultWrongAnswerId;
  if (bytes[1] == kCounterUnknownCommand) return kResultInvalidCommand;
  return ClassifyAnswerType(bytes);
}

ResultCode VK3cmd_Receive() {
  ResultCode result = VK3cmd_ReadAnswer();
  if (result != kResultOk) return result;
  if (IsSingleByteExchange()) {
    return Answer().bytes[0] == Sent().bytes[0] ? kResultOk : kResultInvalidAnswer;
  }
  return WalkParameters();
}

const uint8_t* VK3cmd_FindParam(uint8_t id) {
  AnswerFrame& answer = Answer();
  const uint8_t* bytes = answer.bytes;
  const size_t length = BoundedLength();
  size_t cursor = kAnswerHeaderSize;
  answer.cursor = static_cast<uint16_t>(cursor);
  bool compare = true;
  while (true) {
    if (compare) {
      if (cursor + 2 > length || bytes[cursor] == 0) return nullptr;
      if (bytes[cursor] == id) return bytes + cursor;
    }
    // Skip one parameter.
    if (cursor + 1 > length) return nullptr;
    uint8_t skipped = bytes[cursor++];
    if (cursor + 1 > length) return nullptr;
    uint8_t n = bytes[cursor++];
    if (n > 0 && cursor + n <= length) cursor += n;
    answer.cursor = static_cast<uint16_t>(cursor);
    // The parameter that follows one with id 252..255 is passed over unseen.
    compare = skipped < kParamBulkLength;
  }
}

bool VK3cmd_ParamInAnswer(const uint8_t* param) {
  const uint8_t* bytes = Answer().bytes;
  if (param < bytes || param >= bytes + kFrameCapacity) return false;
  size_t offset = static_cast<size_t>(param - bytes);
  size_t length = BoundedLength();
  return offset + 2 <= length && offset + 2 + param[1] <= length;
}

uint16_t NextMemoryWord() {
  size_t at = theChannel.memoryPosition;
  if (at + 2 > kBulkCapacity) return 0;
  theChannel.memoryPosition = at + 2;
  return static_cast<uint16_t>(theChannel.BulkBuffer[at] | (theChannel.BulkBuffer[at + 1] << 8));
}

uint16_t NextStreamWord() {
  CommandChannel& ch = theChannel;
  if (ch.streamPosition == kStreamExhausted) return 0;
  if (ch.streamPosition >= ch.streamWordCount) {
    int64_t ask = ch.streamRemaining < static_cast<int64_t>(kStreamStageSize)
                      ? ch.streamRemaining
                      : static_cast<int64_t>(kStreamStageSize);
    int32_t got = ask > 0 ? theUsbDevice.Read(ch.StreamStage, static_cast<int32_t>(ask)) : 0;
    if (got <= 0) {
      ch.streamPosition = kStreamExhausted;
      return 0;
    }
    ch.streamRemaining -= got;
    ch.streamWordCount = got / 2;
    ch.streamPosition = 0;
  }
  const uint8_t* word = ch.StreamStage + 2 * ch.streamPosition;
  ch.streamPosition += 1;
  return static_cast<uint16_t>(word[0] | (word[1] << 8));
}

void DiscardStreamPadding() {
  CommandChannel& ch = theChannel;
  if (ch.streamRemaining <= 0 || ch.streamRemaining >= static_cast<int64_t>(kStreamStageSize)) {
    return;
  }
  uint8_t padding[kStreamStageSize];
  while (ch.streamRemaining > 0) {
    const int32_t got = theUsbDevice.Read(padding, static_cast<int32_t>(ch.streamRemaining));
    if (got <= 0) return;
    ch.streamRemaining -= got;
  }
}

namespace {

constexpr size_t kBytesPerWord = 2;

class MemoryWords final : public BulkWordSource {
 public:
  ReadyWords Ready() const override {
    const size_t at = theChannel.memoryPosition;
    if (at % kBytesPerWord != 0 || at > kBulkCapacity) return {};
    return {theChannel.BulkBuffer + at, (kBulkCapacity - at) / kBytesPerWord};
  }
  void Consume(size_t words) override { theChannel.memoryPosition += words * kBytesPerWord; }
  uint16_t Refill() override { return NextMemoryWord(); }
};

class StreamWords final : public BulkWordSource {
 public:
  ReadyWords Ready() const override {
    const int32_t at = theChannel.streamPosition;
    const int32_t words = std::min<int32_t>(theChannel.streamWordCount, kStreamStageSize / 2);
    if (at == kStreamExhausted || at < 0 || at >= words) return {};
    return {theChannel.StreamStage + kBytesPerWord * static_cast<size_t>(at),
            static_cast<size_t>(words - at)};
  }
  void Consume(size_t words) override { theChannel.streamPosition += static_cast<int32_t>(words); }
  uint16_t Refill() override { return NextStreamWord(); }
  // A refill asks the link only while announced bytes are left, so an ended
  // stream with bytes still owed is one whose read came back empty.
  bool Broken() const override {
    return theChannel.streamPosition == kStreamExhausted && theChannel.streamRemaining > 0;
  }
};

MemoryWords memoryWords;
StreamWords streamWords;

}  // namespace

BulkWordSource& StartMemoryWords() {
  theChannel.memoryPosition = 0;
  return memoryWords;
}

BulkWordSource& StartStreamWords() {
  theChannel.streamPosition = 0;
  theChannel.streamWordCount = 0;
  return streamWords;
}

BulkWordSource* WordSourceOf(uint16_t (*reader)()) {
  if (reader == NextMemoryWord) return &memoryWords;
  if (reader == NextStreamWord) return &streamWords;
  return nullptr;
}
