// The front panel controller without any toolkit: the panel look, the two
// timers, Connect and Disconnect, the display refresh, the boxes and their
// order against the state change, the key forwarding and Screenshot. Timer
// ticks are the test calling OnTimer; nothing waits.
#include "panel/front_panel_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/usb_device.h"
#include "protocol/command_channel.h"
#include "protocol/link_startup.h"
#include "services/display_frame.h"
#include "services/program_state.h"
#include "tests/panel/recording_view.h"
#include "tests/services/stream_encoder.h"
#include "tests/support/core_fixture.h"

namespace {

using Log = std::vector<std::string>;

constexpr uint8_t kInformation = 0xF8;  // command 248
constexpr uint8_t kDisplay = 0xD1;      // command 209
constexpr uint8_t kButtons = 0xAE;      // command 174
constexpr uint8_t kSystemChangeCode = 0x42;

const Log kNoDeviceLook = {"pressed 0",       "caption <unavailable>", "status ",
                           "disable Connect", "disable PushEsc",       "disable DeviceInfo",
                           "stop 1001",       "start 555 250"};
const Log kAvailableLook = {"pressed 0",      "caption Connect", "status device available",
                            "enable Connect", "enable PushEsc",  "enable DeviceInfo",
                            "stop 1001",      "start 555 250"};
const Log kConnectedLook = {"pressed 1",      "caption Disconnect", "status Tessaro active",
                            "enable Connect", "enable PushEsc",     "enable DeviceInfo",
                            "stop 555",       "start 1001 76"};

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The display answer that sets pixel 0 to 0xF800, its stream in one segment.
Bytes PixelZeroAnswer(uint8_t counter) {
  static uint16_t before[kDisplayPixels];
  static uint16_t after[kDisplayPixels];
  after[0] = 0xF800;
  const Bytes stream = StreamBytes(EncodeStream(ExpandChanges(before, after)));
  // 209, counter, type 0; 252 = stream length; 253 = bulk follows in segments
  Bytes answer = Answer(
      kDisplay, counter, 0,
      Concat(BulkLengthParam(static_cast<int32_t>(stream.size())), Param(kParamBulkSegments)));
  return Concat(answer, stream);
}

class ControllerTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    view.controller = &controller;
  }

  // The panel at `state` with the link as a connected panel has it.
  void Reach(PanelState state) {
    if (state == Connected) StartLink();
    controller.SetPanelState(state);
    view.log.clear();
  }

  // A fresh link, device and window for the next case of a table.
  void Restart() {
    ResetProgramState();
    VK3cmd_Init();
    driver = FakeDriver();
    view = RecordingView();
    view.controller = &controller;
  }

  uint8_t Counter() const { return theChannel.FrameCounter; }

  RecordingView view;
  FrontPanelController controller{view};
};

TEST_F(ControllerTest, StartInitialisesTheLinkAndShowsNoDevice) {
  theUsbDevice.DeviceKind = kDeviceKindAnyDescription;
  theChannel.FrameCounter = 77;
  theChannel.DescriptorTable[1] = {};

  controller.Start();

  EXPECT_EQ(theUsbDevice.DeviceKind, kDeviceKindHandController);
  EXPECT_EQ(theChannel.FrameCounter, kCounterFirst);
  EXPECT_TRUE(theChannel.DescriptorTable.empty());
  EXPECT_EQ(view.log, kNoDeviceLook);
  EXPECT_EQ(controller.PanelStateNow(), NoDevice);
  EXPECT_EQ(view.timersRunning, (std::map<int, int>{{TIMER_POLL, 250}}));
}

TEST_F(ControllerTest, EachStateAppliesItsLookInOrder) {
  struct Case {
    PanelState state;
    const Log& look;
    bool fullRefreshAfter;
  };
  for (const Case& c :
       {Case{NoDevice, kNoDeviceLook, false}, Case{DeviceAvailable, kAvailableLook, false},
        Case{Connected, kConnectedLook, true},
        Case{Connected, kConnectedLook, true}}) {  // again: every step repeats
    SCOPED_TRACE(c.state);
    fullRefresh = false;
    view.log.clear();

    controller.SetPanelState(c.state);

    EXPECT_EQ(view.log, c.look);
    EXPECT_EQ(controller.PanelStateNow(), c.state);
    EXPECT_EQ(fullRefresh, c.fullRefreshAfter);
  }
}

