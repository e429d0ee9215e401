// The program's core talking to the simulated hand controller: the start-up
// conversation, the descriptor table, the information items, button events
// and the Esc line, colours, notifications with their hold-offs, unplugging
// and a device that stops in the middle of a bulk transfer. Virtual time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "link/usb_device.h"
#include "protocol/command_channel.h"
#include "protocol/link_startup.h"
#include "services/buttons.h"
#include "services/device_info.h"
#include "services/display_frame.h"
#include "tests/sim/sim_fixture.h"

using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

const Bytes kModeRequest = {0xF8, 0x01, 0x01, 0xFF};
const Bytes kDescriptorRequest = {0xF8, 0x02, 0x0A, 0xFF};
constexpr uint8_t kPressDown = 0x25;
constexpr uint8_t kReleaseDown = 0x35;
constexpr uint8_t kPressEnter = 0x21;
constexpr uint8_t kReleaseEnter = 0x31;
constexpr uint8_t kPressEsc = 0x20;

class CoreAgainstSim : public SimTest {
 protected:
  // The first command of the run: wake-up, handshake, mode query.
  void Connect() {
    ASSERT_EQ(Exchange(kCmdInformation, {{kItemMode, {}}}), kResultOk);
    ForgetWrites();
    sim.platform.ForgetRecords();
  }
  // A key pressed and released on the PC, as two button events.
  void Key(uint8_t press) {
    ASSERT_EQ(Exchange(kCmdButtonEvent, {{press, {}}}), kResultOk);
    ASSERT_EQ(Exchange(kCmdButtonEvent, {{static_cast<uint8_t>(press | 0x10), {}}}), kResultOk);
  }
  size_t WritesAt(uint32_t baud) const {
    return static_cast<size_t>(std::count_if(
        Writes().begin(), Writes().end(), [&](const SimWireWrite& w) { return w.baud == baud; }));
  }
};

TEST_F(CoreAgainstSim, FirstCommandWakesTheDeviceAtSlowSpeedThenHandshakesAtFullSpeed) {
  ASSERT_EQ(Exchange(kCmdInformation, {{kItemMode, {}}}), kResultOk);

  const auto& w = Writes();
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[0].baud, 9600u);  // the wake-up byte, alone, slow
  EXPECT_EQ(w[0].bytes, Bytes{0x00});
  EXPECT_EQ(w[1].baud, 3000000u);  // mode request, fixed counter 1
  EXPECT_EQ(w[1].bytes, kModeRequest);
  EXPECT_EQ(w[2].baud, 3000000u);  // descriptor request, fixed counter 2
  EXPECT_EQ(w[2].bytes, kDescriptorRequest);
  EXPECT_EQ(w[3].bytes, kModeRequest);  // the command itself: its counter 1 too

  // The device answered the mode item: APP (parameter 1), versions 0x0103 / 0x0201.
  EXPECT_EQ(AnswerParam(kAnswerModeApp), (Bytes{0x03, 0x01, 0x01, 0x02}));
  EXPECT_EQ(theChannel.HandshakeVersion, 0x0103);
  EXPECT_TRUE(sim.controller.Awake());
  EXPECT_THAT(sim.platform.Sleeps(), Contains(550u));

  const SimPortConfig& c = sim.bridge.Config(sim.controllerBridge);
  EXPECT_EQ(c.baud, 3000000u);
  EXPECT_EQ(c.flow, kFtFlowRtsCts);
  EXPECT_EQ(c.readTimeoutMs, 1000u);
  EXPECT_EQ(c.writeTimeoutMs, 1000u);
  EXPECT_EQ(c.latencyMs, 2u);
  EXPECT_EQ(c.wordLength, 8u);
  EXPECT_EQ(c.stopBits, 0u);
  EXPECT_EQ(c.parity, 0u);
  EXPECT_EQ(c.bitMode, kFtBitModeCbus);  // all CBUS lines inputs
  EXPECT_EQ(c.bitMask, 0x00);
}

