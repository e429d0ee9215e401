// A bridge driver that serves bytes from memory at once, for measuring the
// host's own work without any wire time.
//
// Owns: a list of bridges for Poll, and one byte sequence that Read hands out
// from a cursor (as if it had all arrived already). Writes are accepted and
// dropped. Does not own: any device behaviour (sim/ has the real one).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/ft_driver.h"

struct MemoryBridgeEntry {
  uint32_t id;
  std::string description;
};

class MemoryBridge : public FtDriver {
 public:
  std::vector<MemoryBridgeEntry> bridges;

  // What Read hands out, from the start again.
  void Serve(const std::vector<uint8_t>& bytes) {
    incoming_ = &bytes;
    cursor_ = 0;
  }
  void Rewind() { cursor_ = 0; }

  FtStatus CreateDeviceInfoList(uint32_t* count) override;
  FtStatus GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) override;
  FtStatus Open(int index, FtHandle* handle) override;
  FtStatus Close(FtHandle) override { return kFtOk; }
  FtStatus GetBitMode(FtHandle, uint8_t* pins) override;
  FtStatus Purge(FtHandle, uint32_t) override { return kFtOk; }
  FtStatus SetDataCharacteristics(FtHandle, uint8_t, uint8_t, uint8_t) override { return kFtOk; }
  FtStatus SetBaudRate(FtHandle, uint32_t) override { return kFtOk; }
  FtStatus SetFlowControl(FtHandle, uint16_t, uint8_t, uint8_t) override { return kFtOk; }
  FtStatus SetTimeouts(FtHandle, uint32_t, uint32_t) override { return kFtOk; }
  FtStatus SetLatencyTimer(FtHandle, uint8_t) override { return kFtOk; }
  FtStatus SetBitMode(FtHandle, uint8_t, uint8_t) override { return kFtOk; }
  FtStatus Write(FtHandle, const void*, uint32_t n, uint32_t* written) override;
  FtStatus Read(FtHandle, void* buffer, uint32_t n, uint32_t* got) override;
  FtStatus GetQueueStatus(FtHandle, uint32_t* rx) override;
  FtStatus GetStatus(FtHandle, uint32_t* rx, uint32_t* tx, uint32_t* events) override;
  FtStatus GetDeviceInfo(FtHandle, uint32_t*, uint32_t*, char*, char*, void*) override;

 private:
  const std::vector<uint8_t>* incoming_ = nullptr;
  size_t cursor_ = 0;
  char handleToken_ = 0;
};
