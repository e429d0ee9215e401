// The bridge driver for real hardware: the driver table on libftdi1 (and
// through it libusb-1.0).
//
// Owns: the enumeration of every FTDI bridge on the machine (descriptions and
// serial numbers from sysfs where the system has them, from the string
// descriptors otherwise, remembered per bus address so the 250 ms presence
// poll opens nothing it has asked before), opening by index of the last
// enumeration, the configuration calls mapped one for one onto libftdi, the
// read loop that gathers until the count or the read timeout, the receive
// buffer behind the queue query, the status numbers by what failed, and one
// diagnostic line on standard error for each failure with the library's text.
// Keeps the UART at the baud rate asked in every bit mode (libftdi 1.5 would
// multiply it by 4 once any bit mode was set) and purges with the tc*flush
// calls, which name the directions as the host sees them.
// Does not own: which bridge is the device, retries or texts for the user
// (UsbDevice), nor access rights (the udev rule 60-vesk3.rules).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/ft_driver.h"

struct ftdi_context;

// Device types in the vendor driver's numbering, by the chip's bcdDevice.
constexpr uint32_t kFtDeviceBm = 0;
constexpr uint32_t kFtDeviceAm = 1;
constexpr uint32_t kFtDevice2232C = 4;
constexpr uint32_t kFtDevice232R = 5;
constexpr uint32_t kFtDevice2232H = 6;
constexpr uint32_t kFtDevice4232H = 7;
constexpr uint32_t kFtDevice232H = 8;
constexpr uint32_t kFtDeviceUnknown = 3;

// Flow control values of SetFlowControl besides kFtFlowRtsCts.
constexpr uint16_t kFtFlowNone = 0x0000;
constexpr uint16_t kFtFlowDtrDsr = 0x0200;
constexpr uint16_t kFtFlowXonXoff = 0x0400;

class LibFtdiDriver : public FtDriver {
 public:
  LibFtdiDriver();
  ~LibFtdiDriver() override;
  LibFtdiDriver(const LibFtdiDriver&) = delete;
  LibFtdiDriver& operator=(const LibFtdiDriver&) = delete;

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

  // How often the enumeration fell back to opening a bridge for its strings.
  int stringDescriptorReads() const { return stringDescriptorReads_; }

  // Why the last Open failed, in plain words, where libftdi says more than the
  // status does: "" when it opened or the cause is not known.
  std::string OpenFailureInPlainWords() const;

 private:
  struct Bridge;
  struct Listed {
    uint8_t bus;
    uint8_t address;
    uint16_t vendor;
    uint16_t product;
    uint32_t type;
    std::string serial;
    std::string description;
  };
  struct Strings {
    std::string serial;
    std::string description;
  };

  Bridge* Find(FtHandle handle);
  Strings StringsOf(void* usbDevice, uint8_t bus, uint8_t address);
  FtStatus ReadFromChip(Bridge& b, uint8_t* out, uint32_t n, uint32_t* got, int waitMs);

  ftdi_context* enumerator_ = nullptr;
  std::vector<Listed> listed_;
  std::map<uint32_t, Strings> strings_;  // by bus << 8 | address
  std::vector<std::unique_ptr<Bridge>> open_;
  int stringDescriptorReads_ = 0;
  int lastOpenError_ = 0;  // libftdi's return value of the last open
};

// libftdi's ftdi_usb_open_* result when the interface cannot be claimed:
// another process (the window, another vesk3ctl) has it, as libusb reports busy.
constexpr int kLibFtdiClaimFailed = -5;
