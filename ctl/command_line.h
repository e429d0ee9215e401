// vesk3ctl's command line: global options, the command and its arguments,
// checked before anything reaches the device.
//
// Owns: the syntax of every command, the usage lines and help texts, and the
// parsed values. A wrong command line is a UsageError (exit 64); --help is
// not an error. Does not own: running the command (commands).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/screen_compare.h"
#include "ctl/console.h"

constexpr int kExitOk = 0;
constexpr int kExitExpectTimedOut = 1;
constexpr int kExitFailure = 2;
constexpr int kExitUsage = 64;

enum class Command { None, List, Info, Screenshot, Press, PushEsc, Record, Watch, Expect };

constexpr uint32_t kDefaultGapMs = 100;
constexpr double kDefaultExpectTimeoutS = 10.0;

struct CommandLine {
  // Global options.
  bool sim = false;
  std::string serial;
  Verbosity verbosity = Verbosity::Normal;
  bool help = false;  // --help: print the help of the command (or of all) and exit 0

  Command command = Command::None;
  // info
  bool json = false;
  // screenshot
  std::string file;
  int scale = 1;
  // press
  std::vector<int> keys;
  uint32_t holdMs = 0;
  uint32_t gapMs = kDefaultGapMs;
  // record, watch
  std::string out;
  double seconds = 0;
  uint64_t frames = 0;
  // expect
  std::string reference;
  double timeoutS = kDefaultExpectTimeoutS;
  bool hasRegion = false;
  Region region;
  int tolerance = 0;
};

struct ParseResult {
  CommandLine line;
  std::string error;  // "" when the command line is good
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The usage line of a command (all commands for Command::None).
std::string UsageText(Command command);
// The help text of a command, or of the program for Command::None.
std::string HelpText(Command command);
