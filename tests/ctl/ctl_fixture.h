// The fixture of vesk3ctl's tests: the program's commands run against the
// simulated hand controller in virtual time, their output captured.
//
// Owns: the simulated setup, a platform that can interrupt the run at a
// chosen moment (as Ctrl+C or SIGTERM would), a scratch folder, and helpers
// to read what the device received and what a PNG holds.
// Does not own: what a test asserts.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "capture/frame_image.h"
#include "platform/platform.h"
#include "sim/simulated_setup.h"

struct CtlRun {
  int code = 0;
  std::string out;
  std::string err;
};

// The simulated platform, doing something "meanwhile" once its clock has
// passed a time: a signal arriving, the device sending a notification.
class ScriptedPlatform : public Platform {
 public:
  explicit ScriptedPlatform(SimPlatform& inner) : inner_(inner) {}
  void Beep(uint32_t hz, uint32_t ms) override;
  void Sleep(uint32_t ms) override;
  uint64_t NowUs() override { return inner_.NowUs(); }
  // Runs `action` after the first wait that ends `ms` or more from now.
  void AfterMs(uint64_t ms, std::function<void()> action) {
    events_.push_back({inner_.NowUs() + ms * 1000, std::move(action)});
  }

 private:
  struct Event {
    uint64_t atUs;
    std::function<void()> action;
  };
  void Fire();
  SimPlatform& inner_;
  std::vector<Event> events_;
};

class CtlTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // vesk3ctl with these arguments; --sim and the real bridges both reach `sim`.
  CtlRun Run(const std::vector<std::string>& args, bool errIsTerminal = false);
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  // The device's own screen, widened as the view widens it.
  RgbImage DeviceScreen() const;
  // Button event codes (key, + 128 for a release) the device received, in order.
  std::vector<int> ButtonEvents() const;

  SimulatedSetup sim;
  ScriptedPlatform platform{sim.platform};
  std::filesystem::path dir;
};

RgbImage ReadPngOrFail(const std::string& path);
