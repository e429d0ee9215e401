// The front panel controller against the simulated hand controller, in
// virtual time and in both bulk modes: what the mirror ends up as after a
// display answer goes wrong, and whether the user can connect again. The
// simulated bridge holds the device back by flow control, as the FT230X does,
// so a stream the host did not read is still waiting in the device.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "link/usb_device.h"
#include "panel/front_panel_controller.h"
#include "protocol/command_channel.h"
#include "services/display_frame.h"
#include "tests/panel/recording_view.h"
#include "tests/sim/sim_fixture.h"

namespace {

constexpr uint64_t kMomentMs = 120;  // between two clicks of the user

class ControllerOnSim : public SimTest, public ::testing::WithParamInterface<BulkMode> {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim.controller.Options().bulkMode = GetParam();
    view.controller = &controller;
    controller.Start();
  }

  void Pass(uint64_t ms) {
    sim.virtualClock.AdvanceUs(ms * 1000);
    sim.controller.Tick(NowUs());
  }
  void Poll() {
    Pass(kPollPeriodMs);
    ASSERT_TRUE(view.TimerRuns(TIMER_POLL));
    controller.OnTimer(TIMER_POLL);
  }
  void Refresh() {
    Pass(kDisplayPeriodMs);
    ASSERT_TRUE(view.TimerRuns(TIMER_DISPLAY));
    controller.OnTimer(TIMER_DISPLAY);
  }
  void Connect() {
    Poll();
    ASSERT_EQ(controller.PanelStateNow(), DeviceAvailable);
    Pass(kMomentMs);
    controller.OnConnect();
  }

  bool MirrorIsTheDeviceScreen() const {
    return std::equal(FrameBuffer, FrameBuffer + kDisplayPixels, sim.controller.Screen());
  }
  // Whether the device's last display request asked for the whole display.
  bool LastRequestWasWhole() const {
    for (auto it = sim.controller.ReceivedCommands().rbegin();
         it != sim.controller.ReceivedCommands().rend(); ++it) {
      if (it->command != kCmdDisplayFrame) continue;
      return std::any_of(it->params.begin(), it->params.end(),
                         [](const auto& p) { return p.first == kParamWholeDisplay; });
    }
    return false;
  }

  RecordingView view;
  FrontPanelController controller{view};
};

TEST_P(ControllerOnSim, ABusyNoticeAheadOfTheFirstFrameStillEndsInTheWholeDisplay) {
  Connect();
  ASSERT_EQ(controller.PanelStateNow(), Connected);

  // The notice goes out ahead of the answer: the host takes it for the
  // answer, and the whole frame comes behind it.
  sim.controller.SendNotification(kNotifyBusyA, NotifyWhen::AheadOfNextAnswer);
  Refresh();
  EXPECT_EQ(controller.PanelStateNow(), Connected);
  EXPECT_TRUE(view.boxes.empty());
  EXPECT_TRUE(fullRefresh);

  // The next refresh drops the late frame, waits as the device asked, and
  // asks for the whole display again.
  Refresh();
  ASSERT_EQ(view.boxes.size(), 0u) << view.boxes.front().text;
  EXPECT_TRUE(LastRequestWasWhole());
  EXPECT_FALSE(fullRefresh);
  EXPECT_TRUE(MirrorIsTheDeviceScreen());
  for (int i = 0; i < 5; ++i) Refresh();
  EXPECT_EQ(view.boxes.size(), 0u) << view.boxes.front().text;
  EXPECT_TRUE(MirrorIsTheDeviceScreen());
}

TEST_P(ControllerOnSim, TheFirstConnectAfterARefusedDisplayAnswerWorks) {
  struct Case {
    DisplayMisanswer how;
    ResultCode shown;
  };
  for (const Case& c : {Case{DisplayMisanswer::WrongCounter, kResultWrongCounter},
                        Case{DisplayMisanswer::ShortInfo, kResultBadParameterLength}}) {
    SCOPED_TRACE(c.shown);
    view.boxes.clear();
    Connect();
    ASSERT_EQ(controller.PanelStateNow(), Connected);

    // The first answer after Connect, a whole frame's, is refused.
    sim.controller.MisanswerNextDisplay(c.how);
    Refresh();
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].text.rfind(
                  "VK3cmd_UpdateDisplay() returned (" + std::to_string(c.shown) + ")", 0),
              0u)
        << view.boxes[0].text;
    EXPECT_EQ(controller.PanelStateNow(), NoDevice);

    // The user closes the box and connects again: the first try works, and
    // the mirror becomes the device's screen.
    Connect();
    EXPECT_EQ(view.boxes.size(), 1u) << view.boxes.back().text;
    ASSERT_EQ(controller.PanelStateNow(), Connected);
    Refresh();
    Refresh();
    EXPECT_EQ(view.boxes.size(), 1u) << view.boxes.back().text;
    EXPECT_TRUE(MirrorIsTheDeviceScreen());

    controller.OnConnect();  // Disconnect, for the next case
    ASSERT_EQ(controller.PanelStateNow(), NoDevice);
  }
}

INSTANTIATE_TEST_SUITE_P(BothBulkModes, ControllerOnSim,
                         ::testing::Values(BulkMode::Segments, BulkMode::Streamed),
                         [](const auto& info) {
                           return info.param == BulkMode::Segments ? "Segments" : "Streamed";
                         });

}  // namespace
