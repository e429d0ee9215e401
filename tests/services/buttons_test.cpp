#include "services/buttons.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/usb_device.h"
#include "tests/services/service_fixture.h"

namespace {

constexpr uint8_t kButton = 0xAE;  // command 174

TEST(ButtonKeys, VirtualKeysMapToDeviceKeysAndParameterIds) {
  struct Row {
    uint32_t virtualKey;
    int key;
    uint8_t pressId;
    uint8_t releaseId;
  };
  const Row table[] = {
      {0x1B, kKeyEsc, 0x20, 0x30},   {0x0D, kKeyEnter, 0x21, 0x31}, {0x25, kKeyLeft, 0x22, 0x32},
      {0x27, kKeyRight, 0x23, 0x33}, {0x26, kKeyUp, 0x24, 0x34},    {0x28, kKeyDown, 0x25, 0x35},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.virtualKey);
    EXPECT_EQ(DeviceKeyForVirtualKey(row.virtualKey), row.key);
    EXPECT_EQ(ButtonParamId(row.key), row.pressId);
    EXPECT_EQ(ButtonParamId(row.key + kButtonRelease), row.releaseId);
  }
  for (uint32_t other : {0x00u, 0x09u, 0x20u, 0x24u, 0x29u, 0x41u, 0x11Bu}) {
    EXPECT_EQ(DeviceKeyForVirtualKey(other), -1) << other;
  }
}

using ButtonEvents = ServiceTest;

TEST_F(ButtonEvents, EnterPressAndReleaseAreTwoCommands) {
  Exchange({kButton, 0x01, 0x21, 0xFF}, Answer(kButton, 0x01, 0));  // press
  Exchange({kButton, 0x02, 0x31, 0xFF}, Answer(kButton, 0x02, 0));  // release

  EXPECT_EQ(VK3cmd_InsertButtonEvent(panel, kKeyEnter), 0);
  EXPECT_EQ(VK3cmd_InsertButtonEvent(panel, kKeyEnter + kButtonRelease), 0);

  EXPECT_TRUE(panel.ShowedNothing());
  EXPECT_EQ(panel.state, Connected);
}

TEST_F(ButtonEvents, NotConnectedSendsNothing) {
  for (PanelState state : {NoDevice, DeviceAvailable}) {
    panel.state = state;
    EXPECT_EQ(VK3cmd_InsertButtonEvent(panel, kKeyUp), -1);
  }
  EXPECT_TRUE(driver.WrittenBytes().empty());
  EXPECT_TRUE(panel.ShowedNothing());
}

struct EventResultCase {
  std::string name;
  Bytes reply;
  int32_t returned;
  std::vector<ResultCode> notifications;
  std::vector<ResultCode> commandErrors;
};

class ButtonEventResult : public ServiceTest,
                          public ::testing::WithParamInterface<EventResultCase> {};

TEST_P(ButtonEventResult, IsSortedIntoDeliveredNotificationOrError) {
  const EventResultCase& c = GetParam();
  Exchange({kButton, 0x01, 0x24, 0xFF}, c.reply);  // Up pressed

  EXPECT_EQ(VK3cmd_InsertButtonEvent(panel, kKeyUp), c.returned);

  EXPECT_EQ(panel.notifications, c.notifications);
  std::vector<ResultCode> errors;
  for (const auto& [label, code] : panel.commandErrors) {
    EXPECT_EQ(label, "VK3cmd_InsertButtonEvent()");
    errors.push_back(code);
  }
  EXPECT_EQ(errors, c.commandErrors);
  EXPECT_EQ(panel.state, c.returned == 0 ? Connected : NoDevice);
}

INSTANTIATE_TEST_SUITE_P(
    Results, ButtonEventResult,
    ::testing::Values(
        EventResultCase{"Delivered", Answer(kButton, 0x01, 0), 0, {}, {}},
        EventResultCase{"BusyCountsAsDelivered", Notification(0xB7), 0, {}, {}},
        EventResultCase{"PoweredOff", Notification(0x36), 1, {kResultPoweredOff}, {}},
        EventResultCase{"SystemChange", Notification(0x01), 1, {kResultSystemChange}, {}},
        // answer type 17: the device saw a counter mismatch
        EventResultCase{"DeviceRefused", Answer(kButton, 0x01, 17), 1, {}, {50}},
        EventResultCase{"WrongCounter", Answer(kButton, 0x09, 0), 1, {}, {kResultWrongCounter}},
        EventResultCase{"NoAnswer", {}, 1, {}, {kResultLinkFailure}}),
    [](const auto& info) { return info.param.name; });

// --- the Esc line -----------------------------------------------------------

using EscLine = CoreTest;

TEST_F(EscLine, ClosedLinkIsOpenedPulsedAndLeftOpen) {
  std::vector<int> bitModesAtSleep;
  platform.onSleep = [&](uint32_t) { bitModesAtSleep.push_back(driver.CountOf("SetBitMode")); };

  EXPECT_EQ(PushEsc(), 0);

  // CBUS1 an output, driven high (0x22), 200 ms, then low (0x20).
  std::vector<uint64_t> masks;
  for (const FakeCall& call : driver.CallsOf("SetBitMode")) {
    EXPECT_EQ(call.args.at(1), 0x20u);
    masks.push_back(call.args.at(0));
  }
  EXPECT_EQ(masks, (std::vector<uint64_t>{0x22, 0x20}));
  EXPECT_EQ(platform.sleeps, std::vector<uint32_t>{200});
  EXPECT_EQ(bitModesAtSleep, std::vector<int>{1});
  // Nothing configured, no protocol command.
  EXPECT_TRUE(driver.WrittenBytes().empty());
  EXPECT_EQ(driver.CountOf("SetBaudRate"), 0);
  EXPECT_TRUE(theUsbDevice.IsOpen());
}

TEST_F(EscLine, OpenLinkIsNotReopened) {
  StartLink();

  EXPECT_EQ(PushEsc(), 0);

  EXPECT_EQ(driver.CountOf("Open"), 0);
  EXPECT_EQ(driver.CountOf("SetBitMode"), 2);
  EXPECT_TRUE(driver.WrittenBytes().empty());
}

TEST_F(EscLine, NoDeviceEndsAtOpenWithoutTouchingTheLine) {
  driver.bridges.clear();

  EXPECT_EQ(PushEsc(), kResultCannotOpen);

  EXPECT_EQ(driver.CountOf("SetBitMode"), 0);
  EXPECT_TRUE(platform.sleeps.empty());
}

TEST_F(EscLine, FailingLineDriveEndsTheAction) {
  driver.FailCall("SetBitMode", kFtIoError);

  EXPECT_NE(PushEsc(), 0);

  EXPECT_EQ(driver.CountOf("SetBitMode"), 1);
  EXPECT_TRUE(platform.sleeps.empty());
}

}  // namespace
