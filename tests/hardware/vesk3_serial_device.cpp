#include "tests/hardware/vesk3_serial_device.h"

#include <string>
#include <vector>

#include "services/buttons.h"
#include "sim/hand_controller.h"

namespace {

// The button code (key number, +128 for a release) a parameter id stands for.
std::string ButtonCodeOf(uint8_t id) {
  for (int32_t code = 0; code < 2 * kButtonRelease; ++code) {
    if (ButtonParamId(code) == id) return std::to_string(code);
  }
  return "?" + std::to_string(id);
}

class Vesk3SerialDevice : public SerialDevice {
 public:
  void HostBytes(const uint8_t* data, size_t n, uint32_t hostBaud, uint64_t nowUs) override {
    device_.HostBytes(data, n, hostBaud, nowUs);
  }
  size_t TakeDeviceBytes(uint8_t* out, size_t max, uint32_t hostBaud, uint64_t nowUs) override {
    device_.Tick(nowUs);
    // Only ask when there is something: the model copies from an empty buffer otherwise.
    if (device_.PendingDeviceBytes() == 0) return 0;
    return device_.TakeDeviceBytes(out, max, hostBaud, nowUs);
  }
  void SetCbusPins(uint8_t highMask) override {
    if (cbus_.empty() || cbus_.back() != highMask) cbus_.push_back(highMask);
    device_.SetCbusPins(highMask);
  }
  void Tick(uint64_t nowUs) override { device_.Tick(nowUs); }

  std::string Control(const std::string& words) override {
    if (words == "awake") return std::string("ok ") + (device_.Awake() ? "1" : "0");
    if (words == "garbled") return "ok " + std::to_string(device_.GarbledBytesIn());
    if (words == "frames") return "ok " + std::to_string(device_.FramesSent());
    if (words == "bulk segments" || words == "bulk streamed") {
      device_.Options().bulkMode =
          words == "bulk streamed" ? BulkMode::Streamed : BulkMode::Segments;
      return "ok";
    }
    if (words == "pad 0" || words == "pad 1") {
      device_.Options().padStreamedFrames = words == "pad 1";
      return "ok";
    }
    if (words == "cbus") return "ok" + Join(cbus_);
    if (words == "screen") {  // RGB565, row-major, little-endian, as hex
      static const char kDigits[] = "0123456789abcdef";
      std::string text = "ok ";
      const uint16_t* screen = device_.Screen();
      for (int i = 0; i < kDisplayPixels; ++i) {
        for (int shift : {4, 0, 12, 8}) text += kDigits[(screen[i] >> shift) & 0xF];
      }
      return text;
    }
    if (words == "commands" || words == "buttons") {
      std::string text = "ok";
      for (const ReceivedCommand& c : device_.ReceivedCommands()) {
        if (words == "commands") {
          text += " " + std::to_string(c.command);
        } else if (c.command == kCmdButtonEvent) {
          for (const auto& param : c.params) text += " " + ButtonCodeOf(param.first);
        }
      }
      return text;
    }
    return "error unknown device command";
  }

 private:
  static std::string Join(const std::vector<uint8_t>& values) {
    std::string text;
    for (uint8_t v : values) text += " " + std::to_string(v);
    return text;
  }

  HandController device_;
  std::vector<uint8_t> cbus_;
};

}  // namespace

std::unique_ptr<SerialDevice> MakeVesk3SerialDevice() {
  return std::make_unique<Vesk3SerialDevice>();
}
