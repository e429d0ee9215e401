#include "ctl/interrupt.h"

#include <signal.h>

namespace {
volatile sig_atomic_t pendingSignal = 0;
InterruptProbe probe = nullptr;

void OnSignal(int signal) {
  pendingSignal = signal;
}
}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // a transfer under way finishes; the flag is seen after it
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int InterruptSignal() {
  return pendingSignal;
}

void SetInterruptProbe(InterruptProbe newProbe) {
  probe = newProbe;
}

bool Interrupted() {
  return pendingSignal != 0 || (probe != nullptr && probe());
}

void RequestInterrupt(int signal) {
  pendingSignal = signal;
}

void ClearInterrupt() {
  pendingSignal = 0;
}

int InterruptExitCode(int signal) {
  return kExitInterruptBase + signal;
}
