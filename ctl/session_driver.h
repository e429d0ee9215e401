// The driver the session installs in front of the backend (libftdi1 or the
// simulated bridge).
//
// Owns: choosing one hand controller by serial number (the other hand
// controllers are hidden from the link's enumeration, so its Poll finds the
// chosen one), the listing of every bridge for `list`, and the count of bytes
// moved each way. Everything else passes through unchanged.
// Does not own: which bridge is the device (the link decides, as ever).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/ft_driver.h"

struct ListedBridge {
  std::string serial;
  std::string description;
  uint32_t id = 0;
  bool handController = false;
};

class SessionDriver : public FtDriver {
 public:
  explicit SessionDriver(FtDriver& backend) : backend_(backend) {}

  // Empty: every bridge is shown, and the link takes the first hand controller.
  void ChooseSerial(const std::string& serial) { serial_ = serial; }

  // Every bridge on the machine, as the backend lists it; false on a driver failure.
  bool ListBridges(std::vector<ListedBridge>* bridges, FtStatus* status);

  uint64_t BytesRead() const { return bytesRead_; }
  uint64_t BytesWritten() const { return bytesWritten_; }
  uint64_t BytesMoved() const { return bytesRead_ + bytesWritten_; }

  FtStatus CreateDeviceInfoList(uint32_t* count) override;
  FtStatus GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) override;
  FtStatus Open(int index, FtHandle* handle) override;
  FtStatus Close(FtHandle handle) override { return backend_.Close(handle); }
  FtStatus GetBitMode(FtHandle handle, uint8_t* pins) override {
    return backend_.GetBitMode(handle, pins);
  }
  FtStatus Purge(FtHandle handle, uint32_t mask) override { return backend_.Purge(handle, mask); }
  FtStatus SetDataCharacteristics(FtHandle handle, uint8_t wordLength, uint8_t stopBits,
                                  uint8_t parity) override {
    return backend_.SetDataCharacteristics(handle, wordLength, stopBits, parity);
  }
  FtStatus SetBaudRate(FtHandle handle, uint32_t baud) override {
    return backend_.SetBaudRate(handle, baud);
  }
  FtStatus SetFlowControl(FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) override {
    return backend_.SetFlowControl(handle, flow, xon, xoff);
  }
  FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) override {
    return backend_.SetTimeouts(handle, readMs, writeMs);
  }
  FtStatus SetLatencyTimer(FtHandle handle, uint8_t ms) override {
    return backend_.SetLatencyTimer(handle, ms);
  }
  FtStatus SetBitMode(FtHandle handle, uint8_t mask, uint8_t mode) override {
    return backend_.SetBitMode(handle, mask, mode);
  }
  FtStatus Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) override;
  FtStatus Read(FtHandle handle, void* buffer, uint32_t n, uint32_t* got) override;
  FtStatus GetQueueStatus(FtHandle handle, uint32_t* rx) override {
    return backend_.GetQueueStatus(handle, rx);
  }
  FtStatus GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) override {
    return backend_.GetStatus(handle, rx, tx, events);
  }
  FtStatus GetDeviceInfo(FtHandle handle, uint32_t* type, uint32_t* id, char* serial,
                         char* description, void* reserved) override {
    return backend_.GetDeviceInfo(handle, type, id, serial, description, reserved);
  }

 private:
  bool Hidden(const FtDeviceListInfoNode& node) const;

  FtDriver& backend_;
  std::string serial_;
  std::vector<FtDeviceListInfoNode> shown_;  // the last enumeration as the link sees it
  std::vector<int> backendIndex_;            // shown_[i] is the backend's node backendIndex_[i]
  uint64_t bytesRead_ = 0;
  uint64_t bytesWritten_ = 0;
};

// A node the link would take for the hand controller: its bridge id and description.
bool IsHandControllerNode(const FtDeviceListInfoNode& node);
