#include "protocol/link_startup.h"

#include <algorithm>
#include <memory>
#include <new>

#include "link/usb_device.h"
#include "platform/platform.h"
#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"

namespace {

// The drain drops at most this much (a whole display stream left over and
// then some, about a second of the line), so a device that never stops
// talking cannot hold the window's thread.
constexpr size_t kDrainBytesMax = 2 * kBulkCapacity;
// The transmit queue of the wake-up byte is polled once a millisecond for at
// most the write timeout.
constexpr uint32_t kWakeUpDrainPollsMax = kLinkTimeoutMs;
// The wait for a quiet line before a handshake is bounded by bytes like the
// drain and by the number of polls that find nothing, so a device that
// trickles forever cannot hold the thread either.
constexpr uint32_t kQuietPollsMax = kLinkTimeoutMs;
constexpr size_t kDiscardBytesMax = kDrainBytesMax;

// The two handshake requests carry the fixed counters 1 and 2.
constexpr uint8_t kModeRequest[] = {0xF8, 0x01, 0x01, 0xFF};
constexpr uint8_t kDescriptorRequest[] = {0xF8, 0x02, 0x0A, 0xFF};
constexpr int32_t kModeAnswerSize = 11;
constexpr int32_t kDescriptorAnswerSize = 15;

bool IsNotificationStop(ResultCode r) {
  return r == kResultPoweredOff || r == kResultSystemChange;
}

// Bytes one dropped answer took off the link: a refused length or a
// notification stops after the 5-byte header, anything else after L bytes.
size_t DrainedBytes(ResultCode r) {
  if (r == kResultInvalidAnswer || r == kResultDeviceBusy) return kAnswerHeaderSize;
  size_t length = theChannel.answerFrame.Length();
  return length > kAnswerHeaderSize ? length : kAnswerHeaderSize;
}

// Whether the answer reader took a whole answer of L bytes off the link
// (whatever it then made of it), so its parameters can be walked.
bool IsWholeAnswer(ResultCode r) {
  const uint8_t sent = theChannel.commandFrame.bytes[0];
  if (sent == 0x00 || sent == 0xFF) return false;  // a single-byte exchange reads one byte
  return r != kResultLinkFailure && r != kResultAnswerTooShort && r != kResultInvalidAnswer &&
         r != kResultDeviceBusy && r != kResultPoweredOff && r != kResultSystemChange;
}

struct BulkAnnouncement {
  bool present = false;
  bool segmented = false;
  int32_t length = 0;
};

// The bulk data the answer in the answer frame announces: a parameter 252
// with its length, then 253 (segments follow) or 254 (one stream follows),
// walked as the answer reader walks them.
BulkAnnouncement AnnouncedBulk() {
  const AnswerFrame& answer = theChannel.answerFrame;
  const size_t length = answer.Length();
  if (length <= kAnswerHeaderSize || length > kFrameCapacity) return {};
  const uint8_t* params = answer.bytes + kAnswerHeaderSize;
  const size_t count = length - kAnswerHeaderSize;
  int32_t announced = 0;
  for (size_t p = 0; p + 1 < count;) {
    const uint8_t id = params[p];
    const uint8_t n = params[p + 1];
    p += 2;
    if (id == kParamBulkLength) {
      uint32_t value = 0;
      for (size_t i = 0; i < 4; ++i)
        value |= uint32_t{p + i < count ? params[p + i] : 0u} << (8 * i);
      announced = static_cast<int32_t>(value);
    } else if (id == kParamBulkSegments || id == kParamBulkStream) {
      if (n != 0) return {};
      return {true, id == kParamBulkSegments, announced};
    }
    p += n;
  }
  return {};
}

// Reads and drops n bytes, at most `budget` of them; false when the link
// stopped delivering (a read failed, or timed out short) before the end.
bool DropBytes(size_t n, size_t& budget) {
  uint8_t scrap[kStreamStageSize];
  while (n > 0) {
    if (budget == 0) return false;
    const size_t chunk = std::min({n, sizeof scrap, budget});
    const int32_t want = static_cast<int32_t>(chunk);
    const int32_t got = theUsbDevice.Read(scrap, want);
    if (got <= 0) return false;
    n -= static_cast<size_t>(got);
    budget -= static_cast<size_t>(got);
    if (got < want) return false;
  }
  return true;
}

// Drops the bulk data a drained answer announced, so that pixel data is not
// read as answers (where a stray 0xFB would pass for a notification). In
// segments every further segment opens with an answer frame of its own.
ResultCode DropAnnouncedBulk(size_t& budget) {
  const BulkAnnouncement bulk = AnnouncedBulk();
  if (!bulk.present || bulk.length <= 0) return kResultOk;
  size_t remaining = static_cast<size_t>(bulk.length);
  if (!bulk.segmented) {
    DropBytes(remaining, budget);
    return kResultOk;
  }
  size_t frameLength = theChannel.answerFrame.Length();
  while (true) {
    const size_t k = std::min(remaining, static_cast<size_t>(kBulkSegmentMax) - frameLength);
    if (!DropBytes(k, budget)) return kResultOk;
    remaining -= k;
    if (remaining == 0) return kResultOk;
    const ResultCode r = VK3cmd_ReadAnswer();
    if (IsNotificationStop(r)) return r;
    if (!IsWholeAnswer(r)) return kResultOk;
    frameLength = theChannel.answerFrame.Length();
    budget -= std::min(budget, frameLength);
  }
}

// Drops answers and notifications waiting on the link, with the bulk data
// they announce; stops at a switched-off or system-change notification and
// returns it. A link not yet configured is not read: its configuration
// empties the receive queue anyway.
ResultCode DrainWaitingAnswers() {
  size_t drained = 0;
  while (drained < kDrainBytesMax) {
    if (!theUsbDevice.IsConfigured() || theUsbDevice.QueryReadBufLen() == 0) break;
    ResultCode r = VK3cmd_ReadAnswer();
    if (IsNotificationStop(r)) return r;
    // The queue said bytes were there, but the answer did not come whole
    // within the read timeout: what trickles in later is not waited for here.
    if (r == kResultLinkFailure || r == kResultAnswerTooShort) break;
    drained += DrainedBytes(r);
    if (!IsWholeAnswer(r) || drained >= kDrainBytesMax) continue;
    size_t budget = kDrainBytesMax - drained;
    const ResultCode stop = DropAnnouncedBulk(budget);
    drained = kDrainBytesMax - budget;
    if (stop != kResultOk) return stop;
  }
  return kResultOk;
}

void PayHoldOff() {
  if (theChannel.HoldOffMs == 0) return;
  ThePlatform().Beep(kHoldOffBeepHz, kHoldOffBeepMs);
  ThePlatform().Sleep(theChannel.HoldOffMs);
  theChannel.HoldOffMs = 0;
  theChannel.HandshakeVersion = -1;
}

bool Configure() {
  return theUsbDevice.FlushInBuffer() == 0 && theUsbDevice.FlushOutBuffer() == 0 &&
         theUsbDevice.SetLatencyTimer() == 0 && theUsbDevice.SetTimeouts() == 0 &&
         theUsbDevice.SetBitInput() == 0 && theUsbDevice.SetRTSCTS() == 0 &&
         theUsbDevice.SetDataFormat() == 0;
}

bool WaitForTransmitQueueEmpty() {
  for (uint32_t polls = 0; theUsbDevice.QueryWriteBufLen() > 0; ++polls) {
    if (polls >= kWakeUpDrainPollsMax) return false;
    ThePlatform().Sleep(1);
  }
  return true;
}

// One 0x00 byte at 9600 baud wakes the device after power-up.
bool WakeUpDevice() {
  if (theUsbDevice.SetBaudRate(kWakeUpBaud) != 0) return false;
  if (theUsbDevice.Write(&kWakeUpCode, 1) != 1) return false;
  if (!WaitForTransmitQueueEmpty()) return false;
  ThePlatform().Sleep(kWakeUpSettleMs);
  VK3cmd_Init();
  theChannel.WakeUpPending = false;
  return true;
}

bool ModeAnswerAccepted(const uint8_t* a) {
  return a[0] == 0xF8 && a[1] == 0x01 && a[2] == 0x00 && a[3] == kModeAnswerSize && a[4] == 0x00 &&
         a[6] == 0x04;
}

bool DescriptorAnswerAccepted(const uint8_t* a) {
  return a[0] == 0xF8 && a[1] == 0x02 && a[2] == 0x00 && a[3] == kDescriptorAnswerSize &&
         a[4] == 0x00 && a[5] == 0x0A && a[6] == 0x00 && a[7] == kParamBulkLength && a[8] == 0x04 &&
         a[13] == kParamBulkSegments;
}

// Reads and drops what is still arriving until the line has been quiet for
// kQuietLineMs. A failing query or read ends it: the handshake then meets
// the failure itself.
void DiscardUntilQuiet() {
  uint8_t scrap[kStreamStageSize];
  size_t dropped = 0;
  uint32_t quietMs = 0;
  for (uint32_t emptyPolls = 0; quietMs < kQuietLineMs && emptyPolls < kQuietPollsMax;) {
    const uint32_t waiting = theUsbDevice.QueryReadBufLen();
    if (theUsbDevice.lastStatus != kFtOk) return;
    if (waiting == 0) {
      ThePlatform().Sleep(1);
      ++quietMs;
      ++emptyPolls;
      continue;
    }
    if (dropped >= kDiscardBytesMax) return;
    const int32_t want = static_cast<int32_t>(waiting < sizeof scrap ? waiting : sizeof scrap);
    const int32_t got = theUsbDevice.Read(scrap, want);
    if (got <= 0) return;
    dropped += static_cast<size_t>(got);
    quietMs = 0;
  }
}

ResultCode FailHandshake() {
  theUsbDevice.Close();
  return kResultHandshakeFailed;
}

// Reads the descriptor block of `length` bytes and loads it into the table.
ResultCode DownloadDescriptorBlock(uint32_t length) {
  if (length > static_cast<uint32_t>(kDescriptorBlockMax)) return FailHandshake();
  if (length == 0) {
    VK3cmd_LoadDescriptorTable(nullptr, 0);
    return kResultOk;
  }
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[length]);
  if (!block) return FailHandshake();
  int32_t want = static_cast<int32_t>(length);
  if (theUsbDevice.Read(block.get(), want) != want) return FailHandshake();
  VK3cmd_LoadDescriptorTable(block.get(), want);
  return kResultOk;
}

