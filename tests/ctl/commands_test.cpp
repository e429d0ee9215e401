// vesk3ctl's commands against the simulated hand controller, in virtual time.
#include "ctl/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include "capture/png_file.h"
#include "capture/png_folder_recorder.h"
#include "ctl/interrupt.h"
#include "protocol/command_channel.h"
#include "services/buttons.h"
#include "tests/capture/video_probe.h"
#include "tests/ctl/ctl_fixture.h"

namespace {

constexpr int kRelease = kButtonRelease;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Paints a 10 x 10 block at (x, y) of the image in one colour.
void PaintBlock(RgbImage& image, int x, int y, uint8_t r, uint8_t g, uint8_t b) {
  for (int dy = 0; dy < 10; ++dy) {
    for (int dx = 0; dx < 10; ++dx) {
      uint8_t* p = image.At(x + dx, y + dy);
      p[0] = r;
      p[1] = g;
      p[2] = b;
    }
  }
}

using Commands = CtlTest;

TEST_F(Commands, ListShowsEveryBridgeAndWhichIsAVesk3) {
  const CtlRun run = Run({"list"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out,
            "A10K3XQ2\tUSB <-> Serial Converter\t-\n"
            "VK30A1B2\tVesk-3 HandController\tVesk-3\n");
  EXPECT_FALSE(sim.bridge.IsOpen(sim.controllerBridge));
}

TEST_F(Commands, InfoGivesTheDeviceInfoReportAndItsJson) {
  CtlRun run = Run({"info"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out,
            "FTDI info:\n  Serial: VK30A1B2\n\n"
            "Vesk-3 info:\n  Mode: APP\n  Protocol ver.: 0103 / 0201\n"
            "  Chip ID: 3a-5c1f0042\n  Unique ID: 'VK3-HC-00417-A2C'\n");
  EXPECT_EQ(run.err, "");

  run = Run({"info", "--json"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out,
            "{\"serial\":\"VK30A1B2\",\"mode\":\"APP\",\"protocol_version_1\":259,"
            "\"protocol_version_2\":513,\"chip_id\":250653638722,"
            "\"unique_id\":\"VK3-HC-00417-A2C\"}\n");
}

TEST(InfoJson, EscapesWhatTheDeviceSends) {
  DeviceInfo info;
  std::memcpy(info.bridgeSerial, "A\"B\\C\x01\xff", 7);
  info.bootMode = 1;
  EXPECT_EQ(DeviceInfoJson(info),
            "{\"serial\":\"A\\\"B\\\\C\\u0001\\u00ff\",\"mode\":\"BOOT\",\"protocol_version_1\":0,"
            "\"protocol_version_2\":0,\"chip_id\":0,\"unique_id\":\"\"}");
}

TEST_F(Commands, ScreenshotEqualsTheDeviceScreenPixelForPixel) {
  // The colours page: every swatch of the colour table on screen.
  ASSERT_EQ(Run({"press", "down", "down", "enter"}).code, 0);
  ASSERT_EQ(sim.controller.Ui().Page(), UiPage::Colours);
  const CtlRun run = Run({"screenshot", Path("s.png")});
  EXPECT_EQ(run.code, 0) << run.err;
  const RgbImage device = DeviceScreen();
  const RgbImage shot = ReadPngOrFail(Path("s.png"));
  EXPECT_EQ(shot.width, 240);
  EXPECT_EQ(shot.height, 320);
  EXPECT_EQ(shot.rgb, device.rgb);

  ASSERT_EQ(Run({"screenshot", Path("s3.png"), "--scale", "3"}).code, 0);
  EXPECT_EQ(ReadPngOrFail(Path("s3.png")).rgb, ScaleNearest(DeviceScreen(), 3).rgb);
}

TEST_F(Commands, PressSendsExactlyThePressesAndReleases) {
  CtlRun run = Run({"press", "down", "enter", "--gap", "10"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ButtonEvents(),
            (std::vector<int>{kKeyDown, kKeyDown + kRelease, kKeyEnter, kKeyEnter + kRelease}));
  EXPECT_EQ(sim.controller.Ui().Page(), UiPage::Counter);
}

TEST_F(Commands, HeldKeyRepeatsLikeAHeldPcKeyThenReleasesOnce) {
  const uint64_t before = sim.clock.NowUs();
  const CtlRun run = Run({"tap", "up", "--hold", "600"});
  EXPECT_EQ(run.code, 0) << run.err;
  // The press, repeats at 500, 533, 566 and 599 ms, the release at 600 ms.
  EXPECT_EQ(ButtonEvents(),
            (std::vector<int>{kKeyUp, kKeyUp, kKeyUp, kKeyUp, kKeyUp, kKeyUp + kRelease}));
  EXPECT_GE(sim.clock.NowUs() - before, 600000u);
}

TEST_F(Commands, PushEscPulsesTheHardwareEscKey) {
  ASSERT_EQ(Run({"press", "enter"}).code, 0);
  ASSERT_EQ(sim.controller.Ui().Page(), UiPage::Status);
  const uint64_t before = sim.clock.NowUs();
  const CtlRun run = Run({"push-esc"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(sim.controller.Ui().Page(), UiPage::Menu);
  EXPECT_GE(sim.clock.NowUs() - before, uint64_t{kEscPulseMs} * 1000);
  EXPECT_EQ(sim.bridge.Config(sim.controllerBridge).bitMask & 0x02, 0);  // the line is low again
}

TEST_F(Commands, DeviceAndLinkFailuresExitTwoWithTheResultAndTheLinksLine) {
  sim.bridge.Unplug(sim.controllerBridge);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"info"},
                                             {"screenshot", Path("s.png")},
                                             {"press", "up"},
                                             {"record", Path("r.mkv"), "--frames", "2"},
                                             {"watch", "--seconds", "1"},
                                             {"expect", Path("missing.png")}}) {
    if (args[0] == "expect") {
      ASSERT_EQ(WritePng(Path("missing.png"), DeviceScreen()), "");
    }
    const CtlRun run = Run(args);
    EXPECT_EQ(run.code, 2) << args[0];
    EXPECT_EQ(run.err,
              "vesk3ctl: Error (1): Can not open device\nvesk3ctl: No proper USB device found\n")
        << args[0];
  }
  EXPECT_FALSE(std::filesystem::exists(Path("s.png")));
  EXPECT_FALSE(std::filesystem::exists(Path("r.mkv")));
}

TEST_F(Commands, WrongUsageExitsSixtyFourWithAUsageLine) {
  const CtlRun run = Run({"press", "space"});
  EXPECT_EQ(run.code, 64);
  EXPECT_EQ(run.err,
            "vesk3ctl: unknown key 'space' (keys: esc enter up down left right)\n"
            "usage: vesk3ctl [GLOBAL OPTIONS] press KEY... [--hold MS] [--gap MS]\n");
  EXPECT_EQ(sim.bridge.CallCount(FtCall::Open), 0u);

  std::ofstream(Path("plain")) << "x";
  EXPECT_EQ(Run({"record", Path("plain"), "--frames", "1"}).code, 64);

  const CtlRun help = Run({"expect", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("--tolerance"), std::string::npos);
}

TEST_F(Commands, SerialChoosesAmongSeveralHandControllers) {
  HandControllerOptions options;
  options.info.uniqueId = {'S', 'E', 'C', 'O', 'N', 'D', '-', '-',
                           '-', '-', '-', '-', '-', '-', '-', '-'};
  HandController second(options);
  SimBridgeInfo bridge;
  bridge.description = kHandControllerDescription;
  bridge.serial = "VK3SECND";
  bridge.device = &second;
  sim.bridge.AddBridge(bridge);

  CtlRun run = Run({"info", "--json"});
  EXPECT_EQ(run.code, 0);
  EXPECT_NE(run.out.find("\"serial\":\"VK30A1B2\""), std::string::npos);
  EXPECT_EQ(run.err,
            "vesk3ctl: several Vesk-3 attached (VK30A1B2, VK3SECND); using the first, choose one "
            "with --serial\n");

  run = Run({"--serial", "VK3SECND", "info", "--json"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\"serial\":\"VK3SECND\""), std::string::npos);
  EXPECT_NE(run.out.find("SECOND"), std::string::npos);
  EXPECT_EQ(run.err, "");

  run = Run({"--serial", "NOSUCH", "info"});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("no Vesk-3 with serial NOSUCH is attached (attached: VK30A1B2, VK3SECND)"),
            std::string::npos);
}

// The reference: the device's menu, with the title bar (and its clock) outside the region.
constexpr const char* kBelowTitle = "0,40,240,280";

TEST_F(Commands, ExpectMatchesWithinTheToleranceAndTimesOutOtherwise) {
  ASSERT_EQ(Run({"screenshot", Path("menu.png")}).code, 0);
  RgbImage reference = ReadPngOrFail(Path("menu.png"));
  const uint8_t* at = reference.At(100, 250);
  // The block differs by 3 in every channel from what the screen shows there.
  PaintBlock(reference, 100, 250, at[0] < 128 ? at[0] + 3 : at[0] - 3,
             at[1] < 128 ? at[1] + 3 : at[1] - 3, at[2] < 128 ? at[2] + 3 : at[2] - 3);
  ASSERT_EQ(WritePng(Path("ref.png"), reference), "");

  struct Case {
    std::string tolerance;
    int code;
  };
  for (const Case& c : {Case{"3", 0}, Case{"2", 1}}) {
    const uint64_t before = sim.clock.NowUs();
    const CtlRun run = Run({"expect", Path("ref.png"), "--region", kBelowTitle, "--tolerance",
                            c.tolerance, "--timeout", "2"});
    EXPECT_EQ(run.code, c.code) << "tolerance " << c.tolerance << run.err;
    if (c.code == 0) {
      EXPECT_EQ(run.out, "");
      EXPECT_LT(sim.clock.NowUs() - before, 1000000u);  // the first frame matched
      continue;
    }
    EXPECT_EQ(run.out, "100 pixels differ\n");
    EXPECT_GE(sim.clock.NowUs() - before, 2000000u);
    const RgbImage diff = ReadPngOrFail(Path("ref.diff.png"));
    int red = 0;
    for (size_t i = 0; i < diff.rgb.size(); i += 3) {
      red += diff.rgb[i] == 255 && diff.rgb[i + 1] == 0 && diff.rgb[i + 2] == 0;
    }
    EXPECT_EQ(red, 100);
  }
}

TEST_F(Commands, ExpectRefusesAReferenceItCannotUse) {
  std::ofstream(Path("junk.png")) << "junk";
  EXPECT_EQ(Run({"expect", Path("junk.png")}).code, 2);
  ASSERT_EQ(WritePng(Path("small.png"), MakeImage(100, 100)), "");
  const CtlRun run = Run({"expect", Path("small.png")});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("not 240 x 320"), std::string::npos);
  EXPECT_EQ(sim.bridge.CallCount(FtCall::Open), 0u);
}

// Milliseconds column of frames.csv.
std::vector<uint64_t> CsvTimes(const std::string& path, std::vector<uint64_t>* bytes = nullptr) {
  std::ifstream csv(path);
  std::vector<uint64_t> times;
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line, "index,ms,bytes");
  for (uint64_t index = 0; std::getline(csv, line); ++index) {
    unsigned long long i = 0, ms = 0, b = 0;
    EXPECT_EQ(std::sscanf(line.c_str(), "%llu,%llu,%llu", &i, &ms, &b), 3) << line;
    EXPECT_EQ(i, index);
    times.push_back(ms);
    if (bytes) bytes->push_back(b);
  }
  return times;
}

// Each refresh one mirror period after the one before.
void ExpectMirrorPeriod(const std::vector<int64_t>& times) {
  for (size_t i = 1; i < times.size(); ++i) {
    EXPECT_NEAR(times[i] - times[i - 1], 76, 1) << "frame " << i;
  }
}

TEST_F(Commands, RecordWritesAFolderOfFramesWithTheirTable) {
  const CtlRun run = Run({"record", Path("frames"), "--frames", "5"});
  EXPECT_EQ(run.code, 0) << run.err;
  std::vector<uint64_t> bytes;
  const std::vector<uint64_t> times = CsvTimes(Path("frames/frames.csv"), &bytes);
  ASSERT_EQ(times.size(), 5u);
  ExpectMirrorPeriod(std::vector<int64_t>(times.begin(), times.end()));
  EXPECT_GT(bytes[0], 10000u);    // the whole frame first
  EXPECT_LT(bytes[1], bytes[0]);  // then the changes
  // The last frame is the screen as the device still shows it.
  EXPECT_EQ(ReadPngOrFail(Path("frames/" + RecordedFrameName(4))).rgb, DeviceScreen().rgb);
  EXPECT_FALSE(sim.bridge.IsOpen(sim.controllerBridge));
}

TEST_F(Commands, RecordWritesAVideoWithTheTimesOfTheRefreshes) {
  for (const char* name : {"r.mkv", "r.mp4"}) {
    const CtlRun run = Run({"record", Path(name), "--frames", "6"});
    ASSERT_EQ(run.code, 0) << run.err;
    const ProbedVideo video = ProbeVideo(Path(name));
    ASSERT_EQ(video.error, "") << name;
    EXPECT_EQ(video.frames.size(), 6u) << name;
    ExpectMirrorPeriod(video.ptsMs);
    if (std::string(name) == "r.mkv") {
      EXPECT_EQ(video.frames.back().rgb, DeviceScreen().rgb);
    }
  }
  // --seconds: the refreshes of one second.
  ASSERT_EQ(Run({"record", Path("s.mkv"), "--seconds", "1"}).code, 0);
  const ProbedVideo second = ProbeVideo(Path("s.mkv"));
  EXPECT_GE(second.frames.size(), 13u);
  EXPECT_LE(second.frames.size(), 15u);
}

TEST_F(Commands, RecordShowsItsProgressOnlyOnATerminal) {
  const CtlRun terminal = Run({"record", Path("t"), "--frames", "20"}, /*errIsTerminal=*/true);
  EXPECT_EQ(terminal.code, 0);
  EXPECT_NE(terminal.err.find("\rframes "), std::string::npos) << terminal.err;
  EXPECT_NE(terminal.err.find("refreshes/s"), std::string::npos);
  EXPECT_NE(terminal.err.find("% of the link"), std::string::npos);

  const CtlRun piped = Run({"record", Path("p"), "--frames", "20"});
  EXPECT_EQ(piped.err.find("\r"), std::string::npos) << piped.err;
  const CtlRun quiet = Run({"-q", "record", Path("q"), "--frames", "20"}, /*errIsTerminal=*/true);
  EXPECT_EQ(quiet.err, "");
}

TEST_F(Commands, WatchPrintsTheRatesOnceASecond) {
  const CtlRun run = Run({"watch", "--seconds", "3"});
  EXPECT_EQ(run.code, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  for (const std::string& line : lines) {
    double rate = 0, share = 0;
    unsigned long long bytes = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf refreshes/s  %llu bytes/refresh  %lf%% of the link",
                          &rate, &bytes, &share),
              3)
        << line;
    EXPECT_NEAR(rate, 1000.0 / 76, 1.0) << line;
    EXPECT_GT(bytes, 0u);
  }
}

TEST_F(Commands, BusyAndSystemChangeAreWaitedOutPoweredOffEndsTheCommand) {
  struct Case {
    uint8_t notification;
    int code;
    const char* says;
  };
  const Case cases[] = {{kNotifyBusyA, 0, ""},
                        {kNotifySystemChangeDefault, 0, "system change"},
                        {kNotifySwitchedOff, 2, "vesk3ctl: Vesk-3 has been powered off\n"}};
  for (const Case& c : cases) {
    // The notification takes the place of a refresh after the link is up.
    platform.AfterMs(800, [this, &c] {
      sim.controller.SendNotification(c.notification, NotifyWhen::InPlaceOfNextAnswer);
    });
    const std::string out = Path("n" + std::to_string(c.notification));
    const CtlRun run = Run({"record", out, "--frames", "8"});
    EXPECT_EQ(run.code, c.code) << int{c.notification} << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    const size_t rows = CsvTimes(out + "/frames.csv").size();
    EXPECT_EQ(rows == 8u, c.code == 0) << rows;
    if (c.notification == kNotifyBusyA) {
      bool heldOff = false;
      for (uint32_t ms : sim.platform.Sleeps()) heldOff = heldOff || ms == kHoldOffBusyMs;
      EXPECT_TRUE(heldOff);
    }
    if (c.notification == kNotifySwitchedOff) sim.controller.SwitchOn();
  }
}

TEST_F(Commands, InterruptKeepsAFinishedFileReleasesTheKeyAndClosesTheLink) {
  struct Case {
    std::vector<std::string> args;
    int signal;
  };
  const Case cases[] = {
      {{"record", Path("i.mkv"), "--seconds", "60"}, SIGTERM},
      {{"record", Path("i.mp4"), "--seconds", "60"}, SIGINT},
      {{"record", Path("i-frames"), "--seconds", "60"}, SIGTERM},
      {{"watch"}, SIGINT},
      {{"press", "up", "--hold", "5000"}, SIGINT},
      {{"press", "up", "down", "--gap", "5000"}, SIGTERM},
  };
  for (const Case& c : cases) {
    const std::vector<int> eventsBefore = ButtonEvents();
    platform.AfterMs(1500, [&c] { RequestInterrupt(c.signal); });
    const CtlRun run = Run(c.args);
    ClearInterrupt();
    EXPECT_EQ(run.code, 128 + c.signal) << c.args[0] << " " << c.args[1];
    EXPECT_FALSE(sim.bridge.IsOpen(sim.controllerBridge));
    const std::string& out = c.args.size() > 1 ? c.args[1] : "";
    if (c.args[0] == "record" && out.find("frames") == std::string::npos) {
      const ProbedVideo video = ProbeVideo(out);
      EXPECT_EQ(video.error, "") << out;
      EXPECT_GE(video.frames.size(), 5u) << out;
    } else if (c.args[0] == "record") {
      const size_t rows = CsvTimes(out + "/frames.csv").size();
      EXPECT_GE(rows, 5u);
      for (size_t i = 0; i < rows; ++i) ReadPngOrFail(out + "/" + RecordedFrameName(i));
    } else if (c.args[0] == "press") {
      // The key went down and, whatever the moment, came up again: no key is left held.
      const std::vector<int> events = ButtonEvents();
      ASSERT_GT(events.size(), eventsBefore.size());
      EXPECT_EQ(events.back(), kKeyUp + kRelease);
      EXPECT_EQ(std::count(events.begin(), events.end(), kKeyUp + kRelease),
                std::count(eventsBefore.begin(), eventsBefore.end(), kKeyUp + kRelease) + 1);
      EXPECT_EQ(std::count(events.begin(), events.end(), kKeyDown), 0);
    }
  }
}

}  // namespace
