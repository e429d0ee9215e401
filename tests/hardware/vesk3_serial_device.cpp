#include "tests/hardware/vesk3_serial_device.h"

#include <string>
#include <vector>

#include "sim/hand_controller.h"

namespace {

constexpr uint8_t kButtonCommand = 174;

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
    if (words == "cbus") return "ok" + Join(cbus_);
    if (words == "commands" || words == "buttons") {
      std::string text = "ok";
      for (const ReceivedCommand& c : device_.ReceivedCommands()) {
        if (words == "commands") {
          text += " " + std::to_string(c.command);
        } else if (c.command == kButtonCommand) {
          for (const auto& [id, data] : c.params) {
            for (uint8_t b : data) text += " " + std::to_string(b);
          }
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
