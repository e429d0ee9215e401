// The USB link against the scripted bridge: which bridge is the device, opening,
// configuring, moving bytes, the CBUS line and the texts every failure leaves.
#include "link/usb_device.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/core_fixture.h"

namespace {

constexpr uint32_t kOtherBridgeId = 0x04036001;  // an FT232R: same vendor, other product

std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

class UsbDeviceTest : public CoreTest {
 protected:
  void OpenLink() {
    ASSERT_EQ(theUsbDevice.Open(), 0);
    driver.ForgetHistory();
  }
  std::string ErrorText() const { return theUsbDevice.errorText; }
  // The error text, and the message beside it when the failure writes both.
  void ExpectBothTexts(const std::string& text) const {
    EXPECT_EQ(ErrorText(), text);
    EXPECT_EQ(theUsbDevice.linkError.message, Wide(text));
  }
};

// ---- Poll: which bridge is the device --------------------------------------

struct KindCase {
  int32_t kind;
  uint32_t id;
  std::string description;
  int32_t expected;  // index found; the candidate sits at index 1
};

class PollKindTest : public UsbDeviceTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(PollKindTest, DecidesByIdAndExactDescription) {
  const KindCase& c = GetParam();
  driver.bridges = {{kOtherBridgeId, "Vesk-3 HandController", "A"},  // right text, wrong id
                    {c.id, c.description, "B"}};
  theUsbDevice.DeviceKind = c.kind;
  EXPECT_EQ(theUsbDevice.Poll(), c.expected);
  EXPECT_EQ(theUsbDevice.deviceList, nullptr);  // released before Poll returns
}

INSTANTIATE_TEST_SUITE_P(
    EveryDeviceKind, PollKindTest,
    ::testing::Values(
        // 3: the hand controller only, byte for byte
        KindCase{3, kHandControllerBridgeId, "Vesk-3 HandController", 1},
        KindCase{3, kHandControllerBridgeId, "Vesk-3 HandController2", -1},  // longer
        KindCase{3, kHandControllerBridgeId, "Vesk-3 HandControlle", -1},    // shorter
        KindCase{3, kHandControllerBridgeId, "vesk-3 handcontroller", -1},   // letter case
        KindCase{3, kOtherBridgeId, "Vesk-3 HandController", -1},
        // a description that fills its field without a terminator is no match
        KindCase{3, kHandControllerBridgeId, "Vesk-3 HandController" + std::string(43, 'x'), -1},
        // 0: the id alone decides
        KindCase{0, kHandControllerBridgeId, "anything at all", 1},
        KindCase{0, kHandControllerBridgeId, "", 1},
        // 1: the prototypes and the hand controller
        KindCase{1, kHandControllerBridgeId, "Vesk-3 Prototype", 1},
        KindCase{1, kHandControllerBridgeId, "ZORVITA Vesk-3 proto demo", 1},
        KindCase{1, kHandControllerBridgeId, "Vesk-3 HandController", 1},
        KindCase{1, kHandControllerBridgeId, "Vesk-3 Prototype 2", -1},
        KindCase{1, kHandControllerBridgeId, "USB <-> Serial Converter", -1},
        // 2: the plain converter
        KindCase{2, kHandControllerBridgeId, "USB <-> Serial Converter", 1},
        KindCase{2, kHandControllerBridgeId, "Vesk-3 HandController", -1},
        // any other kind: nothing is the device
        KindCase{4, kHandControllerBridgeId, "Vesk-3 HandController", -1},
        KindCase{-1, kHandControllerBridgeId, "Vesk-3 HandController", -1}));

TEST_F(UsbDeviceTest, PollReturnsTheLowerIndexOfTwoDevices) {
  driver.bridges = {{kOtherBridgeId, "USB <-> Serial Converter", "A"},
                    {kHandControllerBridgeId, "Vesk-3 HandController", "B"},
                    {kHandControllerBridgeId, "Vesk-3 HandController", "C"}};
  EXPECT_EQ(theUsbDevice.Poll(), 1);
}

TEST_F(UsbDeviceTest, NoBridgesFindsNothingAndOpenSaysSo) {
  driver.bridges.clear();
  EXPECT_EQ(theUsbDevice.Poll(), -1);
  EXPECT_EQ(ErrorText(), "");
  EXPECT_EQ(driver.CountOf("GetDeviceInfoList"), 0);  // nothing to list

  EXPECT_EQ(theUsbDevice.Open(), 1);
  ExpectBothTexts("No proper USB device found");
  EXPECT_FALSE(theUsbDevice.IsOpen());
}

TEST_F(UsbDeviceTest, PollEmptiesTheTextOfAnEarlierFailure) {
  theUsbDevice.SetBaudRate(9600);  // not open: leaves a text
  ASSERT_NE(ErrorText(), "");
  EXPECT_EQ(theUsbDevice.Poll(), 0);
  EXPECT_EQ(ErrorText(), "");
}

struct EnumerationFailure {
  std::string call;
  FtStatus status;
  std::string text;
};

class EnumerationFailureTest : public UsbDeviceTest,
                               public ::testing::WithParamInterface<EnumerationFailure> {};

TEST_P(EnumerationFailureTest, PollFailsWithTheCallsTextAndOpenAppendsItsOwn) {
  const EnumerationFailure& c = GetParam();
  driver.FailCall(c.call, c.status);
  EXPECT_EQ(theUsbDevice.Poll(), -1);
  EXPECT_EQ(ErrorText(), c.text);
  EXPECT_EQ(theUsbDevice.linkError.code, static_cast<int32_t>(c.status));
  EXPECT_EQ(theUsbDevice.linkError.timedOut, 0);
  EXPECT_EQ(theUsbDevice.deviceList, nullptr);

  // the same failure inside Open: the miss is appended with no separator
  driver.FailCall(c.call, c.status);
  EXPECT_EQ(theUsbDevice.Open(), 1);
  EXPECT_EQ(ErrorText(), c.text + "No proper USB device found");
  EXPECT_EQ(driver.CountOf("Open"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Enumeration, EnumerationFailureTest,
    ::testing::Values(EnumerationFailure{"CreateDeviceInfoList", kFtIoError,
                                         "FT_CreateDeviceInfoList failed (code 4 ($4))"},
                      EnumerationFailure{"GetDeviceInfoList", kFtOtherError,
                                         "FT_GetDeviceInfoList failed (code 18 ($12))"}));

TEST_F(UsbDeviceTest, PollClosesAnOpenLinkWhetherOrNotADeviceIsThen) {
  OpenLink();
  EXPECT_EQ(theUsbDevice.Poll(), 0);
  EXPECT_FALSE(theUsbDevice.IsOpen());
  EXPECT_FALSE(driver.IsOpen());

  OpenLink();
  driver.bridges.clear();
  EXPECT_EQ(theUsbDevice.Poll(), -1);
  EXPECT_FALSE(theUsbDevice.IsOpen());
  EXPECT_EQ(driver.CallNames(), (std::vector<std::string>{"Close", "CreateDeviceInfoList"}));
}

TEST_F(UsbDeviceTest, PollThatCannotCloseKeepsTheLinkOpen) {
  OpenLink();
  driver.FailCall("Close", kFtIoError);
  EXPECT_EQ(theUsbDevice.Poll(), -1);
  ExpectBothTexts("FT_Close failed ..in function Poll()");
  EXPECT_TRUE(theUsbDevice.IsOpen());
  EXPECT_EQ(driver.CountOf("CreateDeviceInfoList"), 0);
}

TEST_F(UsbDeviceTest, PollWalksOnlyTheNodesItAllocated) {
  // the second enumeration call claims 50 bridges; only 2 nodes were allocated
  driver.bridges = {{kOtherBridgeId, "A", "1"}, {kOtherBridgeId, "B", "2"}};
  driver.listCountReported = 50;
  EXPECT_EQ(theUsbDevice.Poll(), -1);  // and nothing read past the list (sanitizers)
  EXPECT_EQ(driver.CallsOf("GetDeviceInfoList")[0].args, (std::vector<uint64_t>{2}));
}

TEST_F(UsbDeviceTest, PollWalksTheCountTheSecondCallWroteWhenItIsSmaller) {
  driver.bridges = {{kOtherBridgeId, "A", "1"},
                    {kHandControllerBridgeId, "Vesk-3 HandController", "2"}};
  driver.listCountReported = 1;  // the device unplugged between the two calls
  EXPECT_EQ(theUsbDevice.Poll(), -1);
}

// ---- Open and Close ---------------------------------------------------------

TEST_F(UsbDeviceTest, OpenEnumeratesOpensReadsThePinsAndPurgesBothQueues) {
  driver.bridges.insert(driver.bridges.begin(), {kOtherBridgeId, "X", "0"});
  driver.pins = 0xF5;
  EXPECT_EQ(theUsbDevice.Open(), 0);
  EXPECT_EQ(driver.CallNames(),
            (std::vector<std::string>{"CreateDeviceInfoList", "GetDeviceInfoList", "Open",
                                      "GetBitMode", "Purge"}));
  EXPECT_EQ(driver.OpenedIndex(), 1);
  EXPECT_EQ(driver.CallsOf("Purge")[0].args, (std::vector<uint64_t>{kFtPurgeRx | kFtPurgeTx}));
  EXPECT_EQ(theUsbDevice.bitLevels, 0xF5u);  // the whole pin byte
  EXPECT_EQ(theUsbDevice.bitDirection, 0u);
  EXPECT_TRUE(theUsbDevice.IsOpen());
}

struct OpenFailure {
  std::string call;
  FtStatus status;
  std::string text;
  bool staysOpen;
};

class OpenFailureTest : public UsbDeviceTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, ReturnsTheStatusWithTheFormattedText) {
  const OpenFailure& c = GetParam();
  driver.FailCall(c.call, c.status);
  EXPECT_EQ(theUsbDevice.Open(), static_cast<int32_t>(c.status));
  EXPECT_EQ(ErrorText(), c.text);
  EXPECT_EQ(theUsbDevice.linkError.code, static_cast<int32_t>(c.status));
  EXPECT_EQ(theUsbDevice.lastStatus, c.status);
  EXPECT_EQ(theUsbDevice.IsOpen(), c.staysOpen);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, OpenFailureTest,
    ::testing::Values(
        OpenFailure{"Open", kFtOtherError, "FT_Open failed (code 18 ($12))", false},
        OpenFailure{"GetBitMode", kFtIoError, "FT_GetBitMode failed (code 4 ($4))", true},
        // hexadecimal in lower case, decimal signed
        OpenFailure{"Purge", 171, "FT_Purge failed (code 171 ($ab))", true},
        OpenFailure{"GetBitMode", 0xFFFFFFFF, "FT_GetBitMode failed (code -1 ($ffffffff))", true}));

TEST_F(UsbDeviceTest, CloseOfAClosedLinkTouchesNothing) {
  EXPECT_EQ(theUsbDevice.Close(), 0);
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_EQ(ErrorText(), "");
}

TEST_F(UsbDeviceTest, CloseClosesAndAFailingCloseKeepsTheHandle) {
  OpenLink();
  driver.FailCall("Close", kFtIoError);
  EXPECT_EQ(theUsbDevice.Close(), 9);
  ExpectBothTexts("FT_Close failed");
  EXPECT_TRUE(theUsbDevice.IsOpen());

  EXPECT_EQ(theUsbDevice.Close(), 0);
  EXPECT_FALSE(theUsbDevice.IsOpen());
  EXPECT_FALSE(driver.IsOpen());
}

TEST_F(UsbDeviceTest, ProgramEndClosesAnOpenLink) {
  OpenLink();
  theUsbDevice.CloseAtProgramEnd();
  EXPECT_FALSE(driver.IsOpen());
  EXPECT_FALSE(theUsbDevice.IsOpen());
}

// ---- every operation on a closed link ---------------------------------------

struct NotOpenCase {
  std::string text;
  std::function<std::string()> call;  // the operation's result, as text
  std::string failureValue;
};

std::string Num(int64_t v) {
  return std::to_string(v);
}

TEST_F(UsbDeviceTest, EveryOperationOnAClosedLinkSetsItsTextAndFails) {
  uint8_t buffer[4] = {};
  const std::vector<NotOpenCase> cases = {
      {"Device not open in SetDataFormat()", [] { return Num(theUsbDevice.SetDataFormat()); }, "1"},
      {"Device not open in SetBaudRate()", [] { return Num(theUsbDevice.SetBaudRate(9600)); }, "1"},
      {"Device not open in SetRTSCTS()", [] { return Num(theUsbDevice.SetRTSCTS()); }, "1"},
      {"Device not open in SetTimeouts()", [] { return Num(theUsbDevice.SetTimeouts()); }, "1"},
      {"Device not open in SetLatencyTimer()", [] { return Num(theUsbDevice.SetLatencyTimer()); },
       "1"},
      {"Device not open in FlushInBuffer()", [] { return Num(theUsbDevice.FlushInBuffer()); }, "1"},
      {"Device not open in FlushOutBuffer()", [] { return Num(theUsbDevice.FlushOutBuffer()); },
       "1"},
      {"Device not open in SetBitOutput()", [] { return Num(theUsbDevice.SetBitOutput(2)); }, "1"},
      {"Device not open in SetBitInput()", [] { return Num(theUsbDevice.SetBitInput()); }, "1"},
      {"Device not open in Write()", [&] { return Num(theUsbDevice.Write(buffer, 4)); }, "0"},
      {"Device not open in Read()", [&] { return Num(theUsbDevice.Read(buffer, 4)); }, "0"},
      {"Device not open in QueryReadBufLen()", [] { return Num(theUsbDevice.QueryReadBufLen()); },
       "0"},
      {"Device not open in QueryWriteBufLen()", [] { return Num(theUsbDevice.QueryWriteBufLen()); },
       "0"},
      {"Device not open in QuerySerial()", [] { return std::string(theUsbDevice.QuerySerial()); },
       ""},
      {"Device not open in QueryDescr()", [] { return std::string(theUsbDevice.QueryDescr()); },
       ""},
  };
  theUsbDevice.linkError.code = 77;
  for (const NotOpenCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.call(), c.failureValue);
    ExpectBothTexts(c.text);
    EXPECT_EQ(theUsbDevice.linkError.code, 77);  // unchanged
  }
  EXPECT_TRUE(driver.calls.empty());
}

// ---- configuration ----------------------------------------------------------

struct ConfigCase {
  std::string operation;
  std::function<int32_t()> call;
  std::string driverCall;
  std::vector<uint64_t> args;
  std::string failureName;
};

TEST_F(UsbDeviceTest, EachConfigurationMakesOneDriverCallAndReportsItsFailure) {
  const std::vector<ConfigCase> cases = {
      {"SetDataFormat",
       [] { return theUsbDevice.SetDataFormat(); },
       "SetDataCharacteristics",
       {8, 0, 0},
       "FT_SetDataCharacteristics failed"},
      {"SetBaudRate",
       [] { return theUsbDevice.SetBaudRate(3000000); },
       "SetBaudRate",
       {3000000},
       "FT_SetBaudRate failed"},
      {"SetRTSCTS",
       [] { return theUsbDevice.SetRTSCTS(); },
       "SetFlowControl",
       {0x0100, 0, 0},
       "FT_SetFlowControl failed"},
      {"SetTimeouts",
       [] { return theUsbDevice.SetTimeouts(); },
       "SetTimeouts",
       {1000, 1000},
       "FT_SetTimeouts failed"},
      {"SetLatencyTimer",
       [] { return theUsbDevice.SetLatencyTimer(); },
       "SetLatencyTimer",
       {2},
       "FT_SetLatencyTimer failed"},
      {"FlushInBuffer",
       [] { return theUsbDevice.FlushInBuffer(); },
       "Purge",
       {1},
       "FT_Purge failed"},
      {"FlushOutBuffer",
       [] { return theUsbDevice.FlushOutBuffer(); },
       "Purge",
       {2},
       "FT_Purge failed"},
      {"SetBitInput",
       [] { return theUsbDevice.SetBitInput(); },
       "SetBitMode",
       {0x00, 0x20},
       "FT_SetBitMode failed"},
  };
  OpenLink();
  for (const ConfigCase& c : cases) {
    SCOPED_TRACE(c.operation);
    driver.ForgetHistory();
    EXPECT_EQ(c.call(), 0);
    ASSERT_EQ(driver.calls.size(), 1u);
    EXPECT_EQ(driver.calls[0].name, c.driverCall);
    EXPECT_EQ(driver.calls[0].args, c.args);

    driver.FailCall(c.driverCall, kFtInvalidBaudRate);
    EXPECT_EQ(c.call(), 1);
    EXPECT_EQ(ErrorText(), c.failureName + " (code 7 ($7))");
    EXPECT_EQ(theUsbDevice.linkError.code, 7);
    EXPECT_EQ(theUsbDevice.linkError.timedOut, 0);
    EXPECT_EQ(theUsbDevice.lastStatus, 7u);
  }
}

TEST_F(UsbDeviceTest, SetTimeoutsRecordsTheTimeoutsOnlyWhenTheDriverTookThem) {
  OpenLink();
  driver.FailCall("SetTimeouts", kFtIoError);
  EXPECT_EQ(theUsbDevice.SetTimeouts(), 1);
  EXPECT_EQ(theUsbDevice.linkError.readTimeoutMs, 5000);
  EXPECT_EQ(theUsbDevice.linkError.writeTimeoutMs, 5000);

  EXPECT_EQ(theUsbDevice.SetTimeouts(), 0);
  EXPECT_EQ(theUsbDevice.linkError.readTimeoutMs, 1000);
  EXPECT_EQ(theUsbDevice.linkError.writeTimeoutMs, 1000);
}

// ---- the CBUS line ------------------------------------------------------------

TEST_F(UsbDeviceTest, CbusWorkedExample) {
  driver.pins = 0xF5;
  OpenLink();
  struct Step {
    std::function<int32_t()> call;
    uint8_t mask;  // sent with mode 0x20
    uint32_t levels;
  };
  const std::vector<Step> steps = {
      {[] { return theUsbDevice.SetBitOutput(2); }, 0x27, 0x07},  // CBUS1 out, high
      {[] { return theUsbDevice.SetBitOutput(0); }, 0x25, 0x05},  // CBUS1 low
      {[] { return theUsbDevice.SetBitInput(); }, 0x00, 0x05},    // all inputs, levels kept
      {[] { return theUsbDevice.SetBitOutput(2); }, 0x27, 0x07},
  };
  for (const Step& s : steps) {
    driver.ForgetHistory();
    EXPECT_EQ(s.call(), 0);
    ASSERT_EQ(driver.CountOf("SetBitMode"), 1);
    EXPECT_EQ(driver.calls[0].args, (std::vector<uint64_t>{s.mask, kFtBitModeCbus}));
    EXPECT_EQ(theUsbDevice.bitLevels, s.levels);
  }
}

TEST_F(UsbDeviceTest, CbusStateIsUpdatedEvenWhenTheDriverRefuses) {
  OpenLink();
  driver.FailCall("SetBitMode", kFtIoError);
  EXPECT_EQ(theUsbDevice.SetBitOutput(2), 1);
  EXPECT_EQ(ErrorText(), "FT_SetBitMode failed (code 4 ($4))");
  EXPECT_EQ(theUsbDevice.bitDirection & 0x02u, 0x02u);
  EXPECT_EQ(theUsbDevice.bitLevels, 0x02u);
}

// ---- Write and Read -----------------------------------------------------------

TEST_F(UsbDeviceTest, WriteHandsTheDriverPiecesOfAtMost16384) {
  OpenLink();
  const Bytes data = Counting(40000);
  EXPECT_EQ(theUsbDevice.Write(data.data(), 40000), 40000);
  ASSERT_EQ(driver.writes.size(), 3u);
  EXPECT_EQ(driver.writes[0].bytes.size(), 16384u);
  EXPECT_EQ(driver.writes[1].bytes.size(), 16384u);
  EXPECT_EQ(driver.writes[2].bytes.size(), 7232u);
  EXPECT_EQ(driver.WrittenBytes(), data);
}

TEST_F(UsbDeviceTest, AShortWriteIsContinuedWhereItStopped) {
  OpenLink();
  const Bytes data = Counting(40000, 7);
  driver.ShortCall("Write", 300);  // the driver takes 300 of the first 16384
  EXPECT_EQ(theUsbDevice.Write(data.data(), 40000), 40000);
  ASSERT_GE(driver.writes.size(), 2u);
  EXPECT_EQ(driver.writes[0].bytes.size(), 300u);
  EXPECT_EQ(driver.writes[1].bytes.front(), data[300]);  // starts at byte 300
  EXPECT_EQ(driver.CallsOf("Write")[1].args, (std::vector<uint64_t>{16384}));
  EXPECT_EQ(driver.WrittenBytes(), data);  // nothing repeated, nothing lost
}

TEST_F(UsbDeviceTest, AWriteTheDriverTakesNothingOfTimesOut) {
  OpenLink();
  const Bytes data = Counting(10);
  theUsbDevice.linkError.code = 5;
  driver.TimeoutCall("Write");
  EXPECT_EQ(theUsbDevice.Write(data.data(), 10), 0);
  EXPECT_EQ(ErrorText(), "FT_Write timed out (code 0 ($0))");
  EXPECT_EQ(theUsbDevice.linkError.timedOut, 1);
  EXPECT_EQ(theUsbDevice.linkError.code, 0);
}

TEST_F(UsbDeviceTest, AFailingPieceFailsTheWholeWrite) {
  OpenLink();
  const Bytes data = Counting(40000);
  driver.FailCall("Write", kFtIoError, 2);
  EXPECT_EQ(theUsbDevice.Write(data.data(), 40000), 0);
  EXPECT_EQ(ErrorText(), "FT_Write failed (code 4 ($4))");
  EXPECT_EQ(theUsbDevice.linkError.code, 4);
  EXPECT_EQ(theUsbDevice.linkError.timedOut, 0);
  EXPECT_EQ(driver.CountOf("Write"), 2);  // no retry
}

TEST_F(UsbDeviceTest, WriteAndReadOfNothingOrLessThanNothing) {
  OpenLink();
  uint8_t buffer[4] = {};
  EXPECT_EQ(theUsbDevice.Write(buffer, 0), 0);
  ExpectBothTexts("0 bytes written");
  EXPECT_EQ(theUsbDevice.Read(buffer, 0), 0);
  ExpectBothTexts("0 bytes read");

  theUsbDevice.errorText[0] = '\0';
  EXPECT_EQ(theUsbDevice.Write(buffer, -1), 0);
  EXPECT_EQ(theUsbDevice.Read(buffer, -1), 0);
  EXPECT_EQ(ErrorText(), "");
  EXPECT_TRUE(driver.calls.empty());
}

TEST_F(UsbDeviceTest, ReadIsOneDriverReadAndMayBeShort) {
  OpenLink();
  driver.QueueDeviceBytes({1, 2, 3, 4, 5});  // 5 of 11 arrive before the timeout
  uint8_t buffer[11] = {};
  EXPECT_EQ(theUsbDevice.Read(buffer, 11), 5);
  EXPECT_EQ(ErrorText(), "");
  EXPECT_EQ(driver.CallsOf("Read").size(), 1u);
  EXPECT_EQ(driver.CallsOf("Read")[0].args, (std::vector<uint64_t>{11}));
  EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{1, 2, 3, 4, 5}));
}