ResultCode Handshake() {
  uint8_t answer[kDescriptorAnswerSize] = {};
  if (theUsbDevice.Write(kModeRequest, sizeof kModeRequest) != sizeof kModeRequest) {
    return kResultLinkFailure;
  }
  if (theUsbDevice.Read(answer, kModeAnswerSize) != kModeAnswerSize ||
      !ModeAnswerAccepted(answer)) {
    return FailHandshake();
  }
  theChannel.HandshakeVersion = answer[7] | (answer[8] << 8);

  if (theUsbDevice.Write(kDescriptorRequest, sizeof kDescriptorRequest) !=
      sizeof kDescriptorRequest) {
    return kResultLinkFailure;
  }
  if (theUsbDevice.Read(answer, kDescriptorAnswerSize) != kDescriptorAnswerSize ||
      !DescriptorAnswerAccepted(answer)) {
    return FailHandshake();
  }
  uint32_t length = static_cast<uint32_t>(answer[9]) | (static_cast<uint32_t>(answer[10]) << 8) |
                    (static_cast<uint32_t>(answer[11]) << 16) |
                    (static_cast<uint32_t>(answer[12]) << 24);
  return DownloadDescriptorBlock(length);
}

ResultCode OpenLink() {
  // Whatever handshake there was belongs to the link that is gone.
  theChannel.HandshakeVersion = -1;
  return theUsbDevice.Open() == 0 ? kResultOk : kResultCannotOpen;
}

