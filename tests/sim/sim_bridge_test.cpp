// The simulated bridge as the link sees it: the bus it enumerates, the values
// it keeps, the time bytes and timeouts take, and the faults it injects.
#include "sim/sim_bridge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "link/usb_device.h"
#include "services/program_state.h"
#include "sim/sim_platform.h"
#include "tests/support/core_fixture.h"

namespace {

SimBridgeInfo HandControllerOn(HandController* device, const char* serial = "VK30A1B2") {
  SimBridgeInfo info;
  info.description = kHandControllerDescription;
  info.serial = serial;
  info.device = device;
  return info;
}

SimBridgeInfo Other(uint32_t id, const char* description) {
  SimBridgeInfo info;
  info.id = id;
  info.description = description;
  info.serial = "FT000001";
  return info;
}

class SimBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program.emplace(bridge, platform);
    theUsbDevice.DeviceKind = kDeviceKindHandController;
  }
  void TearDown() override { program.reset(); }

  // The hand controller as the only bridge, opened through the driver table.
  FtHandle OpenHandController() {
    bridge.AddBridge(HandControllerOn(&device));
    uint32_t count = 0;
    bridge.CreateDeviceInfoList(&count);
    FtHandle handle = nullptr;
    EXPECT_EQ(bridge.Open(0, &handle), kFtOk);
    return handle;
  }
  Bytes ReadBytes(FtHandle handle, uint32_t n) {
    Bytes got(n);
    uint32_t count = 0;
    EXPECT_EQ(bridge.Read(handle, got.data(), n, &count), kFtOk);
    got.resize(count);
    return got;
  }
  void WriteBytes(FtHandle handle, const Bytes& bytes) {
    uint32_t written = 0;
    ASSERT_EQ(bridge.Write(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), &written),
              kFtOk);
    ASSERT_EQ(written, bytes.size());
  }

  VirtualClock clock;
  SimBridge bridge{clock};
  SimPlatform platform{clock};
  HandController device;
  HandController secondDevice;
  std::optional<ProgramScope> program;
};

TEST_F(SimBridgeTest, TheLinkFindsTheHandControllerOnTheBus) {
  struct Case {
    const char* what;
    std::vector<SimBridgeInfo> bus;
    int unplug;  // bridge to unplug, or -1
    int32_t found;
  };
  const Case cases[] = {
      {"behind another FTDI bridge",
       {Other(kOtherBridgeId, "USB <-> Serial Converter"), HandControllerOn(&device)},
       -1,
       1},
      {"same id, another description first",
       {Other(kHandControllerBridgeId, "FT230X Basic UART"), HandControllerOn(&device)},
       -1,
       1},
      {"two hand controllers: the lower index",
       {HandControllerOn(&device, "A"), HandControllerOn(&secondDevice, "B")},
       -1,
       0},
      {"no bridges at all", {}, -1, -1},
      {"the hand controller unplugged",
       {Other(kOtherBridgeId, "USB <-> Serial Converter"), HandControllerOn(&device)},
       1,
       -1},
  };
  for (const Case& c : cases) {
    VirtualClock caseClock;
    SimBridge bus(caseClock);
    for (const SimBridgeInfo& info : c.bus) bus.AddBridge(info);
    if (c.unplug >= 0) bus.Unplug(static_cast<size_t>(c.unplug));
    UseDriver(bus);
    EXPECT_EQ(theUsbDevice.Poll(), c.found) << c.what;
    EndLink();
  }
}

