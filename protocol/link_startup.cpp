#include "protocol/link_startup.h"

#include <memory>
#include <new>

#include "link/usb_device.h"
#include "platform/platform.h"
#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"

namespace {

constexpr uint8_t kWakeUpByte = 0x00;
// The drain drops at most this much (a whole display stream left over and
// then some, about a second of the line), so a device that never stops
// talking cannot hold the window's thread.
constexpr size_t kDrainBytesMax = 2 * kBulkCapacity;
// The transmit queue of the wake-up byte is polled once a millisecond for at
// most the write timeout.
constexpr uint32_t kWakeUpDrainPollsMax = kLinkTimeoutMs;

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

// Drops answers and notifications waiting on the link; stops at a switched-off
// or system-change notification and returns it. A link not yet configured is
// not read: its configuration empties the receive queue anyway.
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
  if (theUsbDevice.Write(&kWakeUpByte, 1) != 1) return false;
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
