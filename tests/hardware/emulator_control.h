// The test side of the emulated-bridge fixture: talks to the emulator program
// that runs the test under its testbed.
//
// Owns: the control connection (a Unix socket named by VESK3_EMULATOR_SOCKET)
// and one-line commands with one-line answers. Does not own: the bridges
// themselves; they live in the emulator process.
//
// Commands (answers start with "ok" or "error"):
//   add <model> <vid> <pid> <serial> <sysfs|nosysfs> <description...>  -> ok <bridge>
//   plug <bridge> -> ok <devnum>        unplug <bridge> -> ok
//   state <bridge> -> ok key=value ...  requests <bridge> -> ok rr:vvvv:iiii ...
//   heard <bridge> -> ok baud:hex ...   clear <bridge> -> ok
//   hold <bridge> 0|1 -> ok             device <bridge> <words...> -> the model's answer
// The vesk3 model's "device" words include bulk segments|streamed and pad 0|1:
// how it sends display frames (streamed ones padded to 512 bytes, or not).
#pragma once

#include <map>
#include <string>

class EmulatorControl {
 public:
  EmulatorControl();
  ~EmulatorControl();
  EmulatorControl(const EmulatorControl&) = delete;
  EmulatorControl& operator=(const EmulatorControl&) = delete;

  // Whether this process runs under the emulator and the connection is up.
  bool connected() const { return fd_ >= 0; }
  // One command; the answer line without its newline ("error ..." when the link is down).
  std::string Command(const std::string& line);

  // Adds a bridge and plugs it in; returns its number, or -1.
  int AddBridge(const std::string& model, unsigned vendor, unsigned product,
                const std::string& serial, const std::string& description,
                bool sysfsStrings = true);
  bool Plug(int bridge);
  bool Unplug(int bridge);
  // The "state" answer as a map.
  std::map<std::string, std::string> State(int bridge);

 private:
  int fd_ = -1;
};