TEST_F(ControllerTest, PresencePollFollowsTheDevice) {
  struct Case {
    const char* name;
    PanelState from;
    bool plugged;
    PanelState to;
    int polls;
  };
  for (const Case& c : {
           Case{"plugged in", NoDevice, true, DeviceAvailable, 1},
           Case{"still absent", NoDevice, false, NoDevice, 1},
           Case{"unplugged", DeviceAvailable, false, NoDevice, 1},
           Case{"still there", DeviceAvailable, true, DeviceAvailable, 1},
           Case{"connected: no poll", Connected, true, Connected, 0},
       }) {
    SCOPED_TRACE(c.name);
    controller.SetPanelState(c.from);
    const FakeBridge hand = driver.bridges.at(0);
    if (!c.plugged) driver.bridges.clear();
    driver.ForgetHistory();

    controller.OnTimer(TIMER_POLL);

    EXPECT_EQ(controller.PanelStateNow(), c.to);
    EXPECT_EQ(driver.CountOf("CreateDeviceInfoList"), c.polls);
    driver.bridges = {hand};
  }
}

TEST_F(ControllerTest, OtherTimerIdsAreIgnored) {
  Reach(Connected);
  controller.OnTimer(556);
  controller.OnTimer(1000);
  EXPECT_TRUE(view.log.empty());
  EXPECT_TRUE(driver.writes.empty());
}

TEST_F(ControllerTest, ConnectOpensTheLinkWithTheModeProbe) {
  Reach(DeviceAvailable);
  ExpectStartUp();
  // the probe: 248, counter, item 1; the device answers parameter 1 (APP), 4 bytes
  driver.Expect({kInformation, 0x01, 0x01, 0xFF}, ModeAnswer());

  controller.OnConnect();

  EXPECT_EQ(driver.Mismatches(), "");
  EXPECT_TRUE(theUsbDevice.IsOpen());
  EXPECT_EQ(view.log, kConnectedLook);
  EXPECT_EQ(controller.PanelStateNow(), Connected);
  EXPECT_TRUE(fullRefresh);
  EXPECT_TRUE(view.boxes.empty());
}

TEST_F(ControllerTest, FailedConnectShowsItsBoxBeforeGoingToNoDevice) {
  struct Case {
    const char* name;
    Bytes reply;
    std::string text;
  };
  const std::vector<Case> cases = {
      // the answer holds parameter 2 only: neither 3 nor 1
      {"no mode parameter", Answer(kInformation, 0x01, 0, Param(2, {1, 2, 3, 4})),
       "Can't connect to Vesk-3...\n\nError (57): No answer parameter got"},
      // parameter 1 with 2 data bytes instead of 4
      {"short mode parameter", Answer(kInformation, 0x01, 0, Param(1, {1, 2})),
       "Can't connect to Vesk-3...\n\nError (58): Bad length of a parameter in the answer"},
      // powered off in place of the answer: no notification box on Connect
      {"notification", Notification(kNotifySwitchedOff),
       "Can't connect to Vesk-3...\n\nError (13): (unknown error code: 13)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Reach(DeviceAvailable);
    ExpectStartUp();
    driver.Expect({kInformation, 0x01, 0x01, 0xFF}, c.reply);

    controller.OnConnect();

    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].text, c.text);
    EXPECT_EQ(view.boxes[0].caption, "ERROR");
    EXPECT_EQ(view.boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(view.boxes[0].stateWhileOpen, DeviceAvailable);
    EXPECT_EQ(controller.PanelStateNow(), NoDevice);
    // the box first, then the NoDevice look
    Log expected = {"box " + c.text};
    expected.insert(expected.end(), kNoDeviceLook.begin(), kNoDeviceLook.end());
    EXPECT_EQ(view.log, expected);
  }
}

TEST_F(ControllerTest, FailedConnectLeavesTheLinkForTheNextPollToClose) {
  Reach(DeviceAvailable);
  ExpectStartUp();
  driver.Expect({kInformation, 0x01, 0x01, 0xFF}, Answer(kInformation, 0x01, 0));
  controller.OnConnect();
  ASSERT_TRUE(theUsbDevice.IsOpen());

  controller.OnTimer(TIMER_POLL);

  EXPECT_FALSE(theUsbDevice.IsOpen());
  EXPECT_EQ(controller.PanelStateNow(), DeviceAvailable);
}

