#include "fuzz/fuzz_harness.h"

#include <cstdio>
#include <cstdlib>

#include "link/usb_device.h"
#include "protocol/command_channel.h"
#include "protocol/link_startup.h"
#include "services/display_frame.h"
#include "tests/support/core_fixture.h"

namespace {

constexpr size_t kRecordLengthBytes = 4;

const FuzzSession* currentSession = nullptr;

// Every code a link, protocol or service operation can return.
constexpr ResultCode kKnownResults[] = {
    kResultOk,
    kResultCannotOpen,
    kResultLinkFailure,
    kResultInvalidCommand,
    kResultDeviceBusy,
    kResultPoweredOff,
    kResultSystemChange,
    kResultInvalidAnswer,
    kResultWrongAnswerId,
    kResultWrongCounter,
    kResultUnknownAnswerType,
    kResultAnswerTooShort,
    kResultHandshakeFailed,
    kResultDeviceCounterMismatch,
    kResultUnknownParameter,
    kResultTooManyParameters,
    kResultTooManyBytesSent,
    kResultTooFewBytesReceived,
    kResultNoAnswerParameter,
    kResultBadParameterLength,
    kResultCannotExecute,
};

}  // namespace

std::vector<Bytes> DecodeReplies(const uint8_t* data, size_t size) {
  std::vector<Bytes> replies;
  size_t at = 0;
  while (at < size) {
    uint32_t length = 0;
    for (size_t i = 0; i < kRecordLengthBytes; ++i) {
      uint32_t byte = at < size ? data[at++] : 0;
      length |= byte << (8 * i);
    }
    const size_t take = length < size - at ? length : size - at;
    replies.emplace_back(data + at, data + at + take);
    at += take;
  }
  return replies;
}

Bytes EncodeReplies(const std::vector<Bytes>& replies) {
  Bytes out;
  for (const Bytes& reply : replies) {
    const auto length = static_cast<uint32_t>(reply.size());
    for (size_t i = 0; i < kRecordLengthBytes; ++i) {
      out.push_back(static_cast<uint8_t>(length >> (8 * i)));
    }
    out.insert(out.end(), reply.begin(), reply.end());
  }
  return out;
}

void ReplyDriver::ServeReplies(std::vector<Bytes> replies) {
  replies_ = std::move(replies);
  next_ = 0;
}

void ReplyDriver::QueueWaitingBytes() {
  if (next_ == 0 && !replies_.empty()) QueueDeviceBytes(replies_[next_++]);
  if (next_ == 0) next_ = 1;
}

FtStatus ReplyDriver::Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) {
  const FtStatus status = FakeDriver::Write(handle, data, n, written);
  if (status == kFtOk && *written > 0) {
    if (next_ == 0) next_ = 1;  // no bytes were waiting before the first exchange
    if (next_ < replies_.size()) QueueDeviceBytes(replies_[next_++]);
  }
  return status;
}

FuzzSession::FuzzSession() {
  VK3cmd_Init();  // as the window does when it is initialised
  currentSession = this;
}

FuzzSession::~FuzzSession() {
  currentSession = nullptr;
}

void FuzzSession::StartLinkCanned() {
  const Bytes block = StandardDescriptorBlock();
  Bytes descriptor = DescriptorAnswer(static_cast<int32_t>(block.size()));
  descriptor.insert(descriptor.end(), block.begin(), block.end());
  // Replies to the wake-up byte, the mode request and the descriptor request.
  driver.ServeReplies({{}, {}, ModeAnswer(), descriptor});
  driver.QueueWaitingBytes();
  if (VK3cmd_EnsureOpen() != kResultOk) FuzzFailure("canned start-up failed");
  driver.ForgetHistory();
  platform.Forget();
}

void RequireKnownResult(ResultCode code) {
  for (ResultCode known : kKnownResults) {
    if (code == known) return;
  }
  std::fprintf(stderr, "result %d is no code of the program\n", code);
  std::abort();
}

uint64_t SessionElapsedMs() {
  return currentSession != nullptr ? currentSession->platform.elapsedMs : 0;
}

void RequireBoundedTime(ElapsedMs elapsed, uint64_t startMs, int exchanges) {
  if (elapsed == nullptr) return;
  const uint64_t spent = elapsed() - startMs;
  if (spent > kExchangeVirtualMsMax * static_cast<uint64_t>(exchanges)) {
    std::fprintf(stderr, "%d exchanges kept the thread %llu ms\n", exchanges,
                 static_cast<unsigned long long>(spent));
    std::abort();
  }
}

void FuzzFailure(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}
