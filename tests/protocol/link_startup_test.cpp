// Link start-up and sending: what goes on the wire before and with a command —
// the wake-up, configuration, handshake and descriptor download, the drain,
// the hold-off after a notification, and the steady state.
#include "protocol/link_startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/usb_device.h"
#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"
#include "protocol/command_frame.h"
#include "services/buttons.h"
#include "tests/support/core_fixture.h"

namespace {

// Command 248 with parameter 16 (a version query): F8 <counter> 10 FF on the wire.
constexpr uint8_t kQuery = 248;
constexpr uint8_t kQueryItem = 16;

class StartUpTest : public CoreTest {
 protected:
  ResultCode SendQuery() {
    VK3cmd_Begin(kQuery);
    VK3cmd_AddParam(kQueryItem, nullptr, 0);
    return VK3cmd_Send();
  }
  Bytes QueryFrame(uint8_t counter) const { return {kQuery, counter, kQueryItem, 0xFF}; }
  std::vector<Bytes> Writes() const {
    std::vector<Bytes> out;
    for (const FakeWrite& w : driver.writes) out.push_back(w.bytes);
    return out;
  }
  // The calls that configure the bridge, in order, without the queue queries.
  std::vector<std::string> ConfigurationCalls() const {
    std::vector<std::string> out;
    for (const FakeCall& c : driver.calls) {
      if (c.name == "GetQueueStatus" || c.name == "GetStatus" || c.name == "Write" ||
          c.name == "Read")
        continue;
      out.push_back(c.name + Args(c.args));
    }
    return out;
  }
  // The sleeps of a start-up: `before`, then the 1 ms polls of a quiet line
  // ahead of the handshake.
  static std::vector<uint32_t> ThenQuietLine(std::vector<uint32_t> before) {
    before.insert(before.end(), kQuietLineMs, 1);
    return before;
  }
  // Every call that sets the bridge up came before the first byte written.
  bool ConfiguredBeforeFirstWrite() const {
    std::vector<std::string> before;
    for (const FakeCall& c : driver.calls) {
      if (c.name == "Write") break;
      before.push_back(c.name);
    }
    for (const char* step : {"SetLatencyTimer", "SetTimeouts", "SetBitMode", "SetFlowControl",
                             "SetDataCharacteristics", "SetBaudRate"}) {
      if (std::find(before.begin(), before.end(), step) == before.end()) return false;
    }
    return true;
  }
  // The rate in force for every byte: the wake-up byte (when it is sent) at
  // 9600, the handshake and the command at 3,000,000, nothing else.
  void ExpectEveryByteAtItsRate(bool wakeUp, uint8_t counter) const {
    EXPECT_EQ(driver.WrittenAtBaud(kWakeUpBaud), wakeUp ? kWakeUpByte : Bytes{});
    EXPECT_EQ(driver.WrittenAtBaud(kWorkBaud),
              Cat({kModeRequest, kDescriptorRequest, QueryFrame(counter)}));
    EXPECT_EQ(driver.WrittenBytes().size(), (wakeUp ? 1u : 0u) + 12u);
  }
  static std::string Args(const std::vector<uint64_t>& args) {
    std::string out = "(";
    for (size_t i = 0; i < args.size(); ++i) out += (i ? "," : "") + std::to_string(args[i]);
    return out + ")";
  }
};

// ---- the first command of the program ----------------------------------------

TEST_F(StartUpTest, FirstCommandWakesConfiguresAndHandshakesBeforeItGoesOut) {
  ExpectStartUp();
  driver.Expect(QueryFrame(1), {});
  driver.txQueueCounts = {1, 1};  // the wake-up byte takes two polls to leave

  EXPECT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(driver.Mismatches(), "");

  ASSERT_EQ(driver.writes.size(), 4u);
  EXPECT_EQ(driver.writes[0].bytes, kWakeUpByte);  // 00 at 9600
  EXPECT_EQ(driver.writes[0].baud, kWakeUpBaud);
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(driver.writes[i].baud, kWorkBaud);
  EXPECT_EQ(Writes(),
            (std::vector<Bytes>{kWakeUpByte, kModeRequest, kDescriptorRequest, QueryFrame(1)}));

  EXPECT_EQ(ConfigurationCalls(),
            (std::vector<std::string>{"CreateDeviceInfoList()", "GetDeviceInfoList(1)", "Open(0)",
                                      "GetBitMode()", "Purge(3)",  // Open
                                      "Purge(1)", "Purge(2)", "SetLatencyTimer(2)",
                                      "SetTimeouts(1000,1000)", "SetBitMode(0,32)",
                                      "SetFlowControl(256,0,0)", "SetDataCharacteristics(8,0,0)",
                                      "SetBaudRate(9600)", "SetBaudRate(3000000)"}));
  // wait for the byte to leave, then let the device wake
  EXPECT_EQ(platform.sleeps, ThenQuietLine({1, 1, kWakeUpSettleMs}));
  EXPECT_TRUE(platform.beeps.empty());
  EXPECT_FALSE(theChannel.WakeUpPending);
  EXPECT_EQ(theChannel.HandshakeVersion, 0x0102);
}

TEST_F(StartUpTest, TheFirstTwoFramesBothCarryCounterOne) {
  ExpectStartUp();
  driver.Expect(QueryFrame(1), Answer(kQuery, 1, 0));
  driver.Expect(QueryFrame(1), Answer(kQuery, 1, 0));
  ASSERT_EQ(SendQuery(), kResultOk);  // took 1; the wake-up restarts the counter
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  ASSERT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  EXPECT_EQ(driver.Mismatches(), "");
}

TEST_F(StartUpTest, TheHandshakeLoadsTheDescriptorTable) {
  ExpectStartUp(DescriptorBlock({{248, {{1, 0}, {16, 0}}}, {253, {{193, 2}}}}));
  ASSERT_EQ(VK3cmd_EnsureOpen(), kResultOk);
  EXPECT_EQ(theChannel.DescriptorTable,
            (DescriptorMap{{248, {{1, 0}, {16, 0}}}, {253, {{193, 2}}}}));
}

TEST_F(StartUpTest, ModeAnswersThatAreAccepted) {
  theChannel.WakeUpPending = false;
  // the mode byte is not compared: APP (1), BOOT (3) or anything else
  for (uint8_t mode : {kModeApp, kModeBoot, uint8_t{0xEE}}) {
    SCOPED_TRACE(mode);
    theUsbDevice.Close();
    driver.Expect(kModeRequest, ModeAnswer(0x0A0B, 0x0C0D, mode));
    driver.Expect(kDescriptorRequest, Cat({DescriptorAnswer(1), {0}}));
    ASSERT_EQ(VK3cmd_EnsureOpen(), kResultOk);
    EXPECT_EQ(theChannel.HandshakeVersion, 0x0A0B);
  }
  EXPECT_EQ(driver.Mismatches(), "");
}

// ---- handshake answers that are refused ----------------------------------------

struct BadAnswer {
  const char* what;
  bool inModeAnswer;  // else in the descriptor answer (or its block)
  Bytes answer;
};

Bytes With(Bytes bytes, size_t at, uint8_t value) {
  bytes.at(at) = value;
  return bytes;
}
Bytes Cut(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

class BadHandshakeTest : public StartUpTest, public ::testing::WithParamInterface<BadAnswer> {};

TEST_P(BadHandshakeTest, ClosesTheLinkAndFails) {
  const BadAnswer& c = GetParam();
  theChannel.WakeUpPending = false;
  if (c.inModeAnswer) {
    driver.Expect(kModeRequest, c.answer);  // and no descriptor request after it
  } else {
    driver.Expect(kModeRequest, ModeAnswer());
    driver.Expect(kDescriptorRequest, c.answer);
  }
  EXPECT_EQ(SendQuery(), kResultHandshakeFailed);
  EXPECT_EQ(driver.Mismatches(), "");  // the command itself never went out
  EXPECT_FALSE(theUsbDevice.IsOpen());
  EXPECT_FALSE(driver.IsOpen());
}

const Bytes kGoodDescriptorAnswer = Cat({DescriptorAnswer(3), {1, 248, 0}});

INSTANTIATE_TEST_SUITE_P(
    EachByte, BadHandshakeTest,
    ::testing::Values(
        BadAnswer{"mode: another command", true, With(ModeAnswer(), 0, 0xF9)},
        BadAnswer{"mode: counter 2", true, With(ModeAnswer(), 1, 0x02)},
        BadAnswer{"mode: a refusal", true, With(ModeAnswer(), 2, 0x10)},
        BadAnswer{"mode: length 12", true, With(ModeAnswer(), 3, 0x0C)},
        BadAnswer{"mode: length high byte", true, With(ModeAnswer(), 4, 0x01)},
        BadAnswer{"mode: data length 5", true, With(ModeAnswer(), 6, 0x05)},
        BadAnswer{"mode: 10 of 11 bytes", true, Cut(ModeAnswer(), 10)},
        BadAnswer{"mode: nothing", true, {}},
        BadAnswer{"descriptor: another command", false, With(kGoodDescriptorAnswer, 0, 0xF9)},
        BadAnswer{"descriptor: counter 1", false, With(kGoodDescriptorAnswer, 1, 0x01)},
        BadAnswer{"descriptor: length 16", false, With(kGoodDescriptorAnswer, 3, 0x10)},
        BadAnswer{"descriptor: parameter 11", false, With(kGoodDescriptorAnswer, 5, 0x0B)},
        BadAnswer{"descriptor: parameter 10 with data", false, With(kGoodDescriptorAnswer, 6, 1)},
        BadAnswer{"descriptor: no 252", false, With(kGoodDescriptorAnswer, 7, 0xFB)},
        BadAnswer{"descriptor: 252 of 3 bytes", false, With(kGoodDescriptorAnswer, 8, 3)},
        BadAnswer{"descriptor: no 253", false, With(kGoodDescriptorAnswer, 13, 0xFE)},
        BadAnswer{"descriptor: 14 of 15 bytes", false, Cut(DescriptorAnswer(3), 14)},
        BadAnswer{"descriptor: block cut short", false, Cut(kGoodDescriptorAnswer, 17)},
        // announcements no block of this device comes near: refused without reading
        BadAnswer{"descriptor: block over 1 MiB", false, DescriptorAnswer(kDescriptorBlockMax + 1)},
        BadAnswer{"descriptor: block of -1", false, DescriptorAnswer(-1)}));

TEST_F(StartUpTest, AnOversizedDescriptorBlockIsNotRead) {
  theChannel.WakeUpPending = false;
  driver.Expect(kModeRequest, ModeAnswer());
  driver.Expect(kDescriptorRequest, Cat({DescriptorAnswer(kDescriptorBlockMax + 1), {1, 248, 0}}));
  EXPECT_EQ(VK3cmd_EnsureOpen(), kResultHandshakeFailed);
  for (const FakeCall& c : driver.CallsOf("Read")) EXPECT_LE(c.args[0], 15u);
}

TEST_F(StartUpTest, TheLengthByteOfParameter253IsNotCompared) {
  theChannel.WakeUpPending = false;
  driver.Expect(kModeRequest, ModeAnswer());
  driver.Expect(kDescriptorRequest, With(kGoodDescriptorAnswer, 14, 0x01));
  EXPECT_EQ(VK3cmd_EnsureOpen(), kResultOk);
  EXPECT_EQ(theChannel.DescriptorTable, (DescriptorMap{{248, {}}}));
}

// ---- what a handshake leaves in the table ------------------------------------

TEST_F(StartUpTest, AnEmptyDescriptorBlockLeavesCommandsUnvalidated) {
  ExpectStartUp({});
  ASSERT_EQ(VK3cmd_EnsureOpen(), kResultOk);
  EXPECT_TRUE(theChannel.DescriptorTable.empty());
  EXPECT_EQ(VK3cmd_Begin(99), kFrameOk);
}

TEST_F(StartUpTest, ABlockWithBytesLeftOverOrCutShortStaysAsFarAsItWasRead) {
  theChannel.WakeUpPending = false;
  const std::vector<std::pair<Bytes, DescriptorMap>> cases = {
      {{1, 248, 1, 16, 0, 0xEE}, {{248, {{16, 0}}}}},
      {{2, 248, 1, 16, 0, 253}, {{248, {{16, 0}}}, {253, {}}}},
  };
  for (const auto& [block, table] : cases) {
    theUsbDevice.Close();
    ExpectHandshake(block);
    EXPECT_EQ(VK3cmd_EnsureOpen(), kResultOk);
    EXPECT_EQ(theChannel.DescriptorTable, table);
  }
}

// ---- configuration failures ------------------------------------------------------

struct ConfigFailure {
  const char* call;
  int nth;
  ResultCode expected;
  bool openAfter;
};

class ConfigFailureTest : public StartUpTest,
                          public ::testing::WithParamInterface<ConfigFailure> {};

TEST_P(ConfigFailureTest, StopsAtTheFirstFailingStepAndTheNextCommandConfiguresAgain) {
  const ConfigFailure& c = GetParam();
  driver.FailCall(c.call, kFtIoError, c.nth);
  EXPECT_EQ(SendQuery(), c.expected);
  EXPECT_EQ(driver.CountOf(c.call), c.nth);  // the failing step is not tried again
  // nothing past the wake-up byte went out
  const Bytes written = driver.WrittenBytes();
  EXPECT_TRUE(written.empty() || written == kWakeUpByte) << HexBytes(written);
  EXPECT_EQ(theUsbDevice.IsOpen(), c.openAfter);
  EXPECT_EQ(theChannel.HandshakeVersion, -1);

  // The next command configures the link from its first step before it
  // writes anything, the wake-up included while it is still pending.
  const bool wakeUp = theChannel.WakeUpPending;
  const uint8_t counter = theChannel.FrameCounter;
  driver.ForgetHistory();
  if (wakeUp) ExpectWakeUp();
  ExpectHandshake();
  driver.Expect(QueryFrame(counter), {});
  ASSERT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(driver.Mismatches(), "");

  std::vector<std::string> steps;
  if (!c.openAfter) {
    steps = {"CreateDeviceInfoList()", "GetDeviceInfoList(1)", "Open(0)", "GetBitMode()",
             "Purge(3)"};
  }
  for (const char* step :
       {"Purge(1)", "Purge(2)", "SetLatencyTimer(2)", "SetTimeouts(1000,1000)", "SetBitMode(0,32)",
        "SetFlowControl(256,0,0)", "SetDataCharacteristics(8,0,0)"}) {
    steps.push_back(step);
  }
  if (wakeUp) steps.push_back("SetBaudRate(9600)");
  steps.push_back("SetBaudRate(3000000)");
  EXPECT_EQ(ConfigurationCalls(), steps);
  EXPECT_TRUE(ConfiguredBeforeFirstWrite());
  ExpectEveryByteAtItsRate(wakeUp, counter);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, ConfigFailureTest,
    ::testing::Values(ConfigFailure{"Open", 1, kResultCannotOpen, false},
                      ConfigFailure{"Purge", 1, kResultCannotOpen, true},   // inside Open
                      ConfigFailure{"Purge", 2, kResultLinkFailure, true},  // FlushInBuffer
                      ConfigFailure{"Purge", 3, kResultLinkFailure, true},  // FlushOutBuffer
                      ConfigFailure{"SetLatencyTimer", 1, kResultLinkFailure, true},
                      ConfigFailure{"SetTimeouts", 1, kResultLinkFailure, true},
                      ConfigFailure{"SetBitMode", 1, kResultLinkFailure, true},
                      ConfigFailure{"SetFlowControl", 1, kResultLinkFailure, true},
                      ConfigFailure{"SetDataCharacteristics", 1, kResultLinkFailure, true},
                      ConfigFailure{"SetBaudRate", 1, kResultLinkFailure, true},  // 9600
                      ConfigFailure{"Write", 1, kResultLinkFailure, true},       // the wake-up byte
                      ConfigFailure{"SetBaudRate", 2, kResultLinkFailure, true}  // 3,000,000
                      ));

TEST_F(StartUpTest, AFailedWakeUpStaysPending) {
  driver.TimeoutCall("Write");
  EXPECT_EQ(SendQuery(), kResultLinkFailure);
  EXPECT_TRUE(theChannel.WakeUpPending);
}

TEST_F(StartUpTest, AHandshakeWriteThatFailsLeavesTheLinkOpen) {
  theChannel.WakeUpPending = false;
  // the mode request fails
  driver.FailCall("Write", kFtIoError);
  EXPECT_EQ(VK3cmd_EnsureOpen(), kResultLinkFailure);
  EXPECT_TRUE(theUsbDevice.IsOpen());

  // the descriptor request fails
  theUsbDevice.Close();
  driver.Expect(kModeRequest, ModeAnswer());
  driver.FailCall("Write", kFtIoError, 2);
  EXPECT_EQ(VK3cmd_EnsureOpen(), kResultLinkFailure);
  EXPECT_TRUE(theUsbDevice.IsOpen());
  EXPECT_EQ(driver.Mismatches(), "");
}

// ---- reopening ---------------------------------------------------------------

TEST_F(StartUpTest, AReopenedLinkIsHandshakenAgainButNotWoken) {
  StartLink();
  theUsbDevice.Close();  // the user disconnected
  theChannel.FrameCounter = 50;
  ExpectHandshake();
  driver.Expect(QueryFrame(50), {});
  EXPECT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(driver.Mismatches(), "");
  EXPECT_EQ(driver.WrittenAtBaud(kWakeUpBaud), Bytes{});
  for (const FakeCall& c : driver.CallsOf("SetBaudRate"))
    EXPECT_EQ(c.args, (std::vector<uint64_t>{kWorkBaud}));
  EXPECT_EQ(theChannel.FrameCounter, 51);  // the handshake's fixed counters take nothing
}

TEST_F(StartUpTest, ALinkPushEscOpenedIsConfiguredAndHandshakenBeforeTheCommand) {
  // push ESC opens a closed link and configures nothing; the bridge comes up
  // at its defaults. A command before the next presence poll closes that
  // link must configure it, wake the device if it never was, and handshake.
  for (const bool earlierSession : {false, true}) {
    SCOPED_TRACE(earlierSession ? "handshaken in an earlier session" : "first of the program");
    theUsbDevice.Reset();
    theChannel.Reset();
    VK3cmd_Init();
    driver = FakeDriver();
    if (earlierSession) {
      StartLink();
      theUsbDevice.Close();  // the user disconnected; the handshake version stays
      ASSERT_GE(theChannel.HandshakeVersion, 0);
    }
    ASSERT_EQ(PushEsc(), 0);
    ASSERT_TRUE(theUsbDevice.IsOpen());

    driver.ForgetHistory();
    const bool wakeUp = !earlierSession;
    if (wakeUp) ExpectWakeUp();
    ExpectHandshake();
    const uint8_t counter = theChannel.FrameCounter;
    driver.Expect(QueryFrame(counter), {});
    ASSERT_EQ(SendQuery(), kResultOk);

    EXPECT_EQ(driver.Mismatches(), "");
    EXPECT_EQ(driver.CountOf("Open"), 0);  // the link push ESC opened is kept
    EXPECT_TRUE(ConfiguredBeforeFirstWrite());
    ExpectEveryByteAtItsRate(wakeUp, counter);
    EXPECT_EQ(driver.config.readTimeoutMs, kLinkTimeoutMs);
    EXPECT_EQ(driver.config.flow, kFtFlowRtsCts);
    EXPECT_EQ(driver.config.bitMask, 0x00);  // CBUS lines back to inputs
  }
}

TEST_F(StartUpTest, ALinkFoundClosedForgetsItsHandshakeBeforeReopening) {
  StartLink();
  theUsbDevice.Close();
  // reopening fails half way through the configuration
  driver.FailCall("SetTimeouts", kFtIoError);
  EXPECT_EQ(SendQuery(), kResultLinkFailure);
  EXPECT_TRUE(theUsbDevice.IsOpen());
  EXPECT_EQ(theChannel.HandshakeVersion, -1);
  // so the next command cannot slip through on the half-configured link: it
  // configures it again (the bridge came up at its defaults) and handshakes
  driver.ForgetHistory();
  ExpectHandshake();
  driver.Expect(QueryFrame(2), {});
  EXPECT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(driver.Mismatches(), "");
  EXPECT_TRUE(ConfiguredBeforeFirstWrite());
  ExpectEveryByteAtItsRate(false, 2);
}

// ---- notifications and the hold-off -------------------------------------------

TEST_F(StartUpTest, ABusyDeviceDelaysTheNextCommandAndRenewsTheHandshake) {
  StartLink();
  driver.QueueDeviceBytes(Notification(kNotifyBusyB));  // waiting when the command starts
  ExpectHandshake();
  driver.Expect(QueryFrame(1), {});
  EXPECT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(driver.Mismatches(), "");
  EXPECT_EQ(platform.beeps, (std::vector<RecordedBeep>{{kHoldOffBeepHz, kHoldOffBeepMs}}));
  EXPECT_EQ(platform.sleeps, ThenQuietLine({kHoldOffBusyMs}));
  EXPECT_EQ(theChannel.HoldOffMs, 0u);
}

struct DrainedNotification {
  uint8_t code;
  ResultCode expected;
  bool openAfter;
};

class DrainedNotificationTest : public StartUpTest,
                                public ::testing::WithParamInterface<DrainedNotification> {};

TEST_P(DrainedNotificationTest, StopsTheCommandAndIsPaidForByTheNextOne) {
  const DrainedNotification& c = GetParam();
  StartLink();
  driver.QueueDeviceBytes(Notification(c.code));
  EXPECT_EQ(SendQuery(), c.expected);
  EXPECT_TRUE(driver.writes.empty());   // nothing sent
  EXPECT_TRUE(platform.beeps.empty());  // not yet
  EXPECT_EQ(theUsbDevice.IsOpen(), c.openAfter);
  EXPECT_EQ(theChannel.HoldOffMs, kHoldOffNotificationMs);

  ExpectHandshake();
  driver.Expect(QueryFrame(2), {});  // the stopped frame used counter 1
  EXPECT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(driver.Mismatches(), "");
  EXPECT_EQ(platform.beeps, (std::vector<RecordedBeep>{{kHoldOffBeepHz, kHoldOffBeepMs}}));
  EXPECT_EQ(platform.sleeps, ThenQuietLine({kHoldOffNotificationMs}));
}

INSTANTIATE_TEST_SUITE_P(SwitchedOffOrSystemChange, DrainedNotificationTest,
                         ::testing::Values(DrainedNotification{kNotifySwitchedOff,
                                                               kResultPoweredOff, false},
                                           DrainedNotification{0x01, kResultSystemChange, true}));

TEST_F(StartUpTest, ANotificationInPlaceOfTheAnswerIsPaidForAtTheNextCommand) {
  StartLink();
  driver.Expect(QueryFrame(1), Notification(kNotifyBusyA));
  ASSERT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(VK3cmd_Receive(), kResultDeviceBusy);
  EXPECT_TRUE(platform.beeps.empty());

  ExpectHandshake();
  driver.Expect(QueryFrame(2), {});
  EXPECT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(driver.Mismatches(), "");
  EXPECT_EQ(platform.sleeps, ThenQuietLine({kHoldOffBusyMs}));
}

TEST_F(StartUpTest, TheDrainDropsAnswersThatMatchNothing) {
  StartLink();
  // a late answer to an earlier command, and a busy notice behind it
  driver.QueueDeviceBytes(Cat({Answer(209, 77, 0, Param(3, {1, 2})), Notification(kNotifyBusyA)}));
  ExpectHandshake();
  driver.Expect(QueryFrame(1), {});
  EXPECT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(driver.Mismatches(), "");
  EXPECT_EQ(driver.QueuedDeviceBytes(), 0u);
}

TEST_F(StartUpTest, TheDrainOfADeviceThatNeverStopsTalkingIsBounded) {
  StartLink();
  // 800 late answers of 528 bytes each (422,400 bytes, well over a second of
  // the line) are waiting: the drain drops about two BulkBuffers' worth, then
  // the command goes out
  const Bytes late = Answer(
      209, 77, 0, Cat({Param(3, Counting(255)), Param(4, Counting(255)), Param(5, Counting(7))}));
  ASSERT_EQ(late.size(), kFrameCapacity);
  Bytes chatter;
  for (int i = 0; i < 800; ++i) chatter.insert(chatter.end(), late.begin(), late.end());
  driver.QueueDeviceBytes(chatter);
  EXPECT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(driver.WrittenBytes(), QueryFrame(1));
  EXPECT_GE(driver.QueuedDeviceBytes(), chatter.size() - 2 * kBulkCapacity - kFrameCapacity);
  EXPECT_LE(driver.QueuedDeviceBytes(), chatter.size() - 2 * kBulkCapacity);
}

TEST_F(StartUpTest, TheDrainStopsAtAnAnswerThatDoesNotComeWhole) {
  StartLink();
  // the queue reports bytes, but only a header's first three bytes are there
  // within the read timeout: the drain does not wait for the rest
  driver.QueueDeviceBytes({0xD1, 0x4D, 0x00});
  driver.Expect(QueryFrame(1), {});
  EXPECT_EQ(SendQuery(), kResultOk);
  EXPECT_EQ(driver.CountOf("GetQueueStatus"), 1);
  EXPECT_EQ(driver.Mismatches(), "");
}

// ---- sending -------------------------------------------------------------------

TEST_F(StartUpTest, SteadyStateCostsOneQueueStatusQueryPerCommand) {
  StartLink();
  for (uint8_t counter = 1; counter <= 3; ++counter) {
    driver.ForgetHistory();
    driver.Expect(QueryFrame(counter), Answer(kQuery, counter, 0));
    ASSERT_EQ(SendQuery(), kResultOk);
    EXPECT_EQ(driver.CallNames(), (std::vector<std::string>{"GetQueueStatus", "Write"}));
    ASSERT_EQ(VK3cmd_Receive(), kResultOk);
  }
  EXPECT_EQ(driver.Mismatches(), "");
}

TEST_F(StartUpTest, AFullFrameGoesOutWithoutTerminator) {
  StartLink({});
  const Bytes data = Counting(526, 0x40);
  VK3cmd_Begin(99);
  ASSERT_EQ(VK3cmd_AppendData(data.data(), 526), kFrameOk);
  ASSERT_EQ(VK3cmd_Send(), kResultOk);
  ASSERT_EQ(driver.writes.size(), 1u);
  EXPECT_EQ(driver.writes[0].bytes, Cat({{99, 1}, data}));  // 528 bytes, the last is data
}

TEST_F(StartUpTest, ARejectedBeginSendsTheSingleByteFF) {
  StartLink();
  driver.Expect(QueryFrame(1), Answer(kQuery, 1, 0));
  ASSERT_EQ(SendQuery(), kResultOk);
  ASSERT_EQ(VK3cmd_Receive(), kResultOk);

  // 99 is not in the table: the frame stays empty and byte 0 still holds F8
  EXPECT_EQ(VK3cmd_Begin(99), kFrameUnknownCommand);
  driver.Expect({0xFF}, {0xFF});
  EXPECT_EQ(VK3cmd_Send(), kResultOk);
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);  // the device echoes the byte
  EXPECT_EQ(driver.Mismatches(), "");

  driver.Expect({0xFF}, {0xF8});
  EXPECT_EQ(VK3cmd_Send(), kResultOk);
  EXPECT_EQ(VK3cmd_Receive(), kResultInvalidAnswer);  // any other byte
}

TEST_F(StartUpTest, ACommandThatCannotOpenSendsNothingButUsesItsCounter) {
  driver.bridges.clear();
  EXPECT_EQ(SendQuery(), kResultCannotOpen);
  EXPECT_TRUE(driver.writes.empty());
  VK3cmd_Begin(kQuery);
  EXPECT_EQ(theChannel.commandFrame.bytes[1], 2);
}

TEST_F(StartUpTest, AFrameTheLinkDoesNotTakeIsALinkFailure) {
  StartLink();
  driver.TimeoutCall("Write");
  EXPECT_EQ(SendQuery(), kResultLinkFailure);
  EXPECT_TRUE(theUsbDevice.IsOpen());
}

}  // namespace
