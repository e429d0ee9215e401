#include "services/device_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protocol/command_channel.h"
#include "tests/services/service_fixture.h"

namespace {

constexpr uint8_t kInfo = 0xF8;  // command 248

class DeviceInfoTest : public ServiceTest {
 protected:
  // The host asks for `item` with the next counter; the device answers with `params`.
  void Ask(uint8_t item, const Bytes& params, uint8_t type = 0) {
    const uint8_t counter = nextCounter_++;
    Exchange({kInfo, counter, item, 0xFF}, Answer(kInfo, counter, type, params));
  }

 private:
  uint8_t nextCounter_ = 1;
};

// Chip id 0x00000012_00345678, then a unique id with zero bytes at 0, 5 and 15.
Bytes ChipIdData() {
  Bytes data = {0x78, 0x56, 0x34, 0x00, 0x12, 0x00, 0x00, 0x00};
  const Bytes unique = {0, 'B', 'C', 'D', 'E', 0, 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 0};
  data.insert(data.end(), unique.begin(), unique.end());
  return data;
}

Bytes ChipIdOnly() {
  const Bytes data = ChipIdData();
  return Bytes(data.begin(), data.begin() + 8);
}

Bytes UniqueIdOnly() {
  const Bytes data = ChipIdData();
  return Bytes(data.begin() + 8, data.end());
}

Bytes Text(uint8_t first, uint8_t second = 'b') {
  Bytes text(32, 'x');
  text[0] = first;
  text[1] = second;
  return text;
}

// --- the mode item --------------------------------------------------------

struct ModeCase {
  std::string name;
  Bytes params;
  ResultCode expected;
  int32_t bootMode;
  uint16_t version1;
  uint16_t version2;
};

class ModeQuery : public DeviceInfoTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeQuery, ReadsTheModeParameter) {
  const ModeCase& c = GetParam();
  Ask(kItemMode, c.params);
  int32_t bootMode = -1;
  uint16_t version1 = 0xFFFF;
  uint16_t version2 = 0xFFFF;

  EXPECT_EQ(VK3cmd_GetMode(&bootMode, &version1, &version2), c.expected);

