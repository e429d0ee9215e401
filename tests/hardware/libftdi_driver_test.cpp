// The libftdi1 backend against emulated FT230X bridges: the real libftdi1 and
// libusb under umockdev, the chip and device in the emulator process. Each
// case adds the bridges it needs and waits for what it can observe.
#include "drivers/libftdi_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "link/usb_device.h"
#include "platform/platform.h"
#include "protocol/command_channel.h"
#include "protocol/link_startup.h"
#include "services/device_info.h"
#include "services/program_state.h"
#include "sim/hand_controller.h"
#include "tests/hardware/emulator_control.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kHotplugWait = 10s;
constexpr uint32_t kShortTimeoutMs = 200;

class LibFtdiDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!control.connected()) {
      GTEST_SKIP() << "needs the emulated bridges (vesk3_ft230x_emulator)";
    }
  }

  void TearDown() override {
    for (int b : added) control.Unplug(b);
  }

  int Add(const std::string& model, unsigned vendor, unsigned product, const std::string& serial,
          const std::string& description, bool sysfsStrings = true) {
    int b = control.AddBridge(model, vendor, product, serial, description, sysfsStrings);
    if (b >= 0) added.push_back(b);
    return b;
  }

  // Enumerates until the driver lists `n` bridges; the nodes as listed.
  std::vector<FtDeviceListInfoNode> WaitForBridges(uint32_t n, LibFtdiDriver& d) {
    auto deadline = Clock::now() + kHotplugWait;
    for (;;) {
      uint32_t count = 0;
      EXPECT_EQ(d.CreateDeviceInfoList(&count), kFtOk);
      if (count == n || Clock::now() > deadline) {
        std::vector<FtDeviceListInfoNode> nodes(count);
        if (count > 0) {
          EXPECT_EQ(d.GetDeviceInfoList(nodes.data(), &count), kFtOk);
        }
        nodes.resize(count);
        return nodes;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  std::vector<FtDeviceListInfoNode> WaitForBridges(uint32_t n) { return WaitForBridges(n, driver); }

  // Adds the hand controller's bridge and opens it; its handle.
  FtHandle OpenHandController(const std::string& model = "echo") {
    bridge = Add(model, 0x0403, 0x6015, "VK3A0001", "Vesk-3 HandController");
    EXPECT_GE(bridge, 0);
    EXPECT_EQ(WaitForBridges(1).size(), 1u);
    FtHandle h = nullptr;
    EXPECT_EQ(driver.Open(0, &h), kFtOk);
    EXPECT_EQ(driver.SetTimeouts(h, kShortTimeoutMs, kShortTimeoutMs), kFtOk);
    Command("clear");
    return h;
  }

  // A command about this case's bridge: verb, bridge number, further words.
  std::string Command(const std::string& verb, const std::string& words = "") {
    return control.Command(verb + " " + std::to_string(bridge) + (words.empty() ? "" : " ") +
                           words);
  }

  // Reads the queue until `n` bytes are waiting (the echo takes a moment).
  uint32_t WaitForQueue(FtHandle h, uint32_t n) {
    auto deadline = Clock::now() + 2s;
    uint32_t rx = 0;
    while (Clock::now() < deadline) {
      EXPECT_EQ(driver.GetQueueStatus(h, &rx), kFtOk);
      if (rx >= n) break;
    }
    return rx;
  }

  EmulatorControl control;
  LibFtdiDriver driver;
  int bridge = -1;
  std::vector<int> added;
};

TEST_F(LibFtdiDriverTest, EnumerationListsEveryFtdiBridgeAndOpensNoneOfThem) {
  // Three FTDI bridges and one device of another maker; one bridge has no
  // sysfs strings, so its strings come from its descriptors.
  int hc = Add("vesk3", 0x0403, 0x6015, "VK3A0001", "Vesk-3 HandController");
  int plain = Add("echo", 0x0403, 0x6001, "FT4711", "USB <-> Serial Converter");
  int other = Add("echo", 0x1a86, 0x7523, "CH0001", "USB Serial");
  int bare = Add("echo", 0x0403, 0x6015, "VK3B0002", "Vesk-3 HandController",
                 /*sysfsStrings=*/false);
  ASSERT_TRUE(hc >= 0 && plain >= 0 && other >= 0 && bare >= 0);

  std::vector<FtDeviceListInfoNode> nodes = WaitForBridges(3);
  ASSERT_EQ(nodes.size(), 3u);
  struct Expected {
    uint32_t id;
    std::string description, serial;
  };
  std::vector<Expected> expected = {{0x04036015, "Vesk-3 HandController", "VK3A0001"},
                                    {0x04036001, "USB <-> Serial Converter", "FT4711"},
                                    {0x04036015, "Vesk-3 HandController", "VK3B0002"}};
  for (const Expected& e : expected) {
    auto it = std::find_if(nodes.begin(), nodes.end(), [&](const FtDeviceListInfoNode& n) {
      return n.SerialNumber == e.serial;
    });
    ASSERT_NE(it, nodes.end()) << e.serial;
    EXPECT_EQ(it->ID, e.id) << e.serial;
    EXPECT_STREQ(it->Description, e.description.c_str()) << e.serial;
    EXPECT_EQ(it->Type, kFtDeviceXSeries);
  }

  // Four polls a second must not open bridges: only the one without sysfs
  // strings was asked, and only once.
  for (int i = 0; i < 4; ++i) WaitForBridges(3);
  EXPECT_EQ(driver.stringDescriptorReads(), 1);
  EXPECT_EQ(control.State(hc)["openings"], "0");
  EXPECT_EQ(control.State(plain)["openings"], "0");
  EXPECT_EQ(control.State(bare)["openings"], "1");
}

TEST_F(LibFtdiDriverTest, StartUpConfigurationSendsTheChipRequestsOneForOne) {
  FtHandle h = OpenHandController();
  // The link's start-up order, each call with the vendor request it must send
  // (request:wValue:wIndex as the chip received it; wIndex 1 names port A,
  // except in the baud rate request, where it carries the divisor's top bit).
  struct Step {
    const char* call;
    FtStatus (*run)(LibFtdiDriver&, FtHandle);
    std::string requests;
  };
  const Step steps[] = {
      // Purge 1 empties what the host receives: the chip's buffer toward the host (2).
      {"Purge rx", [](LibFtdiDriver& d, FtHandle h) { return d.Purge(h, kFtPurgeRx); },
       " 00:0002:0001"},
      {"Purge tx", [](LibFtdiDriver& d, FtHandle h) { return d.Purge(h, kFtPurgeTx); },
       " 00:0001:0001"},
      {"SetLatencyTimer 2", [](LibFtdiDriver& d, FtHandle h) { return d.SetLatencyTimer(h, 2); },
       " 09:0002:0001"},
      {"SetBitMode inputs",
       [](LibFtdiDriver& d, FtHandle h) { return d.SetBitMode(h, 0x00, kFtBitModeCbus); },
       " 0b:2000:0001"},
      {"SetFlowControl RTS/CTS",
       [](LibFtdiDriver& d, FtHandle h) { return d.SetFlowControl(h, kFtFlowRtsCts, 0, 0); },
       " 02:0000:0101"},
      {"SetDataCharacteristics 8N1",
       [](LibFtdiDriver& d, FtHandle h) {
         return d.SetDataCharacteristics(h, kFtBits8, kFtStopBits1, kFtParityNone);
       },
       " 04:0008:0001"},
      // After a bit mode, 9600 must still be 9600 (divisor 312.5), not 38400.
      {"SetBaudRate 9600", [](LibFtdiDriver& d, FtHandle h) { return d.SetBaudRate(h, 9600); },
       " 03:4138:0000"},
      {"SetBaudRate 3000000",
       [](LibFtdiDriver& d, FtHandle h) { return d.SetBaudRate(h, 3000000); }, " 03:0000:0000"},
  };
  for (const Step& s : steps) {
    Command("clear");
    EXPECT_EQ(s.run(driver, h), kFtOk) << s.call;
    EXPECT_EQ(Command("requests"), "ok" + s.requests) << s.call;
  }
  std::map<std::string, std::string> state = control.State(bridge);
  EXPECT_EQ(state["baud"], "3000000");
  EXPECT_EQ(state["latency"], "2");
  EXPECT_EQ(state["flow"], "0x0100");
  EXPECT_EQ(state["data"], "0x0008");

  Command("clear");
  EXPECT_EQ(driver.Purge(h, kFtPurgeRx | kFtPurgeTx), kFtOk);
  std::string both = Command("requests");
  EXPECT_NE(both.find("00:0001:0001"), std::string::npos) << both;
  EXPECT_NE(both.find("00:0002:0001"), std::string::npos) << both;
  EXPECT_EQ(driver.Close(h), kFtOk);
}

TEST_F(LibFtdiDriverTest, RefusedArgumentsGetTheirOwnStatus) {
  FtHandle h = OpenHandController();
  EXPECT_EQ(driver.Purge(h, 0), kFtInvalidParameter);
  EXPECT_EQ(driver.Purge(h, 4), kFtInvalidParameter);
  EXPECT_EQ(driver.SetFlowControl(h, 0x0800, 0, 0), kFtInvalidParameter);
  EXPECT_EQ(driver.SetDataCharacteristics(h, 9, 0, 0), kFtInvalidParameter);
  EXPECT_EQ(driver.SetLatencyTimer(h, 0), kFtInvalidParameter);
  EXPECT_EQ(driver.SetBaudRate(h, 0), kFtInvalidBaudRate);
  EXPECT_EQ(driver.SetBaudRate(h, 50), kFtInvalidBaudRate);  // below the slowest divisor
  EXPECT_EQ(Command("requests"), "ok");                      // none of them reached the chip

  uint8_t pins = 0;
  uint32_t n = 0;
  FtHandle stranger = &n;
  EXPECT_EQ(driver.GetBitMode(stranger, &pins), kFtInvalidHandle);
  EXPECT_EQ(driver.Read(stranger, &pins, 1, &n), kFtInvalidHandle);
  EXPECT_EQ(driver.Close(stranger), kFtInvalidHandle);
  FtHandle other = nullptr;
  EXPECT_EQ(driver.Open(1, &other), kFtDeviceNotFound);  // the last enumeration had one bridge
  EXPECT_EQ(driver.Open(-1, &other), kFtDeviceNotFound);
}

TEST_F(LibFtdiDriverTest, BytesGoOutAndComeBackThroughThePacketsStatusBytes) {
  FtHandle h = OpenHandController();
  // 40000 bytes: many 64-byte IN packets, each with its two status bytes to strip.
  std::vector<uint8_t> out(40000);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 7 + i / 256);
  ASSERT_EQ(driver.SetTimeouts(h, 2000, 2000), kFtOk);
  uint32_t written = 0;
  ASSERT_EQ(driver.Write(h, out.data(), static_cast<uint32_t>(out.size()), &written), kFtOk);
  EXPECT_EQ(written, out.size());
  std::vector<uint8_t> in(out.size());
  uint32_t got = 0;
  ASSERT_EQ(driver.Read(h, in.data(), static_cast<uint32_t>(in.size()), &got), kFtOk);
  ASSERT_EQ(got, out.size());
  EXPECT_EQ(in, out);
}

TEST_F(LibFtdiDriverTest, ReadGathersUntilTheTimeoutAndReportsAShortCount) {
  FtHandle h = OpenHandController();
  uint8_t buffer[11] = {};
  uint32_t got = 99;
  // Nothing arrives: status 0, nothing delivered, after the read timeout.
  auto start = Clock::now();
  ASSERT_EQ(driver.Read(h, buffer, sizeof buffer, &got), kFtOk);
  EXPECT_EQ(got, 0u);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kShortTimeoutMs));

  // Five of eleven arrive: the five, after the timeout.
  ASSERT_EQ(Command("device", "inject 0102030405"), "ok");
  ASSERT_EQ(driver.Read(h, buffer, sizeof buffer, &got), kFtOk);
  ASSERT_EQ(got, 5u);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[4], 5);
}

