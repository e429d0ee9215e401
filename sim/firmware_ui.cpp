#include "sim/firmware_ui.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/font.h"

namespace {

constexpr uint64_t kUsPerSecond = 1000000;
constexpr int kMargin = 8;
constexpr int kTitleBarHeight = 30;
constexpr int kTextScale = 2;
constexpr int kHintScale = 1;
constexpr int kHeadingY = 40;
constexpr int kListTop = 72;
constexpr int kListRowHeight = 36;
constexpr int kListBarHeight = 30;
constexpr int kFooterY = 296;
constexpr int kBarY = 220;
constexpr int kBarHeight = 20;
constexpr int kBarBlockWidth = 40;
constexpr int kBarStepPixels = 6;
constexpr int kCounterScale = 6;
constexpr int kSwatchColumns = 4;
constexpr int kSwatchWidth = 52;
constexpr int kSwatchHeight = 40;
constexpr int kSwatchPitchX = 57;
constexpr int kSwatchPitchY = 54;

const std::array<const char*, 5> kMenuItems = {"Status", "Counter", "Colours", "Notifications",
                                               "About"};
const std::array<UiPage, 5> kMenuPages = {UiPage::Status, UiPage::Counter, UiPage::Colours,
                                          UiPage::Notifications, UiPage::About};
const std::array<const char*, 3> kNotifyItems = {"Busy notice", "System change", "Switch off"};
const std::array<UiAction, 3> kNotifyActions = {UiAction::NotifyBusy, UiAction::NotifySystemChange,
                                                UiAction::SwitchOff};
const std::array<const char*, kUiKeyCount> kKeyNames = {"ESC",   "ENTER", "LEFT",
                                                        "RIGHT", "UP",    "DOWN"};

int Wrap(int value, int count) {
  return ((value % count) + count) % count;
}

std::string Clock(uint64_t seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u", static_cast<unsigned>(seconds / 60 % 60),
                static_cast<unsigned>(seconds % 60));
  return text;
}

std::string LongClock(uint64_t seconds) {
  char text[24];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", static_cast<unsigned>(seconds / 3600 % 100),
                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  return text;
}

void DrawList(uint16_t* screen, const uint16_t* palette, const char* const* items, int count,
              int selected) {
  for (int i = 0; i < count; ++i) {
    const int y = kListTop + i * kListRowHeight;
    uint16_t textColor = palette[kColorText];
    if (i == selected) {
      FillRect(screen, kMargin, y, kDisplayWidth - 2 * kMargin, kListBarHeight,
               palette[kColorSelection]);
      textColor = palette[kColorSelectionText];
    }
    DrawText(screen, 2 * kMargin, y + 8, items[i], kTextScale, textColor);
  }
}

}  // namespace

void FillRect(uint16_t* screen, int x, int y, int w, int h, uint16_t color) {
  const int x0 = std::max(x, 0);
  const int y0 = std::max(y, 0);
  const int x1 = std::min(x + w, kDisplayWidth);
  const int y1 = std::min(y + h, kDisplayHeight);
  for (int row = y0; row < y1; ++row) {
    std::fill(screen + row * kDisplayWidth + x0, screen + row * kDisplayWidth + std::max(x0, x1),
              color);
  }
}

int TextWidth(const std::string& text, int scale) {
  return static_cast<int>(text.size()) * kGlyphCellWidth * scale;
}

void DrawText(uint16_t* screen, int x, int y, const std::string& text, int scale, uint16_t color) {
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t* rows = GlyphRows(text[i]);
    const int left = x + static_cast<int>(i) * kGlyphCellWidth * scale;
    for (int row = 0; row < kGlyphHeight; ++row) {
      for (int col = 0; col < kGlyphWidth; ++col) {
        if (rows[row] & (0x10 >> col)) {
          FillRect(screen, left + col * scale, y + row * scale, scale, scale, color);
        }
      }
    }
  }
}

void FirmwareUi::Start(uint64_t nowUs) {
  page_ = UiPage::Menu;
  menuSelection_ = 0;
  notifySelection_ = 0;
  counter_ = 0;
  keyPresses_ = 0;
  lastKey_ = -1;
  notice_.clear();
  startUs_ = nowUs;
  step_ = 0;
  seconds_ = 0;
}

