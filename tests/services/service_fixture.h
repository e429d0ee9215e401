// The stage the service tests play on: the core fixture (scripted fake bridge
// with the hand controller attached, recording platform) plus a window
// stand-in that records the boxes and plays the colour controls.
//
// Owns: RecordingPanel and ServiceTest. Does not own: the fake driver, the
// answer builders or the start-up script (tests/support).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "services/panel_ui.h"
#include "tests/support/core_fixture.h"

struct RecordedBox {
  std::string text;
  std::string caption;
  BoxIcon icon;
};

// The window as the services see it.
class RecordingPanel : public PanelUi {
 public:
  PanelState CurrentPanelState() const override { return state; }
  void ShowDeviceNotification(ResultCode code) override;
  void ShowCommandError(const char* label, ResultCode code) override;
  void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon) override;
  int ColorSelection() const override { return selection; }
  void SetColorLabel(const std::string& text) override { labels.push_back(text); }
  bool PickColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t* chosenRed, uint8_t* chosenGreen,
                 uint8_t* chosenBlue) override;

  bool ShowedNothing() const {
    return notifications.empty() && commandErrors.empty() && boxes.empty();
  }

  PanelState state = Connected;
  std::vector<ResultCode> notifications;
  std::vector<std::pair<std::string, ResultCode>> commandErrors;
  std::vector<RecordedBox> boxes;

  int selection = -1;
  std::vector<std::string> labels;
  // The picker: how often and with which colour (red, green, blue) it was
  // opened, and what the user does in it.
  int pickerOpened = 0;
  uint8_t pickerStart[3] = {};
  bool pickerOk = true;
  uint8_t pickerChoice[3] = {};
};

inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ServiceTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    StartLink();
  }
  void TearDown() override {
    EXPECT_EQ(driver.Mismatches(), "");
    CoreTest::TearDown();
  }

  // The host writes `frame`; the device answers `reply`.
  void Exchange(const Bytes& frame, const Bytes& reply) { driver.Expect(frame, reply); }

  RecordingPanel panel;
};