// Configures an open link that is not configured: one freshly opened here,
// one push ESC opened, or one whose configuration failed part way. Only a
// configuration that went through to the working baud rate counts, so the
// next command after a failure starts it again from the first step.
ResultCode ConfigureLink() {
  // A handshake made on another handle, or before the failure, counts for nothing.
  theChannel.HandshakeVersion = -1;
  if (!Configure()) return kResultLinkFailure;
  if (theChannel.WakeUpPending && !WakeUpDevice()) return kResultLinkFailure;
  if (theUsbDevice.SetBaudRate(kWorkBaud) != 0) return kResultLinkFailure;
  theUsbDevice.MarkConfigured();
  theChannel.HoldOffMs = 0;
  theChannel.HandshakeVersion = -1;
  return kResultOk;
}

}  // namespace

ResultCode VK3cmd_EnsureOpen() {
  ResultCode drained = DrainWaitingAnswers();
  if (drained != kResultOk) return drained;
  PayHoldOff();
  if (!theUsbDevice.IsOpen()) {
    ResultCode opened = OpenLink();
    if (opened != kResultOk) return opened;
  }
  if (!theUsbDevice.IsConfigured()) {
    ResultCode configured = ConfigureLink();
    if (configured != kResultOk) return configured;
  } else if (theChannel.HandshakeVersion >= 0) {
    return kResultOk;
  }
  DiscardUntilQuiet();
  return Handshake();
}

ResultCode VK3cmd_Send() {
  ResultCode ready = VK3cmd_EnsureOpen();
  if (ready != kResultOk) return ready;
  CommandFrame& frame = theChannel.commandFrame;
  if (frame.bytes[0] != 0x00 && frame.bytes[0] != 0xFF && frame.count < kFrameCapacity) {
    frame.bytes[frame.count++] = kFrameTerminator;
  }
  if (theUsbDevice.Write(frame.bytes, frame.count) != frame.count) return kResultLinkFailure;
  return kResultOk;
}

void VK3cmd_Init() {
  theUsbDevice.DeviceKind = kDeviceKindHandController;
  theChannel.FrameCounter = kCounterFirst;
  theChannel.DescriptorTable.clear();
  theChannel.commandFrame.CurrentDescriptor = nullptr;
}

int VK3cmd_LoadDescriptorTable(const uint8_t* bytes, int32_t count) {
  DescriptorMap& table = theChannel.DescriptorTable;
  table.clear();
  theChannel.commandFrame.CurrentDescriptor = nullptr;
  if (bytes == nullptr || count < 1) return kDescriptorCutShort;
  const int32_t entries = bytes[0];
  int32_t at = 1;
  for (int32_t e = 0; e < entries; ++e) {
    if (at >= count) return kDescriptorCutShort;
    ParamLengths& params = table[bytes[at++]];
    if (at >= count) return kDescriptorCutShort;
    const int32_t pairs = bytes[at++];
    for (int32_t p = 0; p < pairs; ++p) {
      if (at + 1 >= count) return kDescriptorCutShort;
      params[bytes[at]] = bytes[at + 1];
      at += 2;
    }
  }
  return at == count ? kDescriptorOk : kDescriptorLeftOver;
}
