#include "bench/metered_driver.h"

#include <sys/resource.h>
#include <time.h>

namespace {

uint64_t ClockUs(clockid_t id) {
  timespec t{};
  clock_gettime(id, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

uint64_t TimevalUs(const timeval& t) {
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_usec);
}

}  // namespace

uint64_t ThreadCpuUs() {
  return ClockUs(CLOCK_THREAD_CPUTIME_ID);
}

uint64_t ProcessCpuUs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return TimevalUs(usage.ru_utime) + TimevalUs(usage.ru_stime);
}

uint64_t WallUs() {
  return ClockUs(CLOCK_MONOTONIC);
}

template <typename Call>
FtStatus MeteredDriver::Metered(Call call) {
  const uint64_t cpu = ThreadCpuUs();
  const uint64_t wall = WallUs();
  const FtStatus status = call();
  meter.cpuUs += ThreadCpuUs() - cpu;
  meter.wallUs += WallUs() - wall;
  ++meter.calls;
  return status;
}

FtStatus MeteredDriver::CreateDeviceInfoList(uint32_t* count) {
  return Metered([&] { return inner_.CreateDeviceInfoList(count); });
}
FtStatus MeteredDriver::GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) {
  return Metered([&] { return inner_.GetDeviceInfoList(list, count); });
}
FtStatus MeteredDriver::Open(int index, FtHandle* handle) {
  return Metered([&] { return inner_.Open(index, handle); });
}
FtStatus MeteredDriver::Close(FtHandle handle) {
  return Metered([&] { return inner_.Close(handle); });
}
FtStatus MeteredDriver::GetBitMode(FtHandle handle, uint8_t* pins) {
  return Metered([&] { return inner_.GetBitMode(handle, pins); });
}
FtStatus MeteredDriver::Purge(FtHandle handle, uint32_t mask) {
  return Metered([&] { return inner_.Purge(handle, mask); });
}
FtStatus MeteredDriver::SetDataCharacteristics(FtHandle handle, uint8_t wordLength,
                                               uint8_t stopBits, uint8_t parity) {
  return Metered(
      [&] { return inner_.SetDataCharacteristics(handle, wordLength, stopBits, parity); });
}
FtStatus MeteredDriver::SetBaudRate(FtHandle handle, uint32_t baud) {
  return Metered([&] { return inner_.SetBaudRate(handle, baud); });
}
FtStatus MeteredDriver::SetFlowControl(FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
  return Metered([&] { return inner_.SetFlowControl(handle, flow, xon, xoff); });
}
FtStatus MeteredDriver::SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) {
  return Metered([&] { return inner_.SetTimeouts(handle, readMs, writeMs); });
}
FtStatus MeteredDriver::SetLatencyTimer(FtHandle handle, uint8_t ms) {
  return Metered([&] { return inner_.SetLatencyTimer(handle, ms); });
}
FtStatus MeteredDriver::SetBitMode(FtHandle handle, uint8_t mask, uint8_t mode) {
  return Metered([&] { return inner_.SetBitMode(handle, mask, mode); });
}
FtStatus MeteredDriver::Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) {
  const FtStatus status = Metered([&] { return inner_.Write(handle, data, n, written); });
  meter.bytesWritten += *written;
  return status;
}
FtStatus MeteredDriver::Read(FtHandle handle, void* buffer, uint32_t n, uint32_t* got) {
  const FtStatus status = Metered([&] { return inner_.Read(handle, buffer, n, got); });
  meter.bytesRead += *got;
  return status;
}
FtStatus MeteredDriver::GetQueueStatus(FtHandle handle, uint32_t* rx) {
  return Metered([&] { return inner_.GetQueueStatus(handle, rx); });
}
FtStatus MeteredDriver::GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) {
  return Metered([&] { return inner_.GetStatus(handle, rx, tx, events); });
}
FtStatus MeteredDriver::GetDeviceInfo(FtHandle handle, uint32_t* type, uint32_t* id, char* serial,
                                      char* description, void* reserved) {
  return Metered(
      [&] { return inner_.GetDeviceInfo(handle, type, id, serial, description, reserved); });
}
