#include "ctl/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "capture/frame_image.h"
#include "ctl/key_press.h"
#include "services/display_frame.h"

namespace {

struct CommandSyntax {
  Command command;
  const char* name;
  const char* usage;
  const char* help;
};

constexpr CommandSyntax kCommands[] = {
    {Command::List, "list", "list",
     "The FTDI bridges on the machine: serial, description, and whether each is a Vesk-3.\n"},
    {Command::Info, "info", "info [--json]",
     "The device information report: serial, mode, protocol versions, chip id, unique id.\n"
     "  --json   one JSON object with typed fields\n"},
    {Command::Screenshot, "screenshot", "screenshot FILE.png [--scale N]",
     "One whole frame as a PNG at the device's 240 x 320, colours widened as the window does.\n"
     "  --scale N   enlarge N times (1..16), nearest neighbour\n"},
    {Command::Press, "press", "press KEY... [--hold MS] [--gap MS]",
     "Press and release the device keys in order: esc enter up down left right.\n"
     "  --hold MS   keep each key down MS ms, repeating as a held PC key does\n"
     "              (the first repeat after 500 ms, then every 33 ms)\n"
     "  --gap MS    wait MS ms between keys (default 100)\n"
     "'tap' is the same command.\n"},
    {Command::PushEsc, "push-esc", "push-esc",
     "The hardware Esc key: a 200 ms pulse on the bridge's CBUS1 line.\n"},
    {Command::Record, "record", "record OUT (--seconds S | --frames N)",
     "Mirror every 76 ms and write every refreshed frame with the time it arrived.\n"
     "  OUT ending in .mkv   lossless FFV1 video\n"
     "  OUT ending in .mp4   H.264 video\n"
     "  any other OUT        a folder of numbered PNGs and frames.csv\n"
     "                       (index, milliseconds since start, bytes moved)\n"
     "  --seconds S | --frames N   when to stop (Ctrl+C also stops, keeping the file)\n"},
    {Command::Watch, "watch", "watch [--seconds S]",
     "Mirror without writing; once a second print the refresh rate, the bytes per\n"
     "refresh and the link utilisation (share of 300,000 bytes/s).\n"
     "  --seconds S   stop after S seconds (default: until Ctrl+C)\n"},
    {Command::Expect, "expect",
     "expect REFERENCE.png [--timeout S] [--region X,Y,W,H] [--tolerance N]",
     "Mirror until the screen (or the region) equals the reference within N per colour\n"
     "channel: exit 0. On timeout exit 1, print the number of differing pixels and\n"
     "write REFERENCE.diff.png with the differences in red.\n"
     "  --timeout S     give up after S seconds (default 10)\n"
     "  --region X,Y,W,H   compare only this rectangle (device pixels)\n"
     "  --tolerance N   allowed difference per channel, 0..255 (default 0)\n"},
};

constexpr const char* kGlobalHelp =
    "Global options:\n"
    "  --sim             the simulated hand controller (real time), no hardware needed\n"
    "  --serial SERIAL   the Vesk-3 with this bridge serial, when several are attached\n"
    "  -q, --quiet       errors only on standard error\n"
    "  -v, --verbose     more notes on standard error\n"
    "  -h, --help        this text; COMMAND --help for one command\n"
    "Exit status: 0 success, 1 expect timed out, 2 device, link or file failure,\n"
    "64 wrong usage, 130 / 143 interrupted by Ctrl+C / SIGTERM.\n";

const CommandSyntax* Find(Command command) {
  for (const CommandSyntax& c : kCommands) {
    if (c.command == command) return &c;
  }
  return nullptr;
}

const CommandSyntax* FindNamed(const std::string& name) {
  if (name == "tap") return Find(Command::Press);
  for (const CommandSyntax& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (v > max) return false;
  *value = v;
  return true;
}

bool ParseSeconds(const std::string& text, double* seconds) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  // A day is far beyond any rig's need and keeps the milliseconds exact.
  constexpr double kMaxSeconds = 86400.0;
  if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(v) || v <= 0 ||
      v > kMaxSeconds) {
    return false;
  }
  *seconds = v;
  return true;
}

