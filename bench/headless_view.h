// The window as the front panel controller sees it, without a toolkit: for
// running the controller in a loop of its own (benchmarks, measurements).
//
// Owns: a 32-bit pixel buffer of the window's display view (253 x 412), into
// which ShowFrame converts the FrameBuffer as the real view does; counts of
// frames shown and boxes (a box is a failure the run reports). Timers are
// recorded, not run: the caller's loop runs them.
// Does not own: the timers' scheduling (the caller), drawing on a screen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "panel/front_panel_controller.h"

constexpr int kViewWidth = 253;
constexpr int kViewHeight = 412;

class HeadlessView : public PanelView {
 public:
  HeadlessView() : pixels(static_cast<size_t>(kViewWidth) * kViewHeight, 0) {}

  std::vector<uint32_t> pixels;
  int framesShown = 0;
  std::vector<std::string> boxes;
  bool timerRunning[2] = {false, false};  // poll, display

  void SetConnectPressed(bool) override {}
  void SetConnectCaption(const std::string&) override {}
  void SetStatusText(const std::string&) override {}
  void SetButtonEnabled(PanelButton, bool) override {}
  void StartTimer(int id, int) override { SetTimer(id, true); }
  void StopTimer(int id) override { SetTimer(id, false); }
  void ShowBox(const std::string& text, const std::string&, BoxIcon) override {
    boxes.push_back(text);
  }
  void ShowFrame() override;
  bool OpenClipboard() override { return false; }
  bool EmptyClipboard() override { return false; }
  bool SetClipboardImage(int*) override { return false; }
  void CloseClipboard() override {}
  int ColorSelection() const override { return -1; }
  void SetColorLabel(const std::string&) override {}
  bool PickColor(uint8_t, uint8_t, uint8_t, uint8_t*, uint8_t*, uint8_t*) override { return false; }

  bool PollRunning() const { return timerRunning[0]; }
  bool DisplayRunning() const { return timerRunning[1]; }

 private:
  void SetTimer(int id, bool on) {
    if (id == TIMER_POLL) timerRunning[0] = on;
    if (id == TIMER_DISPLAY) timerRunning[1] = on;
  }
};
