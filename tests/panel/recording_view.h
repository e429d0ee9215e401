// A window for the controller without any toolkit: it records every step the
// controller asks of it, in order, and plays the boxes, clipboard and colour
// picker. Virtual-time tests drive the timers by calling the controller's
// OnTimer themselves; timersRunning tells them which ones would tick.
//
// Owns: RecordingView. Does not own: the controller or any device state.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "panel/front_panel_controller.h"

struct ShownBox {
  std::string text;
  std::string caption;
  BoxIcon icon;
  PanelState stateWhileOpen;  // the panel state while the box is open
};

class RecordingView : public PanelView {
 public:
  void SetConnectPressed(bool pressed) override { Log("pressed " + std::to_string(pressed)); }
  void SetConnectCaption(const std::string& text) override { Log("caption " + text); }
  void SetStatusText(const std::string& text) override { Log("status " + text); }
  void SetButtonEnabled(PanelButton button, bool enabled) override {
    static const char* const kNames[] = {"Connect", "PushEsc", "DeviceInfo"};
    Log(std::string(enabled ? "enable " : "disable ") + kNames[static_cast<int>(button)]);
  }
  void StartTimer(int id, int periodMs) override {
    timersRunning[id] = periodMs;
    Log("start " + std::to_string(id) + " " + std::to_string(periodMs));
  }
  void StopTimer(int id) override {
    timersRunning.erase(id);
    Log("stop " + std::to_string(id));
  }
  void ShowBox(const std::string& text, const std::string& caption, BoxIcon icon) override {
    boxes.push_back({text, caption, icon, controller ? controller->PanelStateNow() : NoDevice});
    Log("box " + text);
    if (underBox) {
      auto meanwhile = std::move(underBox);  // runs once, under the first box
      meanwhile();
    }
  }
  void ShowFrame() override {
    ++framesShown;
    Log("frame");
  }
  bool OpenClipboard() override { return Clip("open", clipboardOpens); }
  bool EmptyClipboard() override { return Clip("empty", clipboardEmpties); }
  bool SetClipboardImage(int* lastError) override {
    *lastError = clipboardError;
    return Clip("set", clipboardSets);
  }
  void CloseClipboard() override { Log("clip close"); }
  int ColorSelection() const override { return selection; }
  void SetColorLabel(const std::string& text) override { Log("label " + text); }
  bool PickColor(uint8_t, uint8_t, uint8_t, uint8_t* r, uint8_t* g, uint8_t* b) override {
    Log("picker");
    *r = *g = *b = 0;
    return false;
  }

  bool TimerRuns(int id) const { return timersRunning.count(id) != 0; }

  const FrontPanelController* controller = nullptr;
  std::vector<std::string> log;
  std::vector<ShownBox> boxes;
  std::map<int, int> timersRunning;  // id -> period
  int framesShown = 0;
  std::function<void()> underBox;  // what happens while the next box is open
  bool clipboardOpens = true, clipboardEmpties = true, clipboardSets = true;
  int clipboardError = 0;
  int selection = -1;

 private:
  void Log(const std::string& entry) { log.push_back(entry); }
  bool Clip(const std::string& step, bool ok) {
    Log("clip " + step);
    return ok;
  }
};