TEST_F(SimBridgeTest, EveryConfigurationValueIsKept) {
  FtHandle h = OpenHandController();
  EXPECT_EQ(bridge.SetBaudRate(h, 115200), kFtOk);
  EXPECT_EQ(bridge.SetDataCharacteristics(h, 7, 2, 1), kFtOk);
  EXPECT_EQ(bridge.SetFlowControl(h, kFtFlowRtsCts, 0x11, 0x13), kFtOk);
  EXPECT_EQ(bridge.SetTimeouts(h, 250, 300), kFtOk);
  EXPECT_EQ(bridge.SetLatencyTimer(h, 2), kFtOk);
  EXPECT_EQ(bridge.SetBitMode(h, 0x22, kFtBitModeCbus), kFtOk);
  EXPECT_EQ(bridge.Purge(h, 3), kFtOk);
  EXPECT_EQ(bridge.SetBaudRate(h, 0), kFtInvalidBaudRate);

  const SimPortConfig& c = bridge.Config(0);
  EXPECT_EQ(c.baud, 115200u);
  EXPECT_EQ(c.wordLength, 7u);
  EXPECT_EQ(c.stopBits, 2u);
  EXPECT_EQ(c.parity, 1u);
  EXPECT_EQ(c.flow, kFtFlowRtsCts);
  EXPECT_EQ(c.xon, 0x11);
  EXPECT_EQ(c.xoff, 0x13);
  EXPECT_EQ(c.readTimeoutMs, 250u);
  EXPECT_EQ(c.writeTimeoutMs, 300u);
  EXPECT_EQ(c.latencyMs, 2u);
  EXPECT_EQ(c.bitMask, 0x22);
  EXPECT_EQ(c.purges, 1u);

  char serial[kFtSerialLength];
  char description[kFtDescriptionLength];
  ASSERT_EQ(bridge.GetDeviceInfo(h, nullptr, nullptr, serial, description, nullptr), kFtOk);
  EXPECT_STREQ(serial, "VK30A1B2");
  EXPECT_STREQ(description, "Vesk-3 HandController");
  FtDeviceListInfoNode node{};
  uint32_t count = 1;
  ASSERT_EQ(bridge.GetDeviceInfoList(&node, &count), kFtOk);
  EXPECT_EQ(node.Flags, kFtFlagOpened);
  EXPECT_EQ(node.ftHandle, h);
  FtHandle again = nullptr;
  EXPECT_EQ(bridge.Open(0, &again), kFtDeviceNotOpened);  // already open
}

TEST_F(SimBridgeTest, ReadsAndWritesHonourTheirTimeouts) {
  bridge.AddBridge(Other(kOtherBridgeId, "USB <-> Serial Converter"));  // nothing attached
  uint32_t count = 0;
  bridge.CreateDeviceInfoList(&count);
  FtHandle h = nullptr;
  ASSERT_EQ(bridge.Open(0, &h), kFtOk);
  ASSERT_EQ(bridge.SetTimeouts(h, 250, 300), kFtOk);

  EXPECT_TRUE(ReadBytes(h, 10).empty());
  EXPECT_EQ(clock.NowUs(), 250000u);

  bridge.TimeOutCall(FtCall::Write);
  uint32_t written = 99;
  const uint8_t byte = 0x42;
  EXPECT_EQ(bridge.Write(h, &byte, 1, &written), kFtOk);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(clock.NowUs(), 550000u);
}

TEST_F(SimBridgeTest, WithWireTimeBytesTakeTenBitsEachAtTheConfiguredRate) {
  bridge.SetWireTiming(true);
  FtHandle h = OpenHandController();
  ASSERT_EQ(bridge.SetTimeouts(h, 1000, 1000), kFtOk);

  // One wake-up byte at 9600 baud takes 1.04 ms to leave the transmit queue.
  WriteBytes(h, {0x00});
  uint32_t rx = 0, tx = 0, events = 0;
  clock.AdvanceUs(1000);
  ASSERT_EQ(bridge.GetStatus(h, &rx, &tx, &events), kFtOk);
  EXPECT_EQ(tx, 1u);
  clock.AdvanceUs(100);
  ASSERT_EQ(bridge.GetStatus(h, &rx, &tx, &events), kFtOk);
  EXPECT_EQ(tx, 0u);
  EXPECT_TRUE(device.Awake());

  // At 3,000,000 baud: 4 bytes out, 11 back, 3.33 us each; the Read returns
  // the moment the eleventh byte has arrived.
  ASSERT_EQ(bridge.SetBaudRate(h, 3000000), kFtOk);
  const uint64_t start = clock.NowUs();
  WriteBytes(h, kModeRequest);
  EXPECT_EQ(ReadBytes(h, 11).size(), 11u);
  EXPECT_NEAR(static_cast<double>(clock.NowUs() - start), 50.0, 1.0);

  // Asking for more than comes: what arrived, at the read timeout.
  WriteBytes(h, kModeRequest);
  EXPECT_EQ(ReadBytes(h, 100).size(), 11u);
  EXPECT_NEAR(static_cast<double>(clock.NowUs() - start), 1000050.0, 2.0);
}