TEST_F(UsbDeviceTest, ReadFailureAndTimeoutTexts) {
  OpenLink();
  uint8_t buffer[8];
  driver.FailCall("Read", kFtIoError);
  EXPECT_EQ(theUsbDevice.Read(buffer, 8), 0);
  EXPECT_EQ(ErrorText(), "FT_Read failed (code 4 ($4))");
  EXPECT_EQ(theUsbDevice.linkError.code, 4);
  EXPECT_EQ(theUsbDevice.linkError.timedOut, 0);

  EXPECT_EQ(theUsbDevice.Read(buffer, 8), 0);  // nothing queued: times out
  EXPECT_EQ(ErrorText(), "FT_Read timed out (code 0 ($0))");
  EXPECT_EQ(theUsbDevice.linkError.code, 0);
  EXPECT_EQ(theUsbDevice.linkError.timedOut, 1);
}

// ---- queues and the bridge's identity ---------------------------------------

TEST_F(UsbDeviceTest, QueueQueriesReportTheCountsOrZeroOnFailure) {
  OpenLink();
  driver.QueueDeviceBytes(Counting(7));
  driver.txQueueCounts = {12};
  EXPECT_EQ(theUsbDevice.QueryReadBufLen(), 7u);
  EXPECT_EQ(theUsbDevice.QueryWriteBufLen(), 12u);

  driver.QueueDeviceBytes(Counting(1));
  driver.FailCall("GetQueueStatus", kFtIoError);
  EXPECT_EQ(theUsbDevice.QueryReadBufLen(), 0u);
  EXPECT_EQ(ErrorText(), "FT_GetQueueStatus failed (code 4 ($4))");
  driver.txQueueCounts = {3};
  driver.FailCall("GetStatus", kFtIoError);
  EXPECT_EQ(theUsbDevice.QueryWriteBufLen(), 0u);
  EXPECT_EQ(ErrorText(), "FT_GetStatus failed (code 4 ($4))");
}

TEST_F(UsbDeviceTest, SerialAndDescriptionEachInTheirOwnBuffer) {
  driver.bridges = {{kHandControllerBridgeId, "Vesk-3 HandController", "VK3-00042"}};
  OpenLink();
  const char* serial = theUsbDevice.QuerySerial();
  const char* description = theUsbDevice.QueryDescr();
  EXPECT_STREQ(serial, "VK3-00042");  // still valid after the other query
  EXPECT_STREQ(description, "Vesk-3 HandController");

  driver.FailCall("GetDeviceInfo", kFtIoError);
  EXPECT_STREQ(theUsbDevice.QuerySerial(), "");
  EXPECT_EQ(ErrorText(), "FT_GetDeviceInfo failed (code 4 ($4))");
}

}  // namespace
