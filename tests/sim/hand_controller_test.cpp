// The simulated hand controller on its own UART: what the host's bytes make
// it answer, byte for byte, without any bridge or host code in between.
#include "sim/hand_controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/core_fixture.h"

namespace {

constexpr uint32_t kFast = 3000000;
constexpr uint32_t kSlow = 9600;

class HandControllerWire : public ::testing::Test {
 protected:
  void Send(const Bytes& bytes, uint32_t baud = kFast) {
    device.HostBytes(bytes.data(), bytes.size(), baud, nowUs);
  }
  Bytes Take(uint32_t baud = kFast) {
    Bytes out(device.PendingDeviceBytes());
    out.resize(device.TakeDeviceBytes(out.data(), out.size(), baud, nowUs));
    return out;
  }
  void WakeUp() { Send({0x00}, kSlow); }

  HandController device;
  uint64_t nowUs = 0;
};

TEST_F(HandControllerWire, AfterPowerUpOnlyTheZeroByteAtSlowSpeedWakesIt) {
  Send(kModeRequest);         // too fast for a device still at 9600: noise
  Send({0x55, 0xF8}, kSlow);  // slow, but not the wake-up byte
  EXPECT_TRUE(Take().empty());
  EXPECT_FALSE(device.Awake());
  EXPECT_EQ(device.GarbledBytesIn(), 4u);

  WakeUp();
  EXPECT_TRUE(Take().empty());  // the wake-up byte has no answer
  Send(kModeRequest);
  // F8 01: command and counter; 00: success; 0B 00: 11 bytes; 01 04: APP, 4 bytes; versions.
  EXPECT_EQ(Take(), (Bytes{0xF8, 0x01, 0x00, 0x0B, 0x00, 0x01, 0x04, 0x03, 0x01, 0x01, 0x02}));
}

TEST_F(HandControllerWire, AtAnotherRateTheHostReadsNoiseAndTheDeviceHearsNoise) {
  WakeUp();
  Send(kModeRequest);
  const Bytes noise = Take(kSlow);
  EXPECT_EQ(noise.size(), 11u);
  EXPECT_NE(noise, ModeAnswer(0x0103, 0x0201));

  Send(kModeRequest, kSlow);  // a second wake-up attempt, at 9600, to an awake device
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(device.GarbledBytesIn(), 4u);
}

TEST_F(HandControllerWire, DescriptorRequestAnnouncesTheBlockAndSendsIt) {
  WakeUp();
  Send(kDescriptorRequest);
  const Bytes block = StandardDescriptorBlock();  // what the program's commands need
  Bytes expected = DescriptorAnswer(static_cast<int32_t>(block.size()));
  expected.insert(expected.end(), block.begin(), block.end());
  EXPECT_EQ(Take(), expected);
}

TEST_F(HandControllerWire, FramesParsedByTheDevicesOwnTable) {
  WakeUp();
  Bytes full(528, 0x02);  // 209, counter 7, 526 parameters 2: full, no terminator
  full[0] = 0xD1;
  full[1] = 0x07;
  Bytes insideData = {0xFD, 0x07};  // 253: parameters 193 with 2 data bytes, cut at 528
  while (insideData.size() < 528) insideData.insert(insideData.end(), {0xC1, 0x01, 0x00});
  insideData.resize(528);

  struct Case {
    const char* what;
    Bytes sent;
    Bytes answer;
  };
  const Case cases[] = {
      {"a single 0xFF comes back alone", {0xFF}, {0xFF}},
      {"item 17", {0xF8, 0x07, 0x11, 0xFF}, Answer(0xF8, 0x07, 0, Param(17, {0x03}))},
      {"0xFF inside a colour index is data, not the terminator",
       {0xFD, 0x07, 0xC1, 0xFF, 0x00, 0xFF},
       Answer(0xFD, 0x07, 32)},  // index 255: past the table
      {"colour 8 (red swatch) read back as blue, green, red, 0",
       {0xFD, 0x07, 0xC1, 0x08, 0x00, 0xFF},
       Answer(0xFD, 0x07, 0, Param(193, {0x28, 0x28, 0xDC, 0x00}))},
      {"unknown command: counter 240, type 16", {0x63, 0x07, 0x01, 0xFF}, Answer(0x63, 240, 16)},
      {"counter 0: type 17", {0xF8, 0x00, 0x01, 0xFF}, Answer(0xF8, 0x00, 17)},
      {"unknown parameter: type 18", {0xF8, 0x07, 0x63, 0xFF}, Answer(0xF8, 0x07, 18)},
      {"two items: type 19", {0xF8, 0x07, 0x01, 0x10, 0xFF}, Answer(0xF8, 0x07, 19)},
      {"a full frame needs no terminator", full, Answer(0xD1, 0x07, 19)},
      {"a full frame that ends inside data: type 20", insideData, Answer(0xFD, 0x07, 20)},
  };
  for (const Case& c : cases) {
    Send(c.sent);
    EXPECT_EQ(Take(), c.answer) << c.what;
  }
}

TEST_F(HandControllerWire, APartialFrameLeftIdleIsDropped) {
  WakeUp();
  Send({0xF8, 0x07});
  nowUs += kFrameGapResetUs + 1;
  Send({0xF8, 0x08, 0x11, 0xFF});
  EXPECT_EQ(Take(), Answer(0xF8, 0x08, 0, Param(17, {0x03})));
}

TEST_F(HandControllerWire, NotificationInPlaceOfTheNextAnswerThenAnswersAgain) {
  WakeUp();
  device.SendNotification(0xB7, NotifyWhen::InPlaceOfNextAnswer);
  Send({0xF8, 0x07, 0x11, 0xFF});
  EXPECT_EQ(Take(), Notification(0xB7));
  Send({0xF8, 0x08, 0x11, 0xFF});
  EXPECT_EQ(Take(), Answer(0xF8, 0x08, 0, Param(17, {0x03})));
}

TEST_F(HandControllerWire, SwitchedOffItAnswersNothingUntilCbus1GoesHigh) {
  WakeUp();
  device.SendNotification(0x36);
  EXPECT_EQ(Take(), Notification(0x36));
  Send({0xF8, 0x07, 0x11, 0xFF});
  EXPECT_TRUE(Take().empty());

  device.SetCbusPins(0x02);
  device.SetCbusPins(0x00);
  EXPECT_FALSE(device.SwitchedOff());
  Send({0xF8, 0x08, 0x11, 0xFF});
  EXPECT_EQ(Take(), Answer(0xF8, 0x08, 0, Param(17, {0x03})));
}

TEST_F(HandControllerWire, WholeFramesGoInSegmentsOfAtMost65535Bytes) {
  WakeUp();
  std::vector<uint16_t> noise(kDisplayPixels);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint16_t>(i * 2654435761u >> 7);
  device.HoldScreen(noise.data());
  Send({0xD1, 0x07, 0x01, 0x02, 0xFF});
  const Bytes out = Take();

  // First segment: the 27-byte answer (display info, 252, 253), then 65508 bytes.
  ASSERT_GT(out.size(), 27u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 7), (Bytes{0xD1, 0x07, 0x00, 27, 0x00, 0x03, 12}));
  EXPECT_EQ(Bytes(out.begin() + 7, out.begin() + 11), (Bytes{240, 0, 0x40, 0x01}));  // 240 x 320
  EXPECT_EQ(Bytes(out.begin() + 19, out.begin() + 21), (Bytes{0xFC, 4}));
  const size_t total = out[21] | out[22] << 8 | out[23] << 16 | out[24] << 24;
  EXPECT_EQ(Bytes(out.begin() + 25, out.begin() + 27), (Bytes{0xFD, 0}));
  ASSERT_GT(total, 2u * 65535);
  // Later segments: a bare 5-byte answer, then up to 65530 bytes.
  const size_t second = 27 + (65535 - 27);
  const size_t third = second + 65535;
  EXPECT_EQ(Bytes(out.begin() + second, out.begin() + second + 5), Answer(0xD1, 0x07, 0));
  EXPECT_EQ(Bytes(out.begin() + third, out.begin() + third + 5), Answer(0xD1, 0x07, 0));
  EXPECT_EQ(out.size(), 27 + total + 2 * 5);
}

}  // namespace
