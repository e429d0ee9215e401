// Tessaro_App_sim as the end-to-end test runs it: the same program on the same
// simulated hand controller, plus one thing the test needs to see from
// outside: the device's own screen, written to the file named by the first
// argument whenever it has changed (after any driver call), as 76800
// little-endian RGB565 words. The file is replaced atomically (write, rename).
// Everything else is passed through to the simulated bridge unchanged.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/ft_driver.h"
#include "panel/tessaro_app_app.h"
#include "services/display_frame.h"
#include "sim/simulated_setup.h"

namespace {

class ScreenReportingDriver : public FtDriver {
 public:
  ScreenReportingDriver(FtDriver& inner, HandController& device, std::string path)
      : inner_(inner), device_(device), path_(std::move(path)), last_(kDisplayPixels, 0) {
    Report(true);
  }

  FtStatus CreateDeviceInfoList(uint32_t* count) override {
    return After(inner_.CreateDeviceInfoList(count));
  }
  FtStatus GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) override {
    return After(inner_.GetDeviceInfoList(list, count));
  }
  FtStatus Open(int index, FtHandle* handle) override { return After(inner_.Open(index, handle)); }
  FtStatus Close(FtHandle handle) override { return After(inner_.Close(handle)); }
  FtStatus GetBitMode(FtHandle handle, uint8_t* pins) override {
    return After(inner_.GetBitMode(handle, pins));
  }
  FtStatus Purge(FtHandle handle, uint32_t mask) override {
    return After(inner_.Purge(handle, mask));
  }
  FtStatus SetDataCharacteristics(FtHandle handle, uint8_t wordLength, uint8_t stopBits,
                                  uint8_t parity) override {
    return After(inner_.SetDataCharacteristics(handle, wordLength, stopBits, parity));
  }
  FtStatus SetBaudRate(FtHandle handle, uint32_t baud) override {
    return After(inner_.SetBaudRate(handle, baud));
  }
  FtStatus SetFlowControl(FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) override {
    return After(inner_.SetFlowControl(handle, flow, xon, xoff));
  }
  FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override {
    return After(inner_.SetTimeouts(handle, readMs, writeMs));
  }
  FtStatus SetLatencyTimer(FtHandle handle, uint8_t ms) override {
    return After(inner_.SetLatencyTimer(handle, ms));
  }
  FtStatus SetBitMode(FtHandle handle, uint8_t mask, uint8_t mode) override {
    return After(inner_.SetBitMode(handle, mask, mode));
  }
  FtStatus Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) override {
    return After(inner_.Write(handle, data, n, written));
  }
  FtStatus Read(FtHandle handle, void* buffer, uint32_t n, uint32_t* got) override {
    return After(inner_.Read(handle, buffer, n, got));
  }
  FtStatus GetQueueStatus(FtHandle handle, uint32_t* rx) override {
    return After(inner_.GetQueueStatus(handle, rx));
  }
  FtStatus GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) override {
    return After(inner_.GetStatus(handle, rx, tx, events));
  }
  FtStatus GetDeviceInfo(FtHandle handle, uint32_t* type, uint32_t* id, char* serial,
                         char* description, void* reserved) override {
    return After(inner_.GetDeviceInfo(handle, type, id, serial, description, reserved));
  }

 private:
  FtStatus After(FtStatus status) {
    Report(false);
    return status;
  }

  void Report(bool always) {
    const uint16_t* screen = device_.Screen();
    if (!always && std::memcmp(screen, last_.data(), kDisplayPixels * sizeof(uint16_t)) == 0) {
      return;
    }
    std::memcpy(last_.data(), screen, kDisplayPixels * sizeof(uint16_t));
    std::vector<uint8_t> bytes(kDisplayPixels * 2);
    for (int i = 0; i < kDisplayPixels; ++i) {
      bytes[2 * i] = static_cast<uint8_t>(screen[i]);
      bytes[2 * i + 1] = static_cast<uint8_t>(screen[i] >> 8);
    }
    const std::string temporary = path_ + ".new";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) == 0 && written) std::rename(temporary.c_str(), path_.c_str());
  }

  FtDriver& inner_;
  HandController& device_;
  std::string path_;
  std::vector<uint16_t> last_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SCREEN-FILE\n", argc > 0 ? argv[0] : "Tessaro_App_sim_e2e");
    return 2;
  }
  SimulatedSetup sim(/*realTime=*/true);
  ScreenReportingDriver driver(sim.bridge, sim.controller, argv[1]);
  int programArgc = 1;
  char* programArgv[] = {argv[0], nullptr};
  return RunTessaroApp(programArgc, programArgv, driver, sim.platform);
}