bool FirmwareUi::Tick(uint64_t nowUs) {
  if (nowUs < startUs_) return false;
  const uint64_t step = UptimeUs(nowUs) / kAnimationStepUs;
  const uint64_t seconds = UptimeUs(nowUs) / kUsPerSecond;
  const bool newStep = step != step_;
  const bool newSecond = seconds != seconds_;
  if (newSecond && page_ == UiPage::Counter) counter_ += static_cast<int32_t>(seconds - seconds_);
  step_ = step;
  seconds_ = seconds;
  return newSecond || (newStep && page_ == UiPage::Status);
}

UiAction FirmwareUi::Key(UiKey key, bool pressed, uint64_t nowUs) {
  Tick(nowUs);
  if (!pressed) return UiAction::None;
  ++keyPresses_;
  lastKey_ = static_cast<int>(key);
  return KeyOnPage(key);
}

void FirmwareUi::OpenMenuItem() {
  page_ = kMenuPages[menuSelection_];
  if (page_ == UiPage::Notifications) notice_.clear();
}

UiAction FirmwareUi::KeyOnPage(UiKey key) {
  if (page_ == UiPage::Menu) {
    const int count = static_cast<int>(kMenuItems.size());
    if (key == UiKey::Up) menuSelection_ = Wrap(menuSelection_ - 1, count);
    if (key == UiKey::Down) menuSelection_ = Wrap(menuSelection_ + 1, count);
    if (key == UiKey::Enter) OpenMenuItem();
    return UiAction::None;
  }
  if (key == UiKey::Esc) {
    page_ = UiPage::Menu;
    return UiAction::None;
  }
  if (page_ == UiPage::Counter) {
    if (key == UiKey::Left) counter_ -= 1;
    if (key == UiKey::Right) counter_ += 1;
    if (key == UiKey::Up) counter_ += 10;
    if (key == UiKey::Down) counter_ -= 10;
  }
  if (page_ == UiPage::Notifications) {
    const int count = static_cast<int>(kNotifyItems.size());
    if (key == UiKey::Up) notifySelection_ = Wrap(notifySelection_ - 1, count);
    if (key == UiKey::Down) notifySelection_ = Wrap(notifySelection_ + 1, count);
    if (key == UiKey::Enter) return kNotifyActions[notifySelection_];
  }
  return UiAction::None;
}

void FirmwareUi::Render(uint16_t* screen, const uint16_t* palette) const {
  FillRect(screen, 0, 0, kDisplayWidth, kDisplayHeight, palette[kColorBackground]);
  DrawTitleBar(screen, palette);
  switch (page_) {
    case UiPage::Menu:
      DrawMenu(screen, palette);
      break;
    case UiPage::Status:
      DrawStatus(screen, palette);
      break;
    case UiPage::Counter:
      DrawCounter(screen, palette);
      break;
    case UiPage::Colours:
      DrawColours(screen, palette);
      break;
    case UiPage::Notifications:
      DrawNotifications(screen, palette);
      break;
    case UiPage::About:
      DrawAbout(screen, palette);
      break;
  }
}

void FirmwareUi::DrawTitleBar(uint16_t* screen, const uint16_t* palette) const {
  FillRect(screen, 0, 0, kDisplayWidth, kTitleBarHeight, palette[kColorTitleBar]);
  DrawText(screen, kMargin, 8, title_, kTextScale, palette[kColorTitleText]);
  const std::string clock = Clock(seconds_);
  DrawText(screen, kDisplayWidth - kMargin - TextWidth(clock, kTextScale), 8, clock, kTextScale,
           palette[kColorTitleText]);
}

void FirmwareUi::DrawFooter(uint16_t* screen, const uint16_t* palette, const char* hint) const {
  FillRect(screen, 0, kFooterY - 4, kDisplayWidth, 2, palette[kColorDim]);
  DrawText(screen, kMargin, kFooterY + 6, hint, kHintScale, palette[kColorDim]);
}