TEST_F(LibFtdiDriverTest, QueueStatusCountsWhatArrivedAndPurgeDropsIt) {
  FtHandle h = OpenHandController();
  const uint8_t frame[] = {0xF8, 0x01, 0x01, 0xFF, 0x10, 0x20, 0x30};
  uint32_t written = 0, rx = 0, tx = 9, events = 9;
  ASSERT_EQ(driver.Write(h, frame, sizeof frame, &written), kFtOk);
  ASSERT_EQ(written, sizeof frame);
  EXPECT_EQ(WaitForQueue(h, sizeof frame), sizeof frame);
  ASSERT_EQ(driver.GetStatus(h, &rx, &tx, &events), kFtOk);
  EXPECT_EQ(rx, sizeof frame);
  EXPECT_EQ(tx, 0u);  // writes are synchronous: nothing waits to go out

  // What the queue query gathered comes out of Read first, in order.
  uint8_t two[2];
  uint32_t got = 0;
  ASSERT_EQ(driver.Read(h, two, 2, &got), kFtOk);
  ASSERT_EQ(got, 2u);
  EXPECT_EQ(two[0], 0xF8);
  EXPECT_EQ(two[1], 0x01);

  ASSERT_EQ(driver.Purge(h, kFtPurgeRx), kFtOk);
  ASSERT_EQ(driver.GetQueueStatus(h, &rx), kFtOk);
  EXPECT_EQ(rx, 0u);
}

