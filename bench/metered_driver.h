// A bridge driver that passes every call on to another one and meters it.
//
// Owns: the bytes moved each way, and the wall and CPU time spent inside the
// driver calls. Over the simulated bridge the CPU time inside the calls is the
// simulated device's and wire's own work (the device runs inside Read and
// Write), which the benchmarks show apart from the host's.
// Does not own: any behaviour; every call and result is the inner driver's.
#pragma once

#include <cstdint>

#include "link/ft_driver.h"

// CPU time of the calling thread, in microseconds.
uint64_t ThreadCpuUs();
// CPU time of the whole process (user + system), in microseconds.
uint64_t ProcessCpuUs();
// A steady wall clock, in microseconds.
uint64_t WallUs();

struct DriverMeter {
  uint64_t bytesWritten = 0;
  uint64_t bytesRead = 0;
  uint64_t calls = 0;
  uint64_t cpuUs = 0;   // CPU time inside the calls
  uint64_t wallUs = 0;  // wall time inside the calls

  uint64_t BytesMoved() const { return bytesWritten + bytesRead; }
};

class MeteredDriver : public FtDriver {
 public:
  explicit MeteredDriver(FtDriver& inner) : inner_(inner) {}

  DriverMeter meter;
  void ResetMeter() { meter = {}; }

  FtStatus CreateDeviceInfoList(uint32_t* count) override;
  FtStatus GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) override;
  FtStatus Open(int index, FtHandle* handle) override;
  FtStatus Close(FtHandle handle) override;
  FtStatus GetBitMode(FtHandle handle, uint8_t* pins) override;
  FtStatus Purge(FtHandle handle, uint32_t mask) override;
  FtStatus SetDataCharacteristics(FtHandle handle, uint8_t wordLength, uint8_t stopBits,
                                  uint8_t parity) override;
  FtStatus SetBaudRate(FtHandle handle, uint32_t baud) override;
  FtStatus SetFlowControl(FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) override;
  FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override;
  FtStatus SetLatencyTimer(FtHandle handle, uint8_t ms) override;
  FtStatus SetBitMode(FtHandle handle, uint8_t mask, uint8_t mode) override;
  FtStatus Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) override;
  FtStatus Read(FtHandle handle, void* buffer, uint32_t n, uint32_t* got) override;
  FtStatus GetQueueStatus(FtHandle handle, uint32_t* rx) override;
  FtStatus GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) override;
  FtStatus GetDeviceInfo(FtHandle handle, uint32_t* type, uint32_t* id, char* serial,
                         char* description, void* reserved) override;

 private:
  template <typename Call>
  FtStatus Metered(Call call);

  FtDriver& inner_;
};