void FirmwareUi::DrawMenu(uint16_t* screen, const uint16_t* palette) const {
  DrawText(screen, kMargin, kHeadingY, "Menu", kTextScale, palette[kColorAccent]);
  DrawList(screen, palette, kMenuItems.data(), static_cast<int>(kMenuItems.size()), menuSelection_);
  DrawFooter(screen, palette, "UP/DOWN select   ENTER open");
}

void FirmwareUi::DrawStatus(uint16_t* screen, const uint16_t* palette) const {
  DrawText(screen, kMargin, kHeadingY, "Status", kTextScale, palette[kColorAccent]);
  const uint16_t text = palette[kColorText];
  DrawText(screen, kMargin, 80, "Uptime " + LongClock(seconds_), kTextScale, text);
  DrawText(screen, kMargin, 110,
           std::string("Key    ") + (lastKey_ >= 0 ? kKeyNames[lastKey_] : "-"), kTextScale, text);
  DrawText(screen, kMargin, 140, "Presses " + std::to_string(keyPresses_), kTextScale, text);
  DrawText(screen, kMargin, 190, "Working...", kTextScale, text);
  const int track = kDisplayWidth - 2 * kMargin;
  FillRect(screen, kMargin, kBarY, track, kBarHeight, palette[kColorDim]);
  const int travel = track - kBarBlockWidth;
  const int offset = static_cast<int>((step_ * kBarStepPixels) % static_cast<uint64_t>(travel));
  FillRect(screen, kMargin + offset, kBarY, kBarBlockWidth, kBarHeight, palette[kColorAccent]);
  DrawFooter(screen, palette, "ESC back");
}

void FirmwareUi::DrawCounter(uint16_t* screen, const uint16_t* palette) const {
  DrawText(screen, kMargin, kHeadingY, "Counter", kTextScale, palette[kColorAccent]);
  const std::string value = std::to_string(counter_);
  DrawText(screen, (kDisplayWidth - TextWidth(value, kCounterScale)) / 2, 130, value, kCounterScale,
           palette[kColorText]);
  DrawFooter(screen, palette, "LEFT/RIGHT 1  UP/DOWN 10  ESC back");
}

void FirmwareUi::DrawColours(uint16_t* screen, const uint16_t* palette) const {
  DrawText(screen, kMargin, kHeadingY, "Colours", kTextScale, palette[kColorAccent]);
  for (int i = 0; i < kColorSwatchCount; ++i) {
    const int x = kMargin + (i % kSwatchColumns) * kSwatchPitchX;
    const int y = kListTop - 8 + (i / kSwatchColumns) * kSwatchPitchY;
    FillRect(screen, x - 1, y - 1, kSwatchWidth + 2, kSwatchHeight + 2, palette[kColorDim]);
    FillRect(screen, x, y, kSwatchWidth, kSwatchHeight, palette[kColorSwatchFirst + i]);
    DrawText(screen, x, y + kSwatchHeight + 3, std::to_string(kColorSwatchFirst + i), kHintScale,
             palette[kColorText]);
  }
  DrawFooter(screen, palette, "ESC back");
}

void FirmwareUi::DrawNotifications(uint16_t* screen, const uint16_t* palette) const {
  DrawText(screen, kMargin, kHeadingY, "Notifications", kTextScale, palette[kColorAccent]);
  DrawList(screen, palette, kNotifyItems.data(), static_cast<int>(kNotifyItems.size()),
           notifySelection_);
  if (!notice_.empty()) DrawText(screen, kMargin, 200, notice_, kTextScale, palette[kColorText]);
  DrawFooter(screen, palette, "ENTER send   ESC back");
}

void FirmwareUi::DrawAbout(uint16_t* screen, const uint16_t* palette) const {
  DrawText(screen, kMargin, kHeadingY, "About", kTextScale, palette[kColorAccent]);
  for (size_t i = 0; i < aboutLines_.size(); ++i) {
    DrawText(screen, kMargin, kListTop + static_cast<int>(i) * 26, aboutLines_[i], kTextScale,
             palette[kColorText]);
  }
  DrawFooter(screen, palette, "ESC back");
}
