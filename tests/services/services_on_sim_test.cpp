// The services against the simulated hand controller behind the simulated
// bridge, in virtual time: what the device holds is what the program shows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "link/usb_device.h"
#include "protocol/command_channel.h"
#include "protocol/link_startup.h"
#include "services/buttons.h"
#include "services/colors.h"
#include "services/device_info.h"
#include "services/display_frame.h"
#include "services/program_state.h"
#include "sim/simulated_setup.h"
#include "tests/services/service_fixture.h"

namespace {

class ServicesOnSim : public ::testing::Test {
 protected:
  void SetUp() override { Install({}); }
  void TearDown() override { program.reset(); }

  void Install(HandControllerOptions options) {
    program.reset();
    sim = std::make_unique<SimulatedSetup>(false, std::move(options));
    program.emplace(sim->bridge, sim->platform);
    VK3cmd_Init();
  }

  bool MirrorMatchesDevice() const {
    return std::equal(FrameBuffer, FrameBuffer + kDisplayPixels, sim->controller.Screen());
  }

  std::unique_ptr<SimulatedSetup> sim;
  std::optional<ProgramScope> program;
  RecordingPanel panel;
  uint32_t colour = 0;
};

TEST_F(ServicesOnSim, DeviceInfoReport) {
  ShowDeviceInfo(panel);

  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].caption, "Vesk-3 device info");
  EXPECT_EQ(panel.boxes[0].text,
            "FTDI info:\n  Serial: VK30A1B2\n\n"
            "Vesk-3 info:\n  Mode: APP\n"
            "  Protocol ver.: 0103 / 0201\n"
            "  Chip ID: 3a-5c1f0042\n"
            "  Unique ID: 'VK3-HC-00417-A2C'\n");
}

TEST_F(ServicesOnSim, BootModeDeviceReportsBoot) {
  HandControllerOptions options;
  options.bootMode = BootMode::Boot;
  Install(options);
  DeviceInfo info;

  ASSERT_EQ(VK3cmd_GetDeviceInfo(&info), kResultOk);

  EXPECT_EQ(info.bootMode, 1);
  EXPECT_STREQ(info.bridgeDescription, "Vesk-3 HandController");
  EXPECT_STREQ(info.infoText, "Vesk-3 HandController fw 2.14");
}

class DisplayOnSim : public ServicesOnSim, public ::testing::WithParamInterface<BulkMode> {
 protected:
  void SetUp() override {
    HandControllerOptions options;
    options.bulkMode = GetParam();
    Install(options);
  }
};

TEST_P(DisplayOnSim, FullThenDeltaFramesMirrorTheScreen) {
  ASSERT_EQ(VK3cmd_GetDisplayFrame(true), kResultOk);
  EXPECT_TRUE(MirrorMatchesDevice());
  EXPECT_GT(std::count_if(FrameBuffer, FrameBuffer + kDisplayPixels, [](uint16_t c) { return c; }),
            0);

  // The device's own key moves the menu selection: only the changes come.
  const std::vector<uint16_t> before(FrameBuffer, FrameBuffer + kDisplayPixels);
  sim->controller.PressKey(UiKey::Down);
  sim->controller.ReleaseKey(UiKey::Down);
  ASSERT_EQ(VK3cmd_GetDisplayFrame(false), kResultOk);

  EXPECT_TRUE(MirrorMatchesDevice());
  EXPECT_FALSE(std::equal(before.begin(), before.end(), FrameBuffer));
}

TEST_P(DisplayOnSim, ButtonEventsChangeTheDeviceScreen) {
  ASSERT_EQ(VK3cmd_GetDisplayFrame(true), kResultOk);
  const int selection = sim->controller.Ui().MenuSelection();

  EXPECT_EQ(VK3cmd_InsertButtonEvent(panel, kKeyDown), 0);
  EXPECT_EQ(VK3cmd_InsertButtonEvent(panel, kKeyDown + kButtonRelease), 0);
  ASSERT_EQ(VK3cmd_GetDisplayFrame(false), kResultOk);

  EXPECT_EQ(sim->controller.Ui().MenuSelection(), selection + 1);
  EXPECT_TRUE(MirrorMatchesDevice());
  EXPECT_TRUE(panel.ShowedNothing());
}

