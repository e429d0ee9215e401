#include "services/colors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/command_channel.h"
#include "tests/services/service_fixture.h"

namespace {

constexpr uint8_t kColors = 0xFD;  // command 253
constexpr uint8_t kRead = 0xC1;    // parameter 193
constexpr uint8_t kWrite = 0xC2;   // parameter 194

class ColorEntries : public ServiceTest {
 protected:
  uint8_t NextCounter() { return counter_++; }

  // Reading entry `index` (2 bytes little-endian); the device answers with
  // `params` after the header.
  void ExpectRead(Bytes index, const Bytes& params) {
    const uint8_t counter = NextCounter();
    Exchange(Concat({kColors, counter, kRead}, Concat(index, {0xFF})),
             Answer(kColors, counter, 0, params));
  }
  // Blue, green, red, 0 in the answer's first parameter: L = 11.
  void ExpectReadColor(Bytes index, uint8_t red, uint8_t green, uint8_t blue) {
    ExpectRead(index, Param(kRead, {blue, green, red, 0}));
  }

  uint32_t currentColor = 0;

 private:
  uint8_t counter_ = 1;
};

TEST_F(ColorEntries, NoSelectionSendsNothingAndOpensNoPicker) {
  panel.selection = -1;

  ReadColorEntry(panel, currentColor);
  ChangeColorEntry(panel, currentColor);

  EXPECT_EQ(panel.labels, (std::vector<std::string>{"Colors:", "Colors:"}));
  EXPECT_EQ(panel.pickerOpened, 0);
  EXPECT_TRUE(driver.WrittenBytes().empty());
}

TEST_F(ColorEntries, ReadShowsRedGreenBlueOfTheEntry) {
  panel.selection = 3;
  ExpectReadColor({0x03, 0x00}, 48, 32, 16);  // the bytes 0x10, 0x20, 0x30, 0x00

  ReadColorEntry(panel, currentColor);

  EXPECT_EQ(panel.labels, std::vector<std::string>{"Colors:  (48, 32, 16)"});
  EXPECT_EQ(currentColor, 0x00302010u);
}

TEST_F(ColorEntries, IndexIsTheSelectionsLow16Bits) {
  struct Case {
    int selection;
    Bytes index;
  };
  for (const Case& c : {Case{0x1234, {0x34, 0x12}}, Case{70000, {0x70, 0x11}}}) {
    panel.selection = c.selection;
    ExpectReadColor(c.index, 1, 2, 3);
    ReadColorEntry(panel, currentColor);
  }
  EXPECT_EQ(panel.labels.size(), 2u);
}

TEST_F(ColorEntries, AnswerLengthDecidesWhatIsShown) {
  panel.selection = 0;
  ExpectReadColor({0x00, 0x00}, 48, 32, 16);
  ReadColorEntry(panel, currentColor);
  struct Case {
    const char* name;
    Bytes params;
    std::vector<std::string> newLabels;
  };
  const Case cases[] = {
      // L = 10 and 9: the colour bytes are incomplete, the previous colour shows again
      {"length 10", {kRead, 3, 0xAA, 0xBB, 0xCC}, {"Colors:  (48, 32, 16)"}},
      {"length 9", {kRead, 2, 0xAA, 0xBB}, {"Colors:  (48, 32, 16)"}},
      // L = 8: the label keeps its text
      {"length 8", {kRead, 1, 0xAA}, {}},
      {"length 5", {}, {}},
      // L = 12: bytes 7-10 are the entry, whatever follows
      {"length 12", {kRead, 5, 0x01, 0x02, 0x03, 0x00, 0x09}, {"Colors:  (3, 2, 1)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    panel.labels.clear();
    ExpectRead({0x00, 0x00}, c.params);
    ReadColorEntry(panel, currentColor);
    EXPECT_EQ(panel.labels, c.newLabels);
  }
}

TEST_F(ColorEntries, FailedReadLeavesTheLabel) {
  panel.selection = 0;
  Exchange({kColors, 0x01, kRead, 0x00, 0x00, 0xFF}, Answer(kColors, 0x01, 32));  // cannot execute

  ReadColorEntry(panel, currentColor);

  EXPECT_TRUE(panel.labels.empty());
  EXPECT_TRUE(panel.ShowedNothing());
}

TEST_F(ColorEntries, ChangeWritesThePickedColourAndReadsItBack) {
  panel.selection = 3;
  ExpectReadColor({0x03, 0x00}, 48, 32, 16);
  panel.pickerChoice[0] = 255;  // pure red
  // 194, index 3, then blue 0, green 0, red 255, 0 appended, terminator
  Exchange({kColors, 0x02, kWrite, 0x03, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF},
           Answer(kColors, 0x02, 0));
  NextCounter();
  ExpectReadColor({0x03, 0x00}, 255, 0, 0);

  ChangeColorEntry(panel, currentColor);

  EXPECT_EQ(panel.pickerOpened, 1);
  EXPECT_EQ(Bytes(panel.pickerStart, panel.pickerStart + 3), (Bytes{48, 32, 16}));
  EXPECT_EQ(panel.labels,
            (std::vector<std::string>{"Colors:  (48, 32, 16)", "Colors:  (255, 0, 0)"}));
  EXPECT_EQ(currentColor, 0x00FF0000u);
}

TEST_F(ColorEntries, CancelledPickerSendsNothing) {
  panel.selection = 1;
  ExpectReadColor({0x01, 0x00}, 7, 8, 9);
  panel.pickerOk = false;

  ChangeColorEntry(panel, currentColor);

  EXPECT_EQ(panel.pickerOpened, 1);
  EXPECT_EQ(panel.labels, std::vector<std::string>{"Colors:  (7, 8, 9)"});
}

TEST_F(ColorEntries, FailedWriteIsFollowedByTheReadBack) {
  panel.selection = 2;
  currentColor = 0x00010203;  // what the picker starts from when the first read fails
  Exchange({kColors, 0x01, kRead, 0x02, 0x00, 0xFF}, Answer(kColors, 0x01, 32));
  panel.pickerChoice[2] = 0x80;  // blue
  Exchange({kColors, 0x02, kWrite, 0x02, 0x00, 0x80, 0x00, 0x00, 0x00, 0xFF},
           Answer(kColors, 0x02, 32));
  Exchange({kColors, 0x03, kRead, 0x02, 0x00, 0xFF},
           Answer(kColors, 0x03, 0, Param(kRead, {0x11, 0x22, 0x33, 0})));

  ChangeColorEntry(panel, currentColor);

  EXPECT_EQ(Bytes(panel.pickerStart, panel.pickerStart + 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(panel.labels, std::vector<std::string>{"Colors:  (51, 34, 17)"});
  EXPECT_TRUE(panel.ShowedNothing());
}

}  // namespace
