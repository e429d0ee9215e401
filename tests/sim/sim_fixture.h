// The fixture of the tests that run the program's core against the simulated
// hand controller behind the simulated bridge, in virtual time.
//
// Owns: a fresh program state for every case with the simulated bridge and
// platform installed (ProgramScope); one-call exchanges built with
// the core's own VK3cmd_ functions; the host's writes as the wire saw them.
// Does not own: what a test asserts.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "protocol/result_codes.h"
#include "services/program_state.h"
#include "sim/simulated_setup.h"

using Bytes = std::vector<uint8_t>;

struct SentParam {
  uint8_t id;
  Bytes data;
};

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // VK3cmd_Begin, VK3cmd_AddParam for each parameter, VK3cmd_AppendData with
  // `appended`, VK3cmd_Send and, when that succeeded, VK3cmd_Receive.
  ResultCode Exchange(uint8_t command, std::initializer_list<SentParam> params = {},
                      const Bytes& appended = {});
  // Every Write on the hand controller's bridge so far.
  const std::vector<SimWireWrite>& Writes() const {
    return sim.bridge.HostWrites(sim.controllerBridge);
  }
  void ForgetWrites() { sim.bridge.ForgetHostWrites(sim.controllerBridge); }
  uint64_t NowUs() { return sim.clock.NowUs(); }
  // Bytes of the parameter `id` in the last answer (empty when it is missing).
  Bytes AnswerParam(uint8_t id) const;

  SimulatedSetup sim;
  std::optional<ProgramScope> program;  // from SetUp to TearDown
};