TEST_F(ControllerTest, DisconnectClosesTheLinkAndThePollFindsTheDeviceAgain) {
  Reach(Connected);

  controller.OnConnect();

  EXPECT_FALSE(theUsbDevice.IsOpen());
  EXPECT_EQ(view.log, kNoDeviceLook);
  EXPECT_TRUE(view.boxes.empty());

  controller.OnTimer(TIMER_POLL);
  EXPECT_EQ(controller.PanelStateNow(), DeviceAvailable);
}

TEST_F(ControllerTest, FailedCloseShowsItsBoxWhileTheRefreshGoesOn) {
  Reach(Connected);
  driver.FailCall("Close", kFtIoError);
  // Under the box the display timer still ticks; its refresh gets no answer.
  bool refreshRanUnderBox = false;
  view.underBox = [&] {
    refreshRanUnderBox = view.TimerRuns(TIMER_DISPLAY);
    controller.OnTimer(TIMER_DISPLAY);
  };

  controller.OnConnect();

  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes[0].text,
            "Error while disconnecting...\n\nError (9): Error in communication (FT230)");
  EXPECT_EQ(view.boxes[0].caption, "ERROR");
  EXPECT_EQ(view.boxes[0].icon, BoxIcon::Error);
  EXPECT_EQ(view.boxes[0].stateWhileOpen, Connected);
  EXPECT_TRUE(refreshRanUnderBox);
  // the refresh failed under the first box and opened a second one
  EXPECT_EQ(view.boxes[1].text.rfind("VK3cmd_UpdateDisplay() returned (", 0), 0u);
  EXPECT_EQ(controller.PanelStateNow(), NoDevice);
  EXPECT_TRUE(view.TimerRuns(TIMER_POLL));
  EXPECT_FALSE(view.TimerRuns(TIMER_DISPLAY));
}

TEST_F(ControllerTest, ConnectDoesNothingWithoutADevice) {
  Reach(NoDevice);
  controller.OnConnect();
  EXPECT_TRUE(view.log.empty());
  EXPECT_TRUE(driver.calls.empty());
}

TEST_F(ControllerTest, RefreshAsksForTheWholeDisplayFirstThenForChanges) {
  Reach(Connected);
  const uint8_t first = Counter();
  // 209, counter, parameter 1 (whole display), parameter 2 (changes)
  driver.Expect({kDisplay, first, 0x01, 0x02, 0xFF}, PixelZeroAnswer(first));
  const uint8_t second = static_cast<uint8_t>(first + 1);
  // then parameter 2 only; the device reports no change: a run of 4800 zero masks
  driver.Expect({kDisplay, second, 0x02, 0xFF}, Answer(kDisplay, second, 0));

  controller.OnTimer(TIMER_DISPLAY);

  EXPECT_EQ(FrameBuffer[0], 0xF800);
  EXPECT_FALSE(fullRefresh);
  EXPECT_EQ(view.log, Log{"frame"});

  controller.OnTimer(TIMER_DISPLAY);

  EXPECT_EQ(driver.Mismatches(), "");
  EXPECT_EQ(view.framesShown, 2);
  EXPECT_EQ(FrameBuffer[0], 0xF800);
}

TEST_F(ControllerTest, ABusyNoticeInPlaceOfTheWholeFrameLeavesTheWholeFrameOwed) {
  Reach(Connected);
  const uint8_t first = Counter();
  // busy in place of the answer; the whole frame it asked for comes late, behind it
  driver.Expect({kDisplay, first, 0x01, 0x02, 0xFF},
                Concat(Notification(kNotifyBusyA), PixelZeroAnswer(first)));

  controller.OnTimer(TIMER_DISPLAY);

  EXPECT_TRUE(fullRefresh);
  EXPECT_EQ(view.log, Log{"frame"});  // redrawn as it was, no box
  EXPECT_EQ(FrameBuffer[0], 0x0000);

  // the next refresh drains the late frame, pays the hold-off, handshakes
  // again and asks for the whole display once more
  ExpectHandshake();
  const uint8_t second = static_cast<uint8_t>(first + 1);
  driver.Expect({kDisplay, second, 0x01, 0x02, 0xFF}, PixelZeroAnswer(second));

  controller.OnTimer(TIMER_DISPLAY);

  EXPECT_EQ(driver.Mismatches(), "");
  EXPECT_EQ(FrameBuffer[0], 0xF800);
  EXPECT_FALSE(fullRefresh);
  EXPECT_TRUE(view.boxes.empty());
}