INSTANTIATE_TEST_SUITE_P(BulkModes, DisplayOnSim,
                         ::testing::Values(BulkMode::Segments, BulkMode::Streamed),
                         [](const auto& info) {
                           return std::string(info.param == BulkMode::Segments ? "Segments"
                                                                               : "Streamed");
                         });

// A streamed frame the link breaks off (a refill times out or fails) paints
// nothing; the next whole frame brings the mirror back.
TEST_F(ServicesOnSim, StreamBrokenOffByTheLinkPaintsNothingAndAWholeFrameRecovers) {
  struct Case {
    const char* name;
    bool failing;
    const char* record;
  };
  for (const Case& c : {Case{"refill times out", false, "FT_Read timed out"},
                        Case{"refill fails", true, "FT_Read failed"}}) {
    SCOPED_TRACE(c.name);
    HandControllerOptions options;
    options.bulkMode = BulkMode::Streamed;
    Install(options);
    ASSERT_EQ(VK3cmd_GetDisplayFrame(true), kResultOk);
    const std::vector<uint16_t> before(FrameBuffer, FrameBuffer + kDisplayPixels);
    // A new picture everywhere: a stream of many refills.
    std::vector<uint16_t> picture(kDisplayPixels);
    for (size_t i = 0; i < picture.size(); ++i)
      picture[i] = static_cast<uint16_t>((i * 7) & 0x7F7F);
    sim->controller.HoldScreen(picture.data());
    // Reads of the exchange: 1 + 4 header bytes, the parameters, then refills.
    if (c.failing) {
      sim->bridge.FailCall(FtCall::Read, kFtIoError, 4);
    } else {
      sim->bridge.TimeOutCall(FtCall::Read, 4);
    }

    EXPECT_EQ(VK3cmd_GetDisplayFrame(false), kResultLinkFailure);

    EXPECT_TRUE(std::equal(before.begin(), before.end(), FrameBuffer));
    EXPECT_THAT(theUsbDevice.errorText, ::testing::StartsWith(c.record));
    sim->bridge.ClearFaults();
    ASSERT_EQ(VK3cmd_GetDisplayFrame(true), kResultOk);
    EXPECT_TRUE(MirrorMatchesDevice());
  }
}

TEST_F(ServicesOnSim, PushEscActsAsTheEscKey) {
  // Enter opens the selected menu item; the Esc line brings the menu back.
  EXPECT_EQ(VK3cmd_InsertButtonEvent(panel, kKeyEnter), 0);
  EXPECT_EQ(VK3cmd_InsertButtonEvent(panel, kKeyEnter + kButtonRelease), 0);
  ASSERT_NE(sim->controller.Ui().Page(), UiPage::Menu);
  const uint64_t before = sim->clock.NowUs();

  EXPECT_EQ(PushEsc(), 0);

  EXPECT_EQ(sim->controller.Ui().Page(), UiPage::Menu);
  EXPECT_GE(sim->clock.NowUs() - before, 200000u);
}

TEST_F(ServicesOnSim, PushEscOnAClosedLinkOpensItWithoutACommand) {
  EXPECT_EQ(PushEsc(), 0);

  EXPECT_TRUE(theUsbDevice.IsOpen());
  EXPECT_TRUE(sim->bridge.HostWrites(sim->controllerBridge).empty());
}

TEST_F(ServicesOnSim, ColourWrittenIsReadBack) {
  panel.selection = 9;
  panel.pickerChoice[0] = 0x12;  // red
  panel.pickerChoice[1] = 0x34;  // green
  panel.pickerChoice[2] = 0x56;  // blue

  ChangeColorEntry(panel, colour);

  EXPECT_EQ(sim->controller.ColorEntry(9), (std::array<uint8_t, 4>{0x56, 0x34, 0x12, 0}));
  ASSERT_FALSE(panel.labels.empty());
  EXPECT_EQ(panel.labels.back(), "Colors:  (18, 52, 86)");
  EXPECT_EQ(colour, 0x00123456u);
}

}  // namespace