TEST_F(LibFtdiDriverTest, WriteReportsWhatTheChipTookWithinTheTimeout) {
  FtHandle h = OpenHandController();
  ASSERT_EQ(Command("hold", "1"), "ok");  // the chip takes nothing, as with CTS held
  const uint8_t bytes[10] = {};
  uint32_t written = 99;
  auto start = Clock::now();
  ASSERT_EQ(driver.Write(h, bytes, sizeof bytes, &written), kFtOk);
  EXPECT_EQ(written, 0u);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kShortTimeoutMs));

  ASSERT_EQ(Command("hold", "0"), "ok");
  ASSERT_EQ(driver.Write(h, bytes, sizeof bytes, &written), kFtOk);
  EXPECT_EQ(written, sizeof bytes);
}

TEST_F(LibFtdiDriverTest, CbusMasksReachThePinsAndTheDevice) {
  FtHandle h = OpenHandController();
  struct Case {
    uint8_t mask;
    uint8_t pins;    // what GetBitMode reads back: inputs read high
    int drivenHigh;  // what the device sees on its CBUS lines
  };
  const Case cases[] = {
      {0x22, 0xFF, 0x02},  // CBUS1 an output, high: the Esc key pressed
      {0x20, 0xFD, 0x00},  // CBUS1 an output, low
      {0x27, 0xFF, 0x02},  // levels of input lines are not driven
      {0x00, 0xFF, 0x00},  // all inputs
  };
  for (const Case& c : cases) {
    ASSERT_EQ(driver.SetBitMode(h, c.mask, kFtBitModeCbus), kFtOk);
    uint8_t pins = 0;
    ASSERT_EQ(driver.GetBitMode(h, &pins), kFtOk);
    EXPECT_EQ(pins, c.pins) << int(c.mask);
    EXPECT_EQ(Command("device", "cbus"), "ok " + std::to_string(c.drivenHigh)) << int(c.mask);
  }
  // The baud rate stays as asked after CBUS bit-bang.
  ASSERT_EQ(driver.SetBaudRate(h, 9600), kFtOk);
  EXPECT_EQ(control.State(bridge)["baud"], "9600");
}