TEST_F(ControllerTest, RefreshResultsAreSortedIntoSuccessNotificationAndError) {
  struct Case {
    const char* name;
    Bytes reply;  // what the device sends in place of the display answer
    bool delivered;
    ShownBox box;
  };
  const std::vector<Case> cases = {
      {"busy is success", Notification(kNotifyBusyA), true, {}},
      {"powered off",
       Notification(kNotifySwitchedOff),
       false,
       {"Vesk-3 has been powered off", "Notification", BoxIcon::Information, NoDevice}},
      {"system change",
       Notification(kSystemChangeCode),
       false,
       {"Vesk-3 reported an unknown system change error", "Notification", BoxIcon::Error,
        NoDevice}},
      // an answer whose length field says 65535 bytes
      {"invalid answer",
       {kDisplay, 0x00, 0x00, 0xFF, 0xFF},
       false,
       {"VK3cmd_UpdateDisplay() returned (30):\n\nInvalid answer got for VK3 command", "",
        BoxIcon::None, NoDevice}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Reach(Connected);
    FrameBuffer[7] = 0x1234;
    Bytes reply = c.reply;
    if (reply.size() > 1 && reply[0] == kDisplay) reply[1] = Counter();
    driver.Expect({kDisplay, Counter(), 0x01, 0x02, 0xFF}, reply);

    controller.OnTimer(TIMER_DISPLAY);

    // nothing was decoded, so the whole display is still owed
    EXPECT_TRUE(fullRefresh);
    EXPECT_EQ(FrameBuffer[7], 0x1234);
    if (c.delivered) {
      EXPECT_TRUE(view.boxes.empty());
      EXPECT_EQ(view.framesShown, 1);  // redrawn from the unchanged FrameBuffer
      EXPECT_EQ(controller.PanelStateNow(), Connected);
      continue;
    }
    EXPECT_EQ(view.framesShown, 0);
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].text, c.box.text);
    EXPECT_EQ(view.boxes[0].caption, c.box.caption);
    EXPECT_EQ(view.boxes[0].icon, c.box.icon);
    // the NoDevice look first, then the box
    EXPECT_EQ(view.boxes[0].stateWhileOpen, NoDevice);
    EXPECT_EQ(view.log.back(), "box " + c.box.text);
    EXPECT_EQ(Log(view.log.begin(), view.log.end() - 1), kNoDeviceLook);
  }
}

TEST_F(ControllerTest, RefreshOutsideConnectedSendsAndDrawsNothing) {
  for (PanelState state : {NoDevice, DeviceAvailable}) {
    Reach(state);
    controller.VK3cmd_UpdateDisplay();
    EXPECT_TRUE(driver.writes.empty());
    EXPECT_TRUE(view.log.empty());
  }
}