  if (c.expected != kResultOk) return;
  EXPECT_EQ(bootMode, c.bootMode);
  EXPECT_EQ(version1, c.version1);
  EXPECT_EQ(version2, c.version2);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ModeQuery,
    ::testing::Values(
        // parameter 1 (application), versions 0x0012 and 0x01A0 little-endian
        ModeCase{"App", Param(1, {0x12, 0x00, 0xA0, 0x01}), kResultOk, 0, 0x0012, 0x01A0},
        ModeCase{"Boot", Param(3, {0x34, 0x12, 0x02, 0x00}), kResultOk, 1, 0x1234, 0x0002},
        // both: parameter 3 wins, with its own values
        ModeCase{"BothTakeBoot", Concat(Param(1, {1, 0, 2, 0}), Param(3, {3, 0, 4, 0})), kResultOk,
                 1, 3, 4},
        // parameter 3 of length 2 is used, though parameter 1 is good
        ModeCase{"BootBadLengthBeatsGoodApp", Concat(Param(3, {1, 2}), Param(1, {1, 0, 2, 0})),
                 kResultBadParameterLength, 0, 0, 0},
        ModeCase{"NeitherParameter", Param(9, {1, 0, 2, 0}), kResultNoAnswerParameter, 0, 0, 0},
        // 254 ends the device's walk; behind it parameter 1 claims 4 bytes
        // but the answer ends after 2 of them
        ModeCase{"DataPastTheAnswer", Concat(Concat(Param(254), Param(9)), {1, 4, 0x12, 0x00}),
                 kResultBadParameterLength, 0, 0, 0},
        ModeCase{"EmptyAnswer", {}, kResultNoAnswerParameter, 0, 0, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(DeviceInfoTest, ModeQueryPassesFailuresThrough) {
  Ask(kItemMode, {}, 32);  // answer type 32: cannot execute
  int32_t bootMode = 0;
  uint16_t v1 = 0, v2 = 0;
  EXPECT_EQ(VK3cmd_GetMode(&bootMode, &v1, &v2), kResultCannotExecute);
}

// --- chip id, item 17, text -------------------------------------------------

TEST_F(DeviceInfoTest, ChipIdNeedsTwentyFourBytes) {
  struct Case {
    const char* name;
    Bytes params;
    ResultCode expected;
  };
  Bytes longer = ChipIdData();
  longer.push_back(0);
  Bytes shorter = ChipIdData();
  shorter.pop_back();
  const Case cases[] = {
      {"length 24", Param(16, ChipIdData()), kResultOk},
      {"length 23", Param(16, shorter), kResultBadParameterLength},
      {"length 25", Param(16, longer), kResultBadParameterLength},
      {"missing", Param(17, {1}), kResultNoAnswerParameter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ask(kItemChipId, c.params);
    uint64_t chipId = 0;
    uint8_t unique[16] = {};
    ASSERT_EQ(VK3cmd_GetChipId(&chipId, unique), c.expected);
    if (c.expected != kResultOk) continue;
    EXPECT_EQ(chipId, 0x0000001200345678u);
    EXPECT_EQ(Bytes(unique, unique + 16), UniqueIdOnly());
  }
  // Without a destination only the chip id is stored.
  Ask(kItemChipId, Param(16, ChipIdData()));
  uint64_t chipId = 0;
  EXPECT_EQ(VK3cmd_GetChipId(&chipId, nullptr), kResultOk);
  EXPECT_EQ(chipId, 0x0000001200345678u);
}

TEST_F(DeviceInfoTest, TextItemEmptiedOnlyByFirstByte255) {
  char text[32];
  Ask(kItemText, Param(209, Bytes(32, 255)));
  ASSERT_EQ(VK3cmd_GetInfoText(text), kResultOk);
  EXPECT_EQ(static_cast<uint8_t>(text[0]), 0);
  EXPECT_EQ(static_cast<uint8_t>(text[1]), 255);

  Ask(kItemText, Param(209, Text('a', 255)));
  ASSERT_EQ(VK3cmd_GetInfoText(text), kResultOk);
  EXPECT_EQ(Bytes(text, text + 32), Text('a', 255));

  Ask(kItemText, Param(209, Bytes(31, 'a')));
  EXPECT_EQ(VK3cmd_GetInfoText(text), kResultBadParameterLength);
}

// --- the composite query and the report ------------------------------------

TEST_F(DeviceInfoTest, CompositeQueryFillsTheRecordInOrder) {
  driver.bridges[0].serial = "ABCDEFGHIJKL";  // longer than the 8 kept
  Ask(kItemMode, Param(3, {0x12, 0x00, 0xA0, 0x01}));
  Ask(kItemChipId, Param(16, ChipIdData()));
  Ask(kItem17, Param(17, {0x5C}));
  Ask(kItemText, Param(209, Text('h', 'i')));
  DeviceInfo info;

  ASSERT_EQ(VK3cmd_GetDeviceInfo(&info), kResultOk);

  EXPECT_EQ(info.bootMode, 1);
  EXPECT_EQ(info.protocolVersion1, 0x0012);
  EXPECT_EQ(info.protocolVersion2, 0x01A0);
  EXPECT_EQ(info.chipId, 0x0000001200345678u);
  EXPECT_EQ(std::string(info.uniqueId, 17), std::string(" BCDE GHIJKLMNO \0", 17));
  EXPECT_EQ(info.infoItem17, 0x5C);
  EXPECT_EQ(std::string(info.bridgeSerial, 9), std::string("ABCDEFGH\0", 9));
  EXPECT_STREQ(info.bridgeDescription, "Vesk-3 HandController");
  EXPECT_EQ(Bytes(info.infoText, info.infoText + 33), Concat(Text('h', 'i'), {0}));
}

TEST_F(DeviceInfoTest, ReportShowsTheFivePieces) {
  Ask(kItemMode, Param(3, {0x12, 0x00, 0xA0, 0x01}));
  Ask(kItemChipId, Param(16, Concat(ChipIdOnly(), Bytes(16, 0))));  // all-zero unique id
  Ask(kItem17, Param(17, {0}));
  Ask(kItemText, Param(209, Text(255)));

  ShowDeviceInfo(panel);

  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].text,
            "FTDI info:\n  Serial: VK3A0001\n\n"
            "Vesk-3 info:\n  Mode: BOOT\n"
            "  Protocol ver.: 0012 / 01a0\n"
            "  Chip ID: 12-00345678\n"
            "  Unique ID: '                '\n");
  EXPECT_EQ(panel.boxes[0].caption, "Vesk-3 device info");
  EXPECT_EQ(panel.boxes[0].icon, BoxIcon::None);
}

TEST(DeviceInfoReportText, AppModeAndEmptySerial) {
  DeviceInfo info;
  info.protocolVersion1 = 0xBEEF;
  info.protocolVersion2 = 1;
  info.chipId = 0xFEDCBA9800000001u;
  std::memcpy(info.uniqueId, "0123456789abcdef", 16);
  EXPECT_EQ(DeviceInfoReport(info),
            "FTDI info:\n  Serial: \n\n"
            "Vesk-3 info:\n  Mode: APP\n"
            "  Protocol ver.: beef / 0001\n"
            "  Chip ID: fedcba98-00000001\n"
            "  Unique ID: '0123456789abcdef'\n");
}

TEST_F(DeviceInfoTest, FailingSerialQueryStillGivesTheReport) {
  driver.FailCall("GetDeviceInfo", kFtIoError);  // the serial query's; the description's works
  Ask(kItemMode, Param(1, {1, 0, 2, 0}));
  Ask(kItemChipId, Param(16, ChipIdData()));
  Ask(kItem17, Param(17, {0}));
  Ask(kItemText, Param(209, Text('a')));

  ShowDeviceInfo(panel);

  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].text.rfind("FTDI info:\n  Serial: \n\nVesk-3 info:", 0), 0u);
}