TEST_F(LibFtdiDriverTest, DeviceInfoNamesTheOpenBridge) {
  FtHandle h = OpenHandController();
  char serial[kFtSerialLength];
  char description[kFtDescriptionLength];
  uint32_t type = 0, id = 0;
  ASSERT_EQ(driver.GetDeviceInfo(h, &type, &id, serial, description, nullptr), kFtOk);
  EXPECT_STREQ(serial, "VK3A0001");
  EXPECT_STREQ(description, "Vesk-3 HandController");
  EXPECT_EQ(id, 0x04036015u);
}

TEST_F(LibFtdiDriverTest, ABridgeAnotherProgramHoldsIsNotTaken) {
  FtHandle h = OpenHandController();
  LibFtdiDriver second;  // another program on the same machine
  ASSERT_EQ(WaitForBridges(1, second).size(), 1u);
  FtHandle h2 = nullptr;
  EXPECT_EQ(second.Open(0, &h2), kFtDeviceNotOpened);
  // The holder goes on undisturbed.
  const uint8_t byte = 0x5A;
  uint32_t n = 0;
  ASSERT_EQ(driver.Write(h, &byte, 1, &n), kFtOk);
  uint8_t back = 0;
  ASSERT_EQ(driver.Read(h, &back, 1, &n), kFtOk);
  EXPECT_EQ(back, 0x5A);
}

