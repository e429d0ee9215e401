// The main window's template: its size, title and controls in dialog units,
// and how dialog units become pixels.
//
// Owns: the table of controls (id, kind, text, position, start state) in
// template order, which is also the tab order, and the unit conversion.
// Does not own: the widgets made from it (the Qt main window) or what the
// controls do (the controller).
#pragma once

#include <array>
#include <cstdint>

constexpr const char* kWindowTitle = "Tessaro_App for Vesk-3 (proto / final) v0.10";
constexpr int kWindowWidthDu = 325;
constexpr int kWindowHeightDu = 243;
constexpr const char* kWindowFontFamily = "Arial";
constexpr int kWindowFontPoints = 10;

// Dialog base units of the window font (Arial 10 pt) at the reference DPI:
// x_px = du * 6 / 4, y_px = du * 16 / 8, scaled with the screen's DPI.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 16;
constexpr int kReferenceDpi = 96;

// The window font's height in whole pixels, as a 10-point font is made at a
// DPI: points * dpi / 72, rounded (13 pixels at 96 DPI).
constexpr int WindowFontPixels(int dpi = kReferenceDpi) {
  return (kWindowFontPoints * dpi + 36) / 72;
}

constexpr int DialogUnitsToPixelsX(int du, int dpi = kReferenceDpi) {
  return static_cast<int>(static_cast<int64_t>(du) * kBaseUnitX * dpi / (4 * kReferenceDpi));
}
constexpr int DialogUnitsToPixelsY(int du, int dpi = kReferenceDpi) {
  return static_cast<int>(static_cast<int64_t>(du) * kBaseUnitY * dpi / (8 * kReferenceDpi));
}

enum class ControlKind {
  DefaultPushButton,
  DisplayView,
  PushButton,
  ToggleButton,
  ComboBox,
  LeftText,
  StatusText,
};

struct DialogControl {
  int id;  // -1: no id
  ControlKind kind;
  const char* text;
  int x, y, width, height;  // dialog units
  bool visible;
  bool enabled;
};

constexpr int kNoControlId = -1;

// In template order; ids as in front_panel_controller.h.
constexpr std::array<DialogControl, 12> kDialogControls = {{
    {1000, ControlKind::DefaultPushButton, "", 308, 0, 10, 7, false, false},
    {1005, ControlKind::DisplayView, "", 6, 30, 169, 206, true, true},
    {1007, ControlKind::PushButton, "Read display", 252, 41, 63, 15, false, false},
    {1011, ControlKind::PushButton, "Screenshot", 184, 115, 57, 16, true, true},
    {1042, ControlKind::PushButton, "push ESC", 184, 7, 54, 13, true, false},
    {1089, ControlKind::PushButton, "Change", 277, 155, 38, 13, false, false},
    {1061, ControlKind::ComboBox, "", 236, 155, 34, 136, false, false},
    {1090, ControlKind::LeftText, "Colors:", 201, 157, 30, 9, false, false},
    {1039, ControlKind::PushButton, "Device Info", 254, 7, 64, 13, true, false},
    {1081, ControlKind::ToggleButton, "Connect", 6, 7, 79, 18, true, false},
    {kNoControlId, ControlKind::LeftText, "(taken to the clipboard)", 185, 135, 84, 10, true, true},
    {1101, ControlKind::StatusText, "", 92, 7, 82, 18, true, true},
}};
