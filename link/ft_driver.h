// The bridge driver contract.
//
// Owns: the one table of driver functions the USB link calls, with the exact
// meaning the link relies on. Every backend (the libftdi1 backend for real
// hardware, the simulated bridge, the scripted fake in the tests) implements
// this table and nothing else. Does not own: which device is ours, texts of
// failures or retries; those belong to UsbDevice, the only caller.
//
// Every entry returns an FtStatus: 0 is success, any other value a failure
// that the link reports exactly as it came. A transfer that runs into its
// timeout is *not* a failure: it returns 0 with fewer bytes than asked.
#pragma once

#include <cstddef>
#include <cstdint>

using FtStatus = uint32_t;
using FtHandle = void*;

// Status values in the vendor driver's numbering.
constexpr FtStatus kFtOk = 0;
constexpr FtStatus kFtInvalidHandle = 1;
constexpr FtStatus kFtDeviceNotFound = 2;
constexpr FtStatus kFtDeviceNotOpened = 3;
constexpr FtStatus kFtIoError = 4;
constexpr FtStatus kFtInsufficientResources = 5;
constexpr FtStatus kFtInvalidParameter = 6;
constexpr FtStatus kFtInvalidBaudRate = 7;
constexpr FtStatus kFtOtherError = 18;

// Argument values the link passes.
constexpr uint32_t kFtPurgeRx = 1;          // Purge: empty the receive queue
constexpr uint32_t kFtPurgeTx = 2;          // Purge: empty the transmit queue
constexpr uint16_t kFtFlowRtsCts = 0x0100;  // SetFlowControl: RTS/CTS handshake
constexpr uint8_t kFtBitModeReset = 0x00;   // SetBitMode: back to plain UART
constexpr uint8_t kFtBitModeCbus = 0x20;    // SetBitMode: CBUS bit-bang
constexpr uint8_t kFtBits8 = 8;             // SetDataCharacteristics: word length
constexpr uint8_t kFtStopBits1 = 0;         // SetDataCharacteristics: one stop bit
constexpr uint8_t kFtParityNone = 0;        // SetDataCharacteristics: no parity

// Node fields the backends fill in the vendor driver's numbering (the link
// itself looks only at ID and Description).
constexpr uint32_t kFtFlagOpened = 1;     // Flags: the bridge is open
constexpr uint32_t kFtDeviceXSeries = 9;  // Type: an FT-X bridge such as the FT230X

// One enumerated bridge, laid out as the vendor driver lays it out (104 bytes).
struct FtDeviceListInfoNode {
  uint32_t Flags;
  uint32_t Type;
  uint32_t ID;  // vendor id << 16 | product id
  uint32_t LocId;
  char SerialNumber[16];  // zero-terminated
  char Description[64];   // zero-terminated
  FtHandle ftHandle;
};
static_assert(sizeof(FtDeviceListInfoNode) == 104, "node layout is fixed");

constexpr size_t kFtSerialLength = 16;  // GetDeviceInfo serial buffer, terminator included
constexpr size_t kFtDescriptionLength =
    64;  // GetDeviceInfo description buffer, terminator included

class FtDriver {
 public:
  virtual ~FtDriver() = default;

  // Called by Poll, every 250 ms while not connected. Builds the driver's list
  // of bridges and writes its length. May take as long as a USB enumeration.
  virtual FtStatus CreateDeviceInfoList(uint32_t* count) = 0;

  // Called by Poll right after CreateDeviceInfoList, with room for *count
  // nodes. Fills at most *count nodes in device-index order (at least ID and
  // Description) and writes the count again.
  virtual FtStatus GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) = 0;

  // Called by Open with an index of the last enumeration. Writes the handle.
  virtual FtStatus Open(int index, FtHandle* handle) = 0;

  // Called by Close, by Poll on an open link and at program end.
  virtual FtStatus Close(FtHandle handle) = 0;

  // Called by Open. Writes one byte: the current state of the bridge's pins.
  virtual FtStatus GetBitMode(FtHandle handle, uint8_t* pins) = 0;

  // Called by Open (mask 3) and the flushes (1 receive, 2 transmit).
  virtual FtStatus Purge(FtHandle handle, uint32_t mask) = 0;

  // Called at link start-up with 8, 0 (one stop bit), 0 (no parity).
  virtual FtStatus SetDataCharacteristics(FtHandle handle, uint8_t wordLength, uint8_t stopBits,
                                          uint8_t parity) = 0;

  // Called at link start-up: 9600 for the wake-up, 3,000,000 afterwards.
  virtual FtStatus SetBaudRate(FtHandle handle, uint32_t baud) = 0;

  // Called at link start-up with 0x0100 (RTS/CTS), no XON/XOFF characters.
  virtual FtStatus SetFlowControl(FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) = 0;

  // Called at link start-up with 1000, 1000: the bounds of every later Read and Write.
  virtual FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) = 0;

  // Called at link start-up with 2 ms.
  virtual FtStatus SetLatencyTimer(FtHandle handle, uint8_t ms) = 0;

  // Called for the Esc line and at start-up. Mode 0x20 is CBUS bit-bang: the
  // mask's upper nibble gives the directions of CBUS3..0 (1 = output), the
  // lower nibble their levels. It does not change the UART's baud rate.
  virtual FtStatus SetBitMode(FtHandle handle, uint8_t mask, uint8_t mode) = 0;

  // Writes up to n bytes, waiting at most the write timeout; writes the count
  // accepted (fewer than n when the timeout ended first).
  virtual FtStatus Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) = 0;

  // Waits until n bytes have arrived or the read timeout has passed, and
  // writes the count delivered (0 after a timeout with nothing received).
  virtual FtStatus Read(FtHandle handle, void* buffer, uint32_t n, uint32_t* got) = 0;

  // Writes the number of bytes received and not yet read. Does not wait.
  virtual FtStatus GetQueueStatus(FtHandle handle, uint32_t* rx) = 0;

  // Writes the receive count, the transmit queue count and the event state.
  // Does not wait. The link uses the transmit count.
  virtual FtStatus GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) = 0;

  // Writes the open bridge's serial number (at most 16 bytes) and description
  // (at most 64 bytes), zero-terminated. type, id and reserved may be ignored.
  virtual FtStatus GetDeviceInfo(FtHandle handle, uint32_t* type, uint32_t* id, char* serial,
                                 char* description, void* reserved) = 0;
};

// Installs the driver the one UsbDevice calls. Programs call it first thing in
// main, tests before they start. The driver must outlive every link call;
// EndLink() closes the link and returns to the built-in driver that finds nothing.
void UseDriver(FtDriver& driver);
FtDriver& TheDriver();