TEST_F(CoreAgainstSim, DescriptorTableIsTheDevicesOwn) {
  Connect();
  const DescriptorMap& table = theChannel.DescriptorTable;
  ASSERT_EQ(table.size(), 4u);
  EXPECT_EQ(table.at(kCmdButtonEvent).size(), 12u);  // six presses, six releases, no data
  EXPECT_EQ(table.at(kCmdButtonEvent).at(0x35), 0u);
  EXPECT_EQ(table.at(kCmdDisplayFrame), (ParamLengths{{1, 0}, {2, 0}}));
  EXPECT_EQ(table.at(kCmdInformation), (ParamLengths{{1, 0}, {10, 0}, {16, 0}, {17, 0}, {209, 0}}));
  EXPECT_EQ(table.at(253), (ParamLengths{{193, 2}, {194, 2}}));
}

TEST_F(CoreAgainstSim, DeviceInformationCarriesTheChosenValues) {
  HandControllerInfo& chosen = sim.controller.Options().info;
  chosen.protocolVersion1 = 0x0012;
  chosen.protocolVersion2 = 0x01A0;
  chosen.chipId = 0x0000001200345678ull;
  chosen.uniqueId = {'U', 0, 'I', 'D', '-', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 0};
  chosen.item17 = 0x5A;
  chosen.text.fill('t');

  DeviceInfo info;
  ASSERT_EQ(VK3cmd_GetDeviceInfo(&info), kResultOk);
  EXPECT_STREQ(info.bridgeSerial, kHandControllerSerial);
  EXPECT_STREQ(info.bridgeDescription, "Vesk-3 HandController");
  EXPECT_EQ(info.bootMode, 0);
  EXPECT_EQ(info.protocolVersion1, 0x0012);
  EXPECT_EQ(info.protocolVersion2, 0x01A0);
  EXPECT_EQ(info.chipId, 0x0000001200345678ull);
  EXPECT_STREQ(info.uniqueId, "U ID-123456789A ");  // zero bytes shown as blanks
  EXPECT_EQ(info.infoItem17, 0x5A);
  EXPECT_EQ(std::string(info.infoText), std::string(32, 't'));
}

TEST_F(CoreAgainstSim, BootModeDeviceAnswersWithParameter3AndIsAccepted) {
  sim.controller.Options().bootMode = BootMode::Boot;
  int32_t boot = 0;
  uint16_t v1 = 0;
  uint16_t v2 = 0;
  ASSERT_EQ(VK3cmd_GetMode(&boot, &v1, &v2), kResultOk);
  EXPECT_EQ(boot, 1);
  EXPECT_EQ(v1, 0x0103);
  EXPECT_EQ(theChannel.HandshakeVersion, 0x0103);
}

TEST_F(CoreAgainstSim, RefusalsComeBackAsTheirResultCodes) {
  Connect();
  theChannel.DescriptorTable.clear();  // the host no longer filters what it sends
  struct Case {
    const char* what;
    uint8_t command;
    std::initializer_list<SentParam> params;
    ResultCode expected;
  };
  const Case cases[] = {
      {"unknown command: counter 240", 99, {{kItemMode, {}}}, kResultInvalidCommand},
      {"unknown parameter: type 18", kCmdInformation, {{99, {}}}, kResultUnknownParameter},
      {"two items in one query: type 19",
       kCmdInformation,
       {{kItemMode, {}}, {kItemChipId, {}}},
       kResultTooManyParameters},
      {"colour index past the table: type 32", 253, {{193, {200, 0}}}, kResultCannotExecute},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Exchange(c.command, c.params), c.expected) << c.what;
  }
  // The device keeps answering properly after refusals.
  EXPECT_EQ(Exchange(kCmdInformation, {{kItem17, {}}}), kResultOk);
}