TEST_F(ControllerTest, PlainKeysAreForwardedOnlyWhileConnected) {
  struct Step {
    KeyTransition transition;
    uint32_t virtualKey;
    bool consumed;
    int paramId;  // -1: nothing sent
    KeyChord chord = KeyChord::Plain;
  };
  struct Case {
    const char* name;
    PanelState state;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"Enter pressed and released",
       Connected,
       {{KeyTransition::Press, kVirtualKeyReturn, true, 0x21},
        {KeyTransition::Release, kVirtualKeyReturn, true, 0x31}}},
      // X11 auto-repeat: release/press pairs, the releases flagged as repeats
      {"Up held",
       Connected,
       {{KeyTransition::Press, kVirtualKeyUp, true, 0x24},
        {KeyTransition::RepeatRelease, kVirtualKeyUp, true, -1},
        {KeyTransition::Press, kVirtualKeyUp, true, 0x24},
        {KeyTransition::RepeatRelease, kVirtualKeyUp, true, -1},
        {KeyTransition::Press, kVirtualKeyUp, true, 0x24},
        {KeyTransition::Release, kVirtualKeyUp, true, 0x34}}},
      {"every key",
       Connected,
       {{KeyTransition::Press, kVirtualKeyEscape, true, 0x20},
        {KeyTransition::Release, kVirtualKeyEscape, true, 0x30},
        {KeyTransition::Press, kVirtualKeyLeft, true, 0x22},
        {KeyTransition::Press, kVirtualKeyRight, true, 0x23},
        {KeyTransition::Release, kVirtualKeyDown, true, 0x35}}},
      {"other keys go to the dialog",
       Connected,
       {{KeyTransition::Press, 0x09, false, -1}, {KeyTransition::Release, 0x41, false, -1}}},
      // Alt makes them the window's; Ctrl and Shift are not seen here at all
      {"Alt held: the window's",
       Connected,
       {{KeyTransition::Press, kVirtualKeyEscape, false, -1, KeyChord::WithAlt},
        {KeyTransition::Release, kVirtualKeyEscape, false, -1, KeyChord::WithAlt},
        {KeyTransition::Press, kVirtualKeyReturn, false, -1, KeyChord::WithAlt},
        {KeyTransition::RepeatRelease, kVirtualKeyReturn, false, -1, KeyChord::WithAlt},
        {KeyTransition::Press, kVirtualKeyReturn, false, -1, KeyChord::WithAlt},
        {KeyTransition::Release, kVirtualKeyReturn, false, -1, KeyChord::WithAlt},
        {KeyTransition::Press, kVirtualKeyDown, false, -1, KeyChord::WithAlt},
        // Alt let go before the key: a plain release, sent as today
        {KeyTransition::Release, kVirtualKeyDown, true, 0x35}}},
      {"Alt pressed while a key is down: its release still reaches the device",
       Connected,
       {{KeyTransition::Press, kVirtualKeyLeft, true, 0x22},
        {KeyTransition::RepeatRelease, kVirtualKeyLeft, true, -1, KeyChord::WithAlt},
        {KeyTransition::Press, kVirtualKeyLeft, false, -1, KeyChord::WithAlt},
        {KeyTransition::Release, kVirtualKeyLeft, true, 0x32, KeyChord::WithAlt},
        // that release ended it: the next one with Alt is the window's again
        {KeyTransition::Release, kVirtualKeyLeft, false, -1, KeyChord::WithAlt}}},
      {"not connected",
       DeviceAvailable,
       {{KeyTransition::Press, kVirtualKeyEscape, false, -1},
        {KeyTransition::Release, kVirtualKeyReturn, false, -1},
        {KeyTransition::RepeatRelease, kVirtualKeyUp, false, -1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Reach(c.state);
    uint8_t counter = Counter();
    for (const Step& step : c.steps) {
      if (step.paramId < 0) continue;
      // 174, counter, the key's parameter; the device answers without parameters
      driver.Expect({kButtons, counter, static_cast<uint8_t>(step.paramId), 0xFF},
                    Answer(kButtons, counter, 0));
      ++counter;
    }
    for (const Step& step : c.steps) {
      EXPECT_EQ(controller.TranslateKey(step.transition, step.virtualKey, step.chord),
                step.consumed);
    }
    EXPECT_EQ(driver.Mismatches(), "");
    EXPECT_TRUE(view.boxes.empty());
    if (c.state != Connected) {
      EXPECT_TRUE(driver.writes.empty());
    }
  }
}

TEST_F(ControllerTest, ScreenshotStepsAndTheirWarnings) {
  struct Case {
    const char* name;
    bool opens, empties, sets;
    Log log;
  };
  const std::vector<Case> cases = {
      {"all steps work", true, true, true, {"clip open", "clip empty", "clip set", "clip close"}},
      {"open fails", false, true, true, {"clip open", "box Cannot open the Clipboard"}},
      {"empty fails: box, then close",
       true,
       false,
       true,
       {"clip open", "clip empty", "box Cannot empty the Clipboard", "clip close"}},
      {"set fails: box with the error, then close",
       true,
       true,
       false,
       {"clip open", "clip empty", "clip set", "box Unable to set Clipboard data, error: 5",
        "clip close"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    view.log.clear();
    view.boxes.clear();
    view.clipboardOpens = c.opens;
    view.clipboardEmpties = c.empties;
    view.clipboardSets = c.sets;
    view.clipboardError = 5;

    controller.OnScreenshot();

    EXPECT_EQ(view.log, c.log);
    for (const ShownBox& box : view.boxes) {
      EXPECT_EQ(box.caption, "");  // the application title
      EXPECT_EQ(box.icon, BoxIcon::Warning);
    }
  }
}

TEST_F(ControllerTest, DeviceInfoRunsOnlyWhileConnected) {
  Reach(DeviceAvailable);
  controller.OnDeviceInfo();
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_TRUE(view.boxes.empty());

  Reach(Connected);
  // 248, counter, item 1: the device does not answer
  controller.OnDeviceInfo();

  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].text, "Error: Error in communication (FT230)");
  EXPECT_EQ(view.boxes[0].caption, "ERROR");
  EXPECT_EQ(controller.PanelStateNow(), Connected);  // no state change for a failed report
}

}  // namespace
