// The hand controller's own user interface: the menu and its keys, the pages
// that change by themselves, the colour table it draws with, its text.
#include "sim/firmware_ui.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sim/font.h"
#include "sim/hand_controller.h"

namespace {

using Picture = std::vector<uint16_t>;

Picture Shown(const HandController& device) {
  return Picture(device.Screen(), device.Screen() + kDisplayPixels);
}

void Press(HandController& device, std::initializer_list<UiKey> keys) {
  for (UiKey key : keys) {
    device.PressKey(key);
    device.ReleaseKey(key);
  }
}

TEST(FirmwareUi, KeysMoveTheMenuOpenItemsAndGoBack) {
  struct Case {
    const char* what;
    std::initializer_list<UiKey> keys;
    UiPage page;
    int selection;
  };
  const Case cases[] = {
      {"at power-up: the menu, first item", {}, UiPage::Menu, 0},
      {"Down twice, Enter: the colours",
       {UiKey::Down, UiKey::Down, UiKey::Enter},
       UiPage::Colours,
       2},
      {"Up from the top wraps to the last item", {UiKey::Up}, UiPage::Menu, 4},
      {"Enter then Esc: back in the menu", {UiKey::Enter, UiKey::Esc}, UiPage::Menu, 0},
      {"Left and Right do nothing in the menu", {UiKey::Left, UiKey::Right}, UiPage::Menu, 0},
  };
  for (const Case& c : cases) {
    HandController device;
    Press(device, c.keys);
    EXPECT_EQ(device.Ui().Page(), c.page) << c.what;
    EXPECT_EQ(device.Ui().MenuSelection(), c.selection) << c.what;
  }
}

TEST(FirmwareUi, TheNotificationsPageSendsWhatIsChosen) {
  HandController device;
  device.HostBytes(std::vector<uint8_t>{0x00}.data(), 1, kWakeUpBaud, 0);
  Press(device, {UiKey::Down, UiKey::Down, UiKey::Down, UiKey::Enter});
  ASSERT_EQ(device.Ui().Page(), UiPage::Notifications);
  const Picture before = Shown(device);

  Press(device, {UiKey::Enter});               // "Busy notice"
  Press(device, {UiKey::Down, UiKey::Enter});  // "System change"
  std::vector<uint8_t> out(device.PendingDeviceBytes());
  out.resize(device.TakeDeviceBytes(out.data(), out.size(), kWorkBaud, 0));
  EXPECT_EQ(out, (std::vector<uint8_t>{0xFB, 0xAA, 0, 0, 0, 0xFB, 0x51, 0, 0, 0}));
  EXPECT_NE(Shown(device), before);  // "Sent: ..." shows

  Press(device, {UiKey::Down, UiKey::Enter});  // "Switch off"
  EXPECT_TRUE(device.SwitchedOff());
  EXPECT_TRUE(std::all_of(device.Screen(), device.Screen() + kDisplayPixels,
                          [](uint16_t p) { return p == 0; }));
}

TEST(FirmwareUi, TheScreenChangesByItself) {
  HandController device;
  const Picture atStart = Shown(device);
  device.Tick(100000);  // the menu: nothing moves within a second
  EXPECT_EQ(Shown(device), atStart);
  device.Tick(1000000);  // the title bar clock
  EXPECT_NE(Shown(device), atStart);

  Press(device, {UiKey::Enter});  // the status page: the bar moves every 100 ms
  const Picture status = Shown(device);
  device.Tick(1100000);
  EXPECT_NE(Shown(device), status);
  // Small changes, as a mirror of it needs: a bar step touches a few rows only.
  const Picture stepped = Shown(device);
  int changed = 0;
  for (int i = 0; i < kDisplayPixels; ++i) changed += stepped[i] != status[i];
  EXPECT_LT(changed, kDisplayPixels / 20);
}

TEST(FirmwareUi, AWrittenColourEntryShowsWhereTheUiUsesIt) {
  HandController device;
  const int backgroundPixel = 60 * kDisplayWidth + 235;  // right of the heading, below the title
  const int titlePixel = 0;
  device.SetColorEntry(kColorBackground, {0x00, 0x00, 0xFF, 0x00});  // blue, green, red: red
  EXPECT_EQ(device.Screen()[backgroundPixel], 0xF800);
  device.SetColorEntry(kColorTitleBar, {0xFF, 0x00, 0x00, 0x00});
  EXPECT_EQ(device.Screen()[titlePixel], 0x001F);
}

TEST(FirmwareUi, TextIsDrawnInTheBitmapFont) {
  Picture screen(kDisplayPixels, 0);
  DrawText(screen.data(), 10, 20, "A", 2, 0xFFFF);
  const uint8_t* rows = GlyphRows('A');
  for (int row = 0; row < kGlyphHeight; ++row) {
    for (int col = 0; col < kGlyphWidth; ++col) {
      const bool ink = rows[row] & (0x10 >> col);
      // Each glyph pixel is a 2 x 2 block.
      EXPECT_EQ(screen[(20 + 2 * row + 1) * kDisplayWidth + 10 + 2 * col + 1], ink ? 0xFFFF : 0)
          << row << "," << col;
    }
  }
  EXPECT_EQ(TextWidth("VESK-3", 2), 72);
  EXPECT_EQ(GlyphRows('\x7F'), GlyphRows('?'));
}

}  // namespace