TEST_F(CoreAgainstSim, ButtonEventsDriveTheDeviceMenu) {
  Connect();
  Key(kPressDown);
  Key(kPressDown);
  EXPECT_EQ(sim.controller.Ui().MenuSelection(), 2);
  Key(kPressEnter);
  EXPECT_EQ(sim.controller.Ui().Page(), UiPage::Colours);
  Key(kPressEsc);
  EXPECT_EQ(sim.controller.Ui().Page(), UiPage::Menu);
  // A held key: presses repeat, one release.
  ASSERT_EQ(Exchange(kCmdButtonEvent, {{kPressDown, {}}}), kResultOk);
  ASSERT_EQ(Exchange(kCmdButtonEvent, {{kPressDown, {}}}), kResultOk);
  ASSERT_EQ(Exchange(kCmdButtonEvent, {{kReleaseDown, {}}}), kResultOk);
  EXPECT_EQ(sim.controller.Ui().MenuSelection(), 4);
}

TEST_F(CoreAgainstSim, PushEscPulsesCbus1WhichTheDeviceTakesAsItsEscKey) {
  Connect();
  Key(kPressEnter);
  ASSERT_EQ(sim.controller.Ui().Page(), UiPage::Status);

  ForgetWrites();
  EXPECT_EQ(PushEsc(), kResultOk);
  EXPECT_EQ(sim.controller.Ui().Page(), UiPage::Menu);
  EXPECT_THAT(sim.platform.Sleeps(), Contains(200u));
  EXPECT_EQ(sim.bridge.Config(sim.controllerBridge).bitMask, 0x20);  // CBUS1 output, driven low
  EXPECT_TRUE(Writes().empty());                                     // no protocol command went out
}

TEST_F(CoreAgainstSim, AWrittenColourEntryShowsOnTheMirroredScreen) {
  Connect();
  // Entry 1 (the title bar) := blue 0x10, green 0x20, red 0xF8.
  ASSERT_EQ(Exchange(253, {{194, {0x01, 0x00}}}, {0x10, 0x20, 0xF8, 0x00}), kResultOk);
  EXPECT_EQ(sim.controller.ColorEntry(1), (std::array<uint8_t, 4>{0x10, 0x20, 0xF8, 0x00}));

  // Read back: answer bytes 7..10 of an 11-byte answer.
  ASSERT_EQ(Exchange(253, {{193, {0x01, 0x00}}}), kResultOk);
  const uint8_t* answer = theChannel.answerFrame.bytes;
  EXPECT_EQ(theChannel.answerFrame.Length(), 11);
  EXPECT_THAT(Bytes(answer + 7, answer + 11), ElementsAre(0x10, 0x20, 0xF8, 0x00));

  ASSERT_EQ(VK3cmd_GetDisplayFrame(true), kResultOk);
  const uint16_t written = (0xF8 >> 3) << 11 | (0x20 >> 2) << 5 | (0x10 >> 3);
  EXPECT_EQ(FrameBuffer[0], written);  // top-left pixel: title bar
}

TEST_F(CoreAgainstSim, BusyInPlaceOfAnAnswerCostsABeepFourSecondsAndANewHandshake) {
  Connect();
  sim.bridge.NotifyNext(sim.controllerBridge, 0xAA);
  EXPECT_EQ(Exchange(kCmdInformation, {{kItem17, {}}}), kResultDeviceBusy);
  EXPECT_EQ(theChannel.HoldOffMs, 4000u);

  ForgetWrites();
  const uint64_t before = NowUs();
  ASSERT_EQ(Exchange(kCmdInformation, {{kItem17, {}}}), kResultOk);
  ASSERT_EQ(sim.platform.Beeps().size(), 1u);
  EXPECT_EQ(sim.platform.Beeps()[0].hz, 3000u);
  EXPECT_EQ(sim.platform.Beeps()[0].ms, 50u);
  EXPECT_THAT(sim.platform.Sleeps(), Contains(4000u));
  const uint64_t took = NowUs() - before;
  EXPECT_GE(took, 4050000u);
  EXPECT_LT(took, 4100000u);
  ASSERT_EQ(Writes().size(), 3u);
  EXPECT_EQ(Writes()[0].bytes, kModeRequest);
  EXPECT_EQ(Writes()[1].bytes, kDescriptorRequest);
  EXPECT_EQ(Writes()[2].bytes[0], kCmdInformation);
}