TEST_F(SimBridgeTest, InjectedFaultsStrikeTheChosenCallOnce) {
  bridge.AddBridge(HandControllerOn(&device));
  ASSERT_EQ(theUsbDevice.Open(), 0);
  ASSERT_EQ(theUsbDevice.SetTimeouts(), 0);
  bridge.FailCall(FtCall::SetBaudRate, 7, 1);
  EXPECT_EQ(theUsbDevice.SetBaudRate(9600), 0);  // the first one passes
  EXPECT_EQ(theUsbDevice.SetBaudRate(9600), 1);
  EXPECT_STREQ(theUsbDevice.errorText, "FT_SetBaudRate failed (code 7 ($7))");
  EXPECT_EQ(theUsbDevice.SetBaudRate(9600), 0);

  // A short write is continued by the link: the device still gets the whole frame.
  theUsbDevice.Write("\0", 1);
  theUsbDevice.SetBaudRate(3000000);
  bridge.ForgetHostWrites(0);
  bridge.ShortenCall(FtCall::Write, 2);
  EXPECT_EQ(theUsbDevice.Write(kModeRequest.data(), 4), 4);
  ASSERT_EQ(bridge.HostWrites(0).size(), 2u);
  EXPECT_EQ(bridge.HostWrites(0)[0].bytes, (Bytes{0xF8, 0x01}));
  EXPECT_EQ(device.ReceivedCommands().back().command, 0xF8);

  bridge.TimeOutCall(FtCall::Read);
  uint8_t answer[11];
  EXPECT_EQ(theUsbDevice.Read(answer, 11), 0);
  EXPECT_STREQ(theUsbDevice.errorText, "FT_Read timed out (code 0 ($0))");
  EXPECT_EQ(theUsbDevice.Read(answer, 11), 11);  // the answer was there all along
}

TEST_F(SimBridgeTest, UnpluggedWhileOpenEveryCallFailsUntilReopenedAfterReplug) {
  FtHandle h = OpenHandController();
  bridge.SetBaudRate(h, 3000000);
  bridge.Unplug(0);
  uint32_t rx = 0;
  EXPECT_EQ(bridge.GetQueueStatus(h, &rx), kFtIoError);
  EXPECT_EQ(bridge.Close(h), kFtOk);
  uint32_t count = 9;
  ASSERT_EQ(bridge.CreateDeviceInfoList(&count), kFtOk);
  EXPECT_EQ(count, 0u);

  bridge.Replug(0);
  ASSERT_EQ(bridge.CreateDeviceInfoList(&count), kFtOk);
  ASSERT_EQ(count, 1u);
  FtHandle again = nullptr;
  ASSERT_EQ(bridge.Open(0, &again), kFtOk);
  EXPECT_EQ(bridge.Config(0).baud, kBridgeDefaultBaud);  // a fresh chip
}

TEST_F(SimBridgeTest, DeviceCutOffByUnplugInTheMiddleOfAnAnswer) {
  FtHandle h = OpenHandController();
  WriteBytes(h, {0x00});
  bridge.SetBaudRate(h, 3000000);
  bridge.CutOffAfter(0, 5, CutOffKind::Unplug);
  WriteBytes(h, kModeRequest);
  uint8_t answer[11];
  uint32_t got = 0;
  EXPECT_EQ(bridge.Read(h, answer, 11, &got), kFtIoError);
  EXPECT_FALSE(bridge.Plugged(0));
}

TEST_F(SimBridgeTest, CbusPinsReadAsTheyIdleAndDriveTheEscKey) {
  SimBridgeInfo info = HandControllerOn(&device);
  info.idlePins = 0xF5;
  bridge.AddBridge(info);
  ASSERT_EQ(theUsbDevice.Open(), 0);
  EXPECT_EQ(theUsbDevice.bitLevels, 0xF5u);

  device.PressKey(UiKey::Enter);  // into the status page
  ASSERT_EQ(theUsbDevice.SetBitOutput(2), 0);
  EXPECT_EQ(bridge.Config(0).bitMask, 0x27);
  EXPECT_EQ(device.Ui().Page(), UiPage::Menu);  // CBUS1 high: Esc
  uint8_t pins = 0;
  ASSERT_EQ(bridge.GetBitMode(theUsbDevice.handle, &pins), kFtOk);
  EXPECT_EQ(pins, 0xF7);
}

}  // namespace
