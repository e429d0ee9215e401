// Command frames: built in place, counted 1..239, validated against the
// descriptor table, never longer than 528 bytes.
#include "protocol/command_frame.h"

#include <gtest/gtest.h>

#include "link/usb_device.h"
#include "protocol/command_channel.h"
#include "protocol/link_startup.h"
#include "tests/support/core_fixture.h"

namespace {

class CommandFrameTest : public CoreTest {
 protected:
  Bytes Frame() const {
    const CommandFrame& f = theChannel.commandFrame;
    return Bytes(f.bytes, f.bytes + f.count);
  }
  // command 248 takes parameter 16 (no data); command 253 takes 193 with 2 bytes
  void LoadSmallTable() {
    ASSERT_EQ(VK3cmd_LoadDescriptorTable(
                  DescriptorBlock({{248, {{16, 0}}}, {253, {{193, 2}}}}).data(), 9),
              kDescriptorOk);
  }
};

TEST_F(CommandFrameTest, CounterRunsOneTo239AndWrapsToOne) {
  for (int expected = 1; expected <= 239; ++expected) {
    ASSERT_EQ(VK3cmd_Begin(209), kFrameOk);
    ASSERT_EQ(theChannel.commandFrame.bytes[1], expected);
  }
  ASSERT_EQ(VK3cmd_Begin(209), kFrameOk);
  EXPECT_EQ(theChannel.commandFrame.bytes[1], 1);  // the 240th frame
}

TEST_F(CommandFrameTest, WithAnEmptyTableEverythingIsTaken) {
  const uint8_t data[] = {0xA1, 0xA2, 0xA3};
  EXPECT_EQ(VK3cmd_Begin(99), kFrameOk);
  EXPECT_EQ(VK3cmd_AddParam(5, data, 3), kFrameOk);
  EXPECT_EQ(VK3cmd_AddParam(6, nullptr, 0), kFrameOk);
  //                 code counter  id  data              id
  EXPECT_EQ(Frame(), (Bytes{99, 1, 5, 0xA1, 0xA2, 0xA3, 6}));
}

TEST_F(CommandFrameTest, TableValidatesIdsAndLengthsAndLeavesRejectedOnesOut) {
  LoadSmallTable();
  const uint8_t index[] = {0x34, 0x12};
  EXPECT_EQ(VK3cmd_Begin(253), kFrameOk);
  EXPECT_EQ(VK3cmd_AddParam(194, index, 2), kFrameUnknownParam);  // not in 253's entry
  EXPECT_EQ(VK3cmd_AddParam(193, index, 1), kFrameWrongLength);   // table says 2
  EXPECT_EQ(VK3cmd_AddParam(193, nullptr, 0), kFrameWrongLength);
  EXPECT_EQ(VK3cmd_AddParam(193, index, 2), kFrameOk);  // later ones still go in
  EXPECT_EQ(Frame(), (Bytes{253, 1, 193, 0x34, 0x12}));
}

TEST_F(CommandFrameTest, AnUnknownCommandLeavesTheFrameEmptyAndTheCounterUnused) {
  LoadSmallTable();
  theChannel.FrameCounter = 7;
  EXPECT_EQ(VK3cmd_Begin(174), kFrameUnknownCommand);
  EXPECT_EQ(theChannel.commandFrame.count, 0);
  EXPECT_EQ(theChannel.FrameCounter, 7);
  // parameters after a rejected command are not validated and start at byte 0
  EXPECT_EQ(VK3cmd_AddParam(0x21, nullptr, 0), kFrameOk);
  EXPECT_EQ(Frame(), (Bytes{0x21}));
  EXPECT_EQ(VK3cmd_Begin(248), kFrameOk);
  EXPECT_EQ(theChannel.commandFrame.bytes[1], 7);
}

TEST_F(CommandFrameTest, AppendDataCutsAt528) {
  const Bytes data = Counting(600);
  VK3cmd_Begin(253);
  EXPECT_EQ(VK3cmd_AppendData(data.data(), 520), kFrameOk);
  EXPECT_EQ(theChannel.commandFrame.count, 522);
  EXPECT_EQ(VK3cmd_AppendData(data.data() + 520, 10), kFrameFull);
  EXPECT_EQ(theChannel.commandFrame.count, 528);
  EXPECT_EQ(theChannel.commandFrame.bytes[527], data[525]);  // 6 of the 10 went in
  EXPECT_EQ(VK3cmd_AppendData(data.data(), 1), kFrameFull);
  EXPECT_EQ(theChannel.commandFrame.count, 528);
}

TEST_F(CommandFrameTest, AppendDataOfTheLargestLengthDoesNotWrapTheCount) {
  const Bytes data(65535, 0x5A);
  VK3cmd_Begin(253);
  EXPECT_EQ(VK3cmd_AppendData(data.data(), 65535), kFrameFull);
  EXPECT_EQ(theChannel.commandFrame.count, 528);
}

TEST_F(CommandFrameTest, AddParamOnAFullFrame) {
  const Bytes data = Counting(600);
  const uint8_t two[] = {0xB1, 0xB2};
  VK3cmd_Begin(253);
  VK3cmd_AppendData(data.data(), 525);  // count 527
  // the id still fits, its data does not
  EXPECT_EQ(VK3cmd_AddParam(193, two, 2), kFrameFull);
  EXPECT_EQ(theChannel.commandFrame.count, 528);
  EXPECT_EQ(theChannel.commandFrame.bytes[527], 193);
  // nothing at all fits any more
  EXPECT_EQ(VK3cmd_AddParam(7, nullptr, 0), kFrameFull);
  EXPECT_EQ(theChannel.commandFrame.count, 528);
}

// ---- the descriptor block -----------------------------------------------------

TEST_F(CommandFrameTest, DescriptorBlocksLoadAsFarAsTheyGo) {
  struct Case {
    const char* what;
    Bytes block;
    int result;
    DescriptorMap table;
  };
  const std::vector<Case> cases = {
      {"nothing", {}, kDescriptorCutShort, {}},
      {"no entries", {0}, kDescriptorOk, {}},
      {"two commands",
       {2, 248, 2, 16, 0, 17, 0, 253, 1, 193, 2},
       kDescriptorOk,
       {{248, {{16, 0}, {17, 0}}}, {253, {{193, 2}}}}},
      {"a command without parameters", {1, 174, 0}, kDescriptorOk, {{174, {}}}},
      {"a code twice adds to one entry; an id twice keeps its last length",
       {2, 248, 2, 16, 0, 16, 3, 248, 1, 17, 0},
       kDescriptorOk,
       {{248, {{16, 3}, {17, 0}}}}},
      {"cut inside a pair",
       {2, 248, 1, 16, 0, 253, 1, 193},
       kDescriptorCutShort,
       {{248, {{16, 0}}}, {253, {}}}},
      // the entry of a code whose parameter count is missing stays, empty
      {"cut before the parameter count",
       {2, 248, 0, 253},
       kDescriptorCutShort,
       {{248, {}}, {253, {}}}},
      {"cut before the second code", {2, 248, 0}, kDescriptorCutShort, {{248, {}}}},
      {"bytes left over", {1, 248, 1, 16, 0, 0xEE}, kDescriptorLeftOver, {{248, {{16, 0}}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    theChannel.DescriptorTable[1][1] = 1;  // emptied first
    EXPECT_EQ(VK3cmd_LoadDescriptorTable(c.block.data(), static_cast<int32_t>(c.block.size())),
              c.result);
    EXPECT_EQ(theChannel.DescriptorTable, c.table);
  }
}

TEST_F(CommandFrameTest, InitEmptiesTheTableAndRestartsTheCounter) {
  LoadSmallTable();
  theChannel.FrameCounter = 100;
  theUsbDevice.DeviceKind = 0;
  VK3cmd_Init();
  EXPECT_TRUE(theChannel.DescriptorTable.empty());
  EXPECT_EQ(theChannel.FrameCounter, 1);
  EXPECT_EQ(theUsbDevice.DeviceKind, kDeviceKindHandController);
}

}  // namespace