TEST_F(LibFtdiDriverTest, UnpluggedBridgeFailsTransfersClosesAndIsFoundAgain) {
  FtHandle h = OpenHandController();
  ASSERT_TRUE(control.Unplug(bridge));
  uint8_t buffer[4] = {1, 2, 3, 4};
  uint32_t n = 0;
  EXPECT_EQ(driver.Write(h, buffer, sizeof buffer, &n), kFtIoError);
  EXPECT_EQ(driver.Read(h, buffer, sizeof buffer, &n), kFtIoError);
  EXPECT_EQ(driver.SetBaudRate(h, 9600), kFtIoError);
  EXPECT_EQ(driver.Close(h), kFtOk);  // the handle is let go even though the bridge is gone
  EXPECT_EQ(WaitForBridges(0).size(), 0u);

  ASSERT_TRUE(control.Plug(bridge));
  ASSERT_EQ(WaitForBridges(1).size(), 1u);
  ASSERT_EQ(driver.Open(0, &h), kFtOk);
  ASSERT_EQ(driver.Write(h, buffer, sizeof buffer, &n), kFtOk);
  EXPECT_EQ(n, sizeof buffer);
  EXPECT_EQ(driver.Close(h), kFtOk);
}

// The whole link over the real backend: the first command wakes the hand
// controller at 9600 baud, handshakes at 3,000,000 and asks for its information.
TEST_F(LibFtdiDriverTest, TheLinkWakesTheHandControllerAndQueriesIt) {
  bridge = Add("vesk3", 0x0403, 0x6015, "VK3A0001", "Vesk-3 HandController");
  ASSERT_GE(bridge, 0);
  ASSERT_EQ(WaitForBridges(1).size(), 1u);
  RealPlatform platform;
  ProgramScope program(driver, platform);
  VK3cmd_Init();

  DeviceInfo info;
  EXPECT_EQ(VK3cmd_GetDeviceInfo(&info), 0) << "link: " << theUsbDevice.errorText;
  EXPECT_STREQ(info.bridgeSerial, "VK3A0001");
  EXPECT_STREQ(info.bridgeDescription, "Vesk-3 HandController");
  EXPECT_EQ(info.protocolVersion1, HandControllerInfo{}.protocolVersion1);

  std::string heard = Command("heard");
  EXPECT_EQ(heard.rfind("ok 9600:00 3000000:f80101fff8020aff", 0), 0u) << heard;
  EXPECT_EQ(Command("device", "awake"), "ok 1");
}

}  // namespace
