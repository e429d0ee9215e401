// Fault injection: the scripted session against the simulated hand controller
// is run once for every driver call it makes and every fault that call can
// suffer, and once for an unplug and a power failure at every step of a
// segmented and of a streamed bulk transfer. Each run must end every step the
// way the panel ends it for that failure (state, look, box text and caption),
// no transfer may block past its timeout, and a following Connect must bring
// the mirror back. All in virtual time.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "tests/robustness/panel_session.h"

// Names the bulk mode in the test's name.
static void PrintTo(BulkMode mode, std::ostream* out) {
  *out << (mode == BulkMode::Segments ? "segments" : "streamed");
}

namespace {

constexpr FtStatus kInjectedStatus = kFtIoError;
constexpr size_t kFailuresShown = 20;

struct Fault {
  FtCall call;
  int occurrence;  // 0: the call's first occurrence in the session
  FaultKind kind;
  uint32_t shortBytes;
};

std::string Describe(const Fault& f) {
  static const char* const kKinds[] = {"failing status", "timeout", "short transfer"};
  static const char* const kCalls[] = {"CreateDeviceInfoList",
                                       "GetDeviceInfoList",
                                       "Open",
                                       "Close",
                                       "GetBitMode",
                                       "Purge",
                                       "SetDataCharacteristics",
                                       "SetBaudRate",
                                       "SetFlowControl",
                                       "SetTimeouts",
                                       "SetLatencyTimer",
                                       "SetBitMode",
                                       "Write",
                                       "Read",
                                       "GetQueueStatus",
                                       "GetStatus",
                                       "GetDeviceInfo"};
  static_assert(std::size(kCalls) == static_cast<size_t>(FtCall::Count));
  return std::string(kKinds[static_cast<int>(f.kind)]) + " at " + kCalls[static_cast<int>(f.call)] +
         " #" + std::to_string(f.occurrence + 1);
}

void Inject(SimBridge& bridge, const Fault& f) {
  switch (f.kind) {
    case FaultKind::Status:
      bridge.FailCall(f.call, kInjectedStatus, f.occurrence);
      break;
    case FaultKind::Timeout:
      bridge.TimeOutCall(f.call, f.occurrence);
      break;
    case FaultKind::Short:
      bridge.ShortenCall(f.call, f.shortBytes, f.occurrence);
      break;
  }
}

// Every fault every call of the session can suffer: any call can fail with a
// status; a transfer can also time out with nothing moved, or move half.
std::vector<Fault> FaultsOf(const std::vector<Stopwatch::Call>& calls) {
  std::vector<Fault> faults;
  int seen[static_cast<size_t>(FtCall::Count)] = {};
  for (const Stopwatch::Call& c : calls) {
    const int occurrence = seen[static_cast<size_t>(c.call)]++;
    faults.push_back({c.call, occurrence, FaultKind::Status, 0});
    if (c.call != FtCall::Read && c.call != FtCall::Write) continue;
    faults.push_back({c.call, occurrence, FaultKind::Timeout, 0});
    if (c.bytes >= 2) faults.push_back({c.call, occurrence, FaultKind::Short, c.bytes / 2});
  }
  return faults;
}

// Runs the steps, checking each; returns the first problem, or empty.
std::string RunChecked(PanelSession& session, const std::vector<SessionStep>& steps) {
  for (const SessionStep& step : steps) {
    session.Run(step);
    if (std::string problem = session.CheckLastStep(); !problem.empty()) return problem;
  }
  return "";
}

bool FailureBoxShown(const PanelSession& session) {
  for (const SeenBox& box : session.view.boxes) {
    if (box.caption != "Vesk-3 device info") return true;
  }
  return false;
}

std::string TimeoutsKept(const PanelSession& session) {
  if (session.stopwatch.longestTransferOverTimeoutUs == 0) return "";
  return "a transfer blocked past its timeout: " + session.stopwatch.slowestCall;
}

// boxed: runs in which the panel showed a failure or notification box.
void Report(const char* what, const std::vector<std::string>& failures, int runs, int boxed) {
  std::printf("%s: %d runs (%d ended in a failure box), %zu failed\n", what, runs, boxed,
              failures.size());
  for (size_t i = 0; i < failures.size() && i < kFailuresShown; ++i) {
    ADD_FAILURE() << failures[i];
  }
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << runs << " runs failed";
}

HandControllerOptions WithBulkMode(BulkMode mode) {
  HandControllerOptions options;
  options.bulkMode = mode;
  return options;
}

TEST(FaultInjection, TheSessionWithoutFaultsEndsConnectedWithTheMirror) {
  PanelSession session;
  ASSERT_EQ(RunChecked(session, ScriptedSession()), "");
  EXPECT_EQ(session.controller.PanelStateNow(), Connected);
  ASSERT_EQ(session.view.boxes.size(), 1u);  // the device information report
  EXPECT_EQ(session.view.boxes[0].caption, "Vesk-3 device info");
  EXPECT_EQ(session.RecoverByConnect(), "");
  EXPECT_EQ(TimeoutsKept(session), "");
}

TEST(FaultInjection, EveryFaultAtEveryDriverCallOfTheSession) {
  const std::vector<SessionStep> steps = ScriptedSession();
  std::vector<Stopwatch::Call> calls;
  {
    PanelSession clean;
    clean.stopwatch.recording = true;
    ASSERT_EQ(RunChecked(clean, steps), "");
    calls = clean.stopwatch.calls;
  }
  std::vector<std::string> failures;
  int runs = 0;
  int boxed = 0;
  for (const Fault& fault : FaultsOf(calls)) {
    PanelSession session;
    Inject(session.sim.bridge, fault);
    std::string problem = RunChecked(session, steps);
    session.sim.bridge.ClearFaults();
    if (problem.empty()) problem = session.RecoverByConnect();
    if (problem.empty()) problem = TimeoutsKept(session);
    if (!problem.empty()) failures.push_back(Describe(fault) + ": " + problem);
    ++runs;
    boxed += FailureBoxShown(session);
  }
  Report("fault at every driver call", failures, runs, boxed);
}

// Unplugging the bridge, or the device going silent (its power failing), after
// each read of the first (whole) display frame and in the middle of each.
class CutOffInBulkTransfer : public ::testing::TestWithParam<BulkMode> {};

TEST_P(CutOffInBulkTransfer, AtEveryStepThePanelFallsBackAndConnectRecovers) {
  const std::vector<SessionStep> connect = {{Action::Poll}, {Action::Connect}};
  std::vector<size_t> cutPoints;
  {
    PanelSession clean(WithBulkMode(GetParam()));
    ASSERT_EQ(RunChecked(clean, connect), "");
    clean.stopwatch.recording = true;
    ASSERT_EQ(RunChecked(clean, {{Action::Refresh}}), "");
    size_t delivered = 0;
    for (const Stopwatch::Call& c : clean.stopwatch.calls) {
      if (c.call != FtCall::Read || c.moved == 0) continue;
      cutPoints.push_back(delivered);
      cutPoints.push_back(delivered + c.moved / 2);
      delivered += c.moved;
    }
    ASSERT_GE(cutPoints.size(), 6u) << "the frame should take several reads";
  }
  std::vector<std::string> failures;
  int runs = 0;
  int boxed = 0;
  for (CutOffKind kind : {CutOffKind::Unplug, CutOffKind::Silence}) {
    for (size_t bytes : cutPoints) {
      PanelSession session(WithBulkMode(GetParam()));
      const std::string what =
          std::string(kind == CutOffKind::Unplug ? "unplug" : "power failure") + " after " +
          std::to_string(bytes) + " bytes: ";
      ++runs;
      std::string problem = RunChecked(session, connect);
      session.sim.bridge.CutOffAfter(session.sim.controllerBridge, bytes, kind);
      // The cut frame, and the ones after it until the panel has given up.
      if (problem.empty()) problem = RunChecked(session, {{Action::Refresh}, {Action::Refresh}});
      if (problem.empty() && session.controller.PanelStateNow() != NoDevice) {
        problem = "the panel is still connected to a device that is gone";
      }
      if (problem.empty()) problem = RunChecked(session, {{Action::Poll}, {Action::Poll}});
      const PanelState whileCut = kind == CutOffKind::Unplug ? NoDevice : DeviceAvailable;
      if (problem.empty() && session.controller.PanelStateNow() != whileCut) {
        problem = "the presence poll does not show what is on the bus";
      }
      if (kind == CutOffKind::Unplug) session.sim.bridge.Replug(session.sim.controllerBridge);
      session.sim.bridge.ClearFaults();
      if (problem.empty()) problem = session.RecoverByConnect();
      if (problem.empty()) problem = TimeoutsKept(session);
      if (problem.empty() && !FailureBoxShown(session)) problem = "no box told the user";
      if (!problem.empty()) failures.push_back(what + problem);
      boxed += FailureBoxShown(session);
    }
  }
  Report(GetParam() == BulkMode::Segments ? "cut-off in a segmented transfer"
                                          : "cut-off in a streamed transfer",
         failures, runs, boxed);
}

INSTANTIATE_TEST_SUITE_P(BothBulkModes, CutOffInBulkTransfer,
                         ::testing::Values(BulkMode::Segments, BulkMode::Streamed),
                         [](const auto& info) {
                           return std::string(info.param == BulkMode::Segments ? "Segmented"
                                                                               : "Streamed");
                         });

}  // namespace
