// Ctrl+C and SIGTERM for vesk3ctl: the handler only sets a flag; the
// commands look at it between exchanges, release what they hold, finish
// their file, close the link and exit with 128 + the signal's number.
//
// Owns: the flag, the handlers, the exit code of an interrupted run.
// Does not own: what a command does when it sees the flag.
#pragma once

constexpr int kExitInterruptBase = 128;

void InstallInterruptHandlers();
// A second source of stops for hosts with their own signal handling (the
// Python module: Ctrl+C raises KeyboardInterrupt there). Interrupted() asks it
// whenever no signal is pending; true means stop. nullptr: none.
using InterruptProbe = bool (*)();
void SetInterruptProbe(InterruptProbe probe);
// The signal that asked to stop (SIGINT, SIGTERM), or 0.
int InterruptSignal();
bool Interrupted();
// As if the signal had arrived (tests), and back to none.
void RequestInterrupt(int signal);
void ClearInterrupt();
int InterruptExitCode(int signal);
