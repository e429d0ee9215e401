#include "tests/ctl/ctl_fixture.h"

#include <algorithm>
#include <sstream>

#include "capture/png_file.h"
#include "ctl/commands.h"
#include "ctl/interrupt.h"
#include "services/buttons.h"

void ScriptedPlatform::Fire() {
  for (size_t i = 0; i < events_.size();) {
    if (inner_.NowUs() < events_[i].atUs) {
      ++i;
      continue;
    }
    std::function<void()> action = std::move(events_[i].action);
    events_.erase(events_.begin() + static_cast<long>(i));
    action();
  }
}

void ScriptedPlatform::Beep(uint32_t hz, uint32_t ms) {
  inner_.Beep(hz, ms);
  Fire();
}

void ScriptedPlatform::Sleep(uint32_t ms) {
  inner_.Sleep(ms);
  Fire();
}

void CtlTest::SetUp() {
  ClearInterrupt();
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("vesk3ctl-") + info->test_suite_name() + "-" + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
}

void CtlTest::TearDown() {
  ClearInterrupt();
  std::filesystem::remove_all(dir);
}

CtlRun CtlTest::Run(const std::vector<std::string>& args, bool errIsTerminal) {
  std::ostringstream out;
  std::ostringstream err;
  CtlRun run;
  run.code = RunVesk3ctl(
      args,
      [this](bool) {
        return Backend{&sim.bridge, &platform, {}};
      },
      out, err, errIsTerminal);
  run.out = out.str();
  run.err = err.str();
  return run;
}

RgbImage CtlTest::DeviceScreen() const {
  return ImageOfFrame(sim.controller.Screen());
}

std::vector<int> CtlTest::ButtonEvents() const {
  std::vector<int> events;
  for (const ReceivedCommand& cmd : sim.controller.ReceivedCommands()) {
    if (cmd.command != kCmdButtonEvent || cmd.params.size() != 1) continue;
    const uint8_t id = cmd.params[0].first;
    events.push_back((id & 0x0F) + ((id & 0x10) != 0 ? kButtonRelease : 0));
  }
  return events;
}

RgbImage ReadPngOrFail(const std::string& path) {
  RgbImage image;
  const std::string error = ReadPng(path, &image);
  EXPECT_EQ(error, "");
  return image;
}