TEST_F(DeviceInfoTest, ErrorInTheLastStepGivesTheErrorBox) {
  Ask(kItemMode, Param(1, {1, 0, 2, 0}));
  Ask(kItemChipId, Param(16, ChipIdData()));
  Ask(kItem17, Param(17, {0}));
  Ask(kItemText, {}, 32);  // the device cannot execute the text item

  ShowDeviceInfo(panel);

  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].text, std::string("Error: ") + ResultText(kResultCannotExecute));
  EXPECT_EQ(panel.boxes[0].caption, "ERROR");
  EXPECT_EQ(panel.boxes[0].icon, BoxIcon::Error);
  EXPECT_EQ(panel.state, Connected);
}

TEST_F(DeviceInfoTest, FirstFailureEndsTheCompositeQuery) {
  struct Case {
    const char* name;
    uint8_t failingItem;
    Bytes params;
    ResultCode expected;
  };
  // Each step's failure is returned and no later item is asked for.
  const Case cases[] = {
      {"mode missing", kItemMode, {}, kResultNoAnswerParameter},
      {"chip id short", kItemChipId, Param(16, {1, 2, 3}), kResultBadParameterLength},
      {"item 17 long", kItem17, Param(17, {1, 2}), kResultBadParameterLength},
      {"item 17 missing", kItem17, {}, kResultNoAnswerParameter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.failingItem != kItemMode) Ask(kItemMode, Param(1, {1, 0, 2, 0}));
    if (c.failingItem == kItem17) Ask(kItemChipId, Param(16, ChipIdData()));
    Ask(c.failingItem, c.params);
    DeviceInfo info;
    EXPECT_EQ(VK3cmd_GetDeviceInfo(&info), c.expected);
    EXPECT_EQ(driver.StepsLeft(), 0u);
  }
}

TEST_F(DeviceInfoTest, PoweredOffInPlaceOfTheModeAnswerIsAnErrorBoxToo) {
  Exchange({kInfo, 1, kItemMode, 0xFF}, Notification(0x36));

  ShowDeviceInfo(panel);

  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].text, std::string("Error: ") + ResultText(kResultPoweredOff));
  EXPECT_TRUE(panel.notifications.empty());
}

}  // namespace