TEST_F(CoreAgainstSim, AnUnsolicitedSystemChangeEndsTheNextCommandUnsent) {
  Connect();
  sim.controller.SendNotification(0x51);
  EXPECT_EQ(Exchange(kCmdInformation, {{kItem17, {}}}), kResultSystemChange);
  EXPECT_TRUE(Writes().empty());
  EXPECT_TRUE(theUsbDevice.IsOpen());
  EXPECT_EQ(theChannel.HoldOffMs, 500u);

  ASSERT_EQ(Exchange(kCmdInformation, {{kItem17, {}}}), kResultOk);
  EXPECT_THAT(sim.platform.Sleeps(), Contains(500u));
  EXPECT_EQ(Writes().front().bytes, kModeRequest);  // handshake again
}

TEST_F(CoreAgainstSim, SwitchedOffFromItsMenuTheDeviceIsSilentUntilItsEscKeyIsPulsed) {
  Connect();
  for (int i = 0; i < 3; ++i) Key(kPressDown);  // Notifications
  Key(kPressEnter);
  Key(kPressDown);
  Key(kPressDown);  // "Switch off"
  ASSERT_EQ(Exchange(kCmdButtonEvent, {{kPressEnter, {}}}), kResultOk);
  EXPECT_TRUE(sim.controller.SwitchedOff());

  // The notification waits on the link: the next command ends with 13, unsent.
  ForgetWrites();
  EXPECT_EQ(Exchange(kCmdButtonEvent, {{kReleaseEnter, {}}}), kResultPoweredOff);
  EXPECT_FALSE(theUsbDevice.IsOpen());
  EXPECT_TRUE(Writes().empty());

  // Reopened, the handshake finds nobody answering.
  EXPECT_EQ(Exchange(kCmdInformation, {{kItemMode, {}}}), kResultHandshakeFailed);

  EXPECT_EQ(PushEsc(), kResultOk);
  EXPECT_FALSE(sim.controller.SwitchedOff());
  ASSERT_EQ(Exchange(kCmdInformation, {{kItemMode, {}}}), kResultOk);
  EXPECT_EQ(WritesAt(9600), 0u);  // no second wake-up
}

TEST_F(CoreAgainstSim, AnUnpluggedBridgeFailsTheExchangeAndComesBackWhenReplugged) {
  Connect();
  sim.bridge.Unplug(sim.controllerBridge);
  EXPECT_EQ(Exchange(kCmdInformation, {{kItem17, {}}}), kResultLinkFailure);
  EXPECT_EQ(theUsbDevice.Poll(), -1);  // only the other bridge is left
  EXPECT_FALSE(theUsbDevice.IsOpen());

  sim.bridge.Replug(sim.controllerBridge);
  EXPECT_EQ(theUsbDevice.Poll(), 1);
  ForgetWrites();
  ASSERT_EQ(Exchange(kCmdInformation, {{kItem17, {}}}), kResultOk);
  EXPECT_EQ(WritesAt(9600), 0u);
  EXPECT_EQ(Writes().front().bytes, kModeRequest);
}

TEST_F(CoreAgainstSim, ADeviceCutOffInTheMiddleOfASegmentedFrameLeavesItShort) {
  Connect();
  sim.bridge.CutOffAfter(sim.controllerBridge, 1000);
  const uint64_t before = NowUs();
  EXPECT_EQ(VK3cmd_GetDisplayFrame(true), kResultTooFewBytesReceived);
  EXPECT_GE(NowUs() - before, 1000000u);  // the segment read ran into its timeout
  EXPECT_LT(NowUs() - before, 1100000u);
}

}  // namespace
