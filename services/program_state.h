// The program-wide state and its one owner.
//
// Owns: what a fresh program starts with (the link theUsbDevice, the command
// channel theChannel with its frame counter, descriptor table, bulk state,
// hold-off, wake-up and handshake state, the FrameBuffer, the ExpansionBuffer
// and fullRefresh), ResetProgramState that puts all of it back, and
// ProgramScope, which installs a driver and a platform for as long as it lives
// and ends the link when it goes. Every program, test fixture, benchmark and
// fuzzer starts from here.
// Does not own: the state itself (each part stays where it is declared) or the
// driver and the platform (the caller keeps them alive longer than the scope).
#pragma once

class FtDriver;
class Platform;

// Back to the state a program starts with, without any driver call.
void ResetProgramState();

// While it lives: `driver` is the one the link calls and `platform` the one the
// core waits and beeps on, on a freshly reset program state. When it goes: the
// link is closed if open (EndLink), and the built-in driver that finds nothing
// and the real platform are in force again, so nothing reaches the driver or
// the platform once they are gone.
class ProgramScope {
 public:
  ProgramScope(FtDriver& driver, Platform& platform);
  ~ProgramScope();
  ProgramScope(const ProgramScope&) = delete;
  ProgramScope& operator=(const ProgramScope&) = delete;
};
