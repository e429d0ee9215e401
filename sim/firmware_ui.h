// The hand controller's own user interface, drawn into its 240 x 320 screen.
//
// Owns: the pages (a main menu moved by Up/Down, Enter opening an item, Esc
// going back; a status page with an uptime clock and a moving bar; a counter;
// the colour swatches; a page that sends notifications; an about page), what
// each key does on them, and drawing them in the bitmap font with colours
// taken from the device's colour table by role.
// Does not own: the colour table or the notifications themselves (the
// HandController owns and sends them; Key() only asks for them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/wire.h"

// Device key numbers, as button events and the hardware Esc line deliver them.
enum class UiKey : int {
  Esc = kKeyEsc,
  Enter = kKeyEnter,
  Left = kKeyLeft,
  Right = kKeyRight,
  Up = kKeyUp,
  Down = kKeyDown
};
constexpr int kUiKeyCount = kKeyCount;

// The colour table entries the interface draws with.
constexpr uint16_t kColorBackground = 0;
constexpr uint16_t kColorTitleBar = 1;
constexpr uint16_t kColorTitleText = 2;
constexpr uint16_t kColorText = 3;
constexpr uint16_t kColorSelection = 4;
constexpr uint16_t kColorSelectionText = 5;
constexpr uint16_t kColorAccent = 6;
constexpr uint16_t kColorDim = 7;
constexpr uint16_t kColorSwatchFirst = 0;  // the colours page shows entries 0..15
constexpr int kColorSwatchCount = 16;
constexpr uint16_t kColorRolesUsed = 16;  // the palette Render reads has at least this many

enum class UiPage { Menu, Status, Counter, Colours, Notifications, About };

// What a key asks the device to do beyond redrawing.
enum class UiAction { None, NotifyBusy, NotifySystemChange, SwitchOff };

class FirmwareUi {
 public:
  static constexpr uint64_t kAnimationStepUs = 100000;  // the moving bar's step

  // Power-up: the main menu, the uptime clock at 0.
  void Start(uint64_t nowUs);
  // A key went down (pressed) or up. Returns what the device must do.
  UiAction Key(UiKey key, bool pressed, uint64_t nowUs);
  // The interface's clock; true when what is shown has changed.
  bool Tick(uint64_t nowUs);
  // Draws the current page; palette[i] is colour table entry i as RGB565.
  void Render(uint16_t* screen, const uint16_t* palette) const;

  void SetTitle(const std::string& title) { title_ = title; }
  void SetAboutLines(const std::vector<std::string>& lines) { aboutLines_ = lines; }
  // Shown on the notifications page after one was sent.
  void SetNotice(const std::string& notice) { notice_ = notice; }

  UiPage Page() const { return page_; }
  int MenuSelection() const { return menuSelection_; }
  int NotifySelection() const { return notifySelection_; }
  int32_t Counter() const { return counter_; }
  uint32_t KeyPresses() const { return keyPresses_; }

 private:
  uint64_t UptimeUs(uint64_t nowUs) const { return nowUs - startUs_; }
  void OpenMenuItem();
  UiAction KeyOnPage(UiKey key);

  void DrawTitleBar(uint16_t* screen, const uint16_t* palette) const;
  void DrawFooter(uint16_t* screen, const uint16_t* palette, const char* hint) const;
  void DrawMenu(uint16_t* screen, const uint16_t* palette) const;
  void DrawStatus(uint16_t* screen, const uint16_t* palette) const;
  void DrawCounter(uint16_t* screen, const uint16_t* palette) const;
  void DrawColours(uint16_t* screen, const uint16_t* palette) const;
  void DrawNotifications(uint16_t* screen, const uint16_t* palette) const;
  void DrawAbout(uint16_t* screen, const uint16_t* palette) const;

  std::string title_ = "VESK-3";
  std::vector<std::string> aboutLines_;
  std::string notice_;
  UiPage page_ = UiPage::Menu;
  int menuSelection_ = 0;
  int notifySelection_ = 0;
  int32_t counter_ = 0;
  uint32_t keyPresses_ = 0;
  int lastKey_ = -1;
  uint64_t startUs_ = 0;
  uint64_t step_ = 0;     // animation steps since power-up
  uint64_t seconds_ = 0;  // whole seconds since power-up
};

// Drawing helpers of the interface, clipped to the screen.
void FillRect(uint16_t* screen, int x, int y, int w, int h, uint16_t color);
// Text in the bitmap font, each glyph pixel drawn as a scale x scale block.
void DrawText(uint16_t* screen, int x, int y, const std::string& text, int scale, uint16_t color);
int TextWidth(const std::string& text, int scale);