bool ParseRegion(const std::string& text, Region* region) {
  uint64_t v[4] = {};
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t comma = i < 3 ? text.find(',', at) : text.size();
    if (comma == std::string::npos) return false;
    if (!ParseUnsigned(text.substr(at, comma - at), kDisplayHeight, &v[i])) return false;
    at = comma + 1;
  }
  *region = Region{static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                   static_cast<int>(v[3])};
  return region->width > 0 && region->height > 0 && region->x + region->width <= kDisplayWidth &&
         region->y + region->height <= kDisplayHeight;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  ParseResult Run() {
    std::vector<std::string> rest;
    // Global options may stand anywhere; everything else belongs to the command.
    for (size_t i = 0; i < args_.size(); ++i) {
      const std::string& a = args_[i];
      if (a == "--sim") {
        r_.line.sim = true;
      } else if (a == "--serial") {
        if (i + 1 >= args_.size() || args_[i + 1].empty()) return Fail("--serial needs a serial");
        r_.line.serial = args_[++i];
      } else if (a == "-q" || a == "--quiet") {
        r_.line.verbosity = Verbosity::Quiet;
      } else if (a == "-v" || a == "--verbose") {
        r_.line.verbosity = Verbosity::Verbose;
      } else if (a == "-h" || a == "--help") {
        r_.line.help = true;
      } else {
        rest.push_back(a);
      }
    }
    if (rest.empty()) {
      if (r_.line.help) return r_;
      return Fail("no command given");
    }
    const CommandSyntax* syntax = FindNamed(rest[0]);
    if (syntax == nullptr) {
      if (rest[0].size() > 1 && rest[0][0] == '-') return Fail("unknown option '" + rest[0] + "'");
      return Fail("unknown command '" + rest[0] + "'");
    }
    r_.line.command = syntax->command;
    if (r_.line.help) return r_;
    rest.erase(rest.begin());
    return ParseCommand(rest);
  }

 private:
  ParseResult Fail(const std::string& error) {
    r_.error = error;
    return r_;
  }

  // The value after option i; false (with the error set) when there is none.
  bool Value(const std::vector<std::string>& a, size_t* i, std::string* value) {
    if (*i + 1 >= a.size()) {
      r_.error = a[*i] + " needs a value";
      return false;
    }
    *value = a[++*i];
    return true;
  }

  ParseResult ParseCommand(const std::vector<std::string>& a) {
    CommandLine& l = r_.line;
    std::vector<std::string> operands;
    bool haveSeconds = false;
    bool haveFrames = false;
    for (size_t i = 0; i < a.size(); ++i) {
      const std::string& o = a[i];
      std::string v;
      uint64_t n = 0;
      if (o.size() < 2 || o[0] != '-') {
        operands.push_back(o);
      } else if (o == "--json" && l.command == Command::Info) {
        l.json = true;
      } else if (o == "--scale" && l.command == Command::Screenshot) {
        if (!Value(a, &i, &v)) return r_;
        if (!ParseUnsigned(v, kMaxScale, &n) || n < 1) return Fail("--scale takes 1 to 16");
        l.scale = static_cast<int>(n);
      } else if ((o == "--hold" || o == "--gap") && l.command == Command::Press) {
        if (!Value(a, &i, &v)) return r_;
        constexpr uint64_t kMaxHoldMs = 3600000;
        if (!ParseUnsigned(v, kMaxHoldMs, &n)) return Fail(o + " takes milliseconds");
        (o == "--hold" ? l.holdMs : l.gapMs) = static_cast<uint32_t>(n);
      } else if (o == "--seconds" &&
                 (l.command == Command::Record || l.command == Command::Watch)) {
        if (!Value(a, &i, &v)) return r_;
        if (!ParseSeconds(v, &l.seconds)) return Fail("--seconds takes a positive number");
        haveSeconds = true;
      } else if (o == "--frames" && l.command == Command::Record) {
        if (!Value(a, &i, &v)) return r_;
        constexpr uint64_t kMaxFrames = 10000000;
        if (!ParseUnsigned(v, kMaxFrames, &n) || n < 1) return Fail("--frames takes a count");
        l.frames = n;
        haveFrames = true;
      } else if (o == "--timeout" && l.command == Command::Expect) {
        if (!Value(a, &i, &v)) return r_;
        if (!ParseSeconds(v, &l.timeoutS)) return Fail("--timeout takes a positive number");
      } else if (o == "--region" && l.command == Command::Expect) {
        if (!Value(a, &i, &v)) return r_;
        if (!ParseRegion(v, &l.region)) return Fail("--region takes X,Y,W,H inside 240 x 320");
        l.hasRegion = true;
      } else if (o == "--tolerance" && l.command == Command::Expect) {
        if (!Value(a, &i, &v)) return r_;
        if (!ParseUnsigned(v, 255, &n)) return Fail("--tolerance takes 0 to 255");
        l.tolerance = static_cast<int>(n);
      } else {
        return Fail("unknown option '" + o + "'");
      }
    }
    switch (l.command) {
      case Command::List:
      case Command::Info:
      case Command::PushEsc:
      case Command::Watch:
        if (!operands.empty()) return Fail("unexpected '" + operands[0] + "'");
        break;
      case Command::Screenshot:
        if (operands.size() != 1) return Fail("one FILE.png is needed");
        l.file = operands[0];
        break;
      case Command::Press:
        if (operands.empty()) return Fail("which keys? " + std::string(KeyNames()));
        for (const std::string& name : operands) {
          const int key = DeviceKeyNamed(name);
          if (key < 0) return Fail("unknown key '" + name + "' (keys: " + KeyNames() + ")");
          l.keys.push_back(key);
        }
        break;
      case Command::Record:
        if (operands.size() != 1) return Fail("one OUT is needed");
        l.out = operands[0];
        if (haveSeconds == haveFrames) return Fail("give --seconds S or --frames N");
        break;
      case Command::Expect:
        if (operands.size() != 1) return Fail("one REFERENCE.png is needed");
        l.reference = operands[0];
        break;
      case Command::None:
        break;
    }
    return r_;
  }

  const std::vector<std::string>& args_;
  ParseResult r_;
};

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  return Parser(args).Run();
}

std::string UsageText(Command command) {
  const std::string prefix = std::string("usage: ") + kProgramName + " [GLOBAL OPTIONS] ";
  if (const CommandSyntax* c = Find(command)) return prefix + c->usage + "\n";
  std::string text = prefix + "COMMAND [ARGS]\n";
  return text;
}

std::string HelpText(Command command) {
  if (const CommandSyntax* c = Find(command)) return UsageText(command) + "\n" + c->help;
  std::string text = UsageText(Command::None) + "\nCommands:\n";
  for (const CommandSyntax& c : kCommands) text += std::string("  ") + c.usage + "\n";
  return text + "\n" + kGlobalHelp + "\n" + kProgramName + " COMMAND --help tells more.\n";
}
