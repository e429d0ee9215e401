// The USB link: the one object through which the program reaches the hand
// controller behind its FT230X bridge.
//
// Owns: finding the device among the bridges, opening and configuring the
// bridge, moving bytes, the queue queries, the CBUS lines (CBUS1 is the
// device's hardware Esc key) and the diagnostic error record. Every driver call
// goes through here and every failure leaves a fixed text in errorText.
// Does not own: the command protocol (protocol/), retries (there are none) or
// anything shown to the user.
#pragma once

#include <cstdint>
#include <string>

#include "link/ft_driver.h"

// The bridge the hand controller sits behind: vendor 0x0403, product 0x6015.
constexpr uint32_t kHandControllerBridgeId = 0x04036015;
// The description that makes such a bridge the hand controller (DeviceKind 3).
constexpr const char* kHandControllerDescription = "Vesk-3 HandController";

// Which descriptions count as the device in Poll.
constexpr int32_t kDeviceKindAnyDescription = 0;
constexpr int32_t kDeviceKindPrototypes = 1;
constexpr int32_t kDeviceKindPlainConverter = 2;
constexpr int32_t kDeviceKindHandController = 3;

constexpr size_t kErrorTextSize = 1024;
constexpr size_t kQueryTextSize = 256;
constexpr uint32_t kWritePieceMax = 16384;  // Write hands the driver at most this per call
constexpr uint32_t kLinkTimeoutMs = 1000;   // read and write timeouts set at start-up
constexpr uint8_t kLinkLatencyMs = 2;
constexpr int32_t kConstructionTimeoutMs = 5000;

struct LinkError {
  std::u16string message;  // last fixed-text failure, widened from the 8-bit text
  int32_t code = 0;        // status of the last failed driver call; 0 after a timeout
  int32_t timedOut = 0;    // 1 when the last driver failure moved no bytes
  int32_t readTimeoutMs = kConstructionTimeoutMs;
  int32_t writeTimeoutMs = kConstructionTimeoutMs;
};

class UsbDevice {
 public:
  UsbDevice();
  ~UsbDevice();
  UsbDevice(const UsbDevice&) = delete;
  UsbDevice& operator=(const UsbDevice&) = delete;

  // Index of the first bridge that is the device, or -1. Closes an open link first.
  int32_t Poll();
  // 0 open and ready; 1 no device found; otherwise the failing driver status.
  int32_t Open();
  // 0 closed (also when it was not open); 9 the driver failed to close it.
  int32_t Close();

  // Configuration: 0 done, 1 not open or driver failure.
  int32_t SetDataFormat();
  int32_t SetBaudRate(uint32_t rate);
  int32_t SetRTSCTS();
  int32_t SetTimeouts();
  int32_t SetLatencyTimer();
  int32_t FlushInBuffer();
  int32_t FlushOutBuffer();
  // CBUS bit-bang: CBUS1 becomes an output at bit 1 of levels; 0 / 1.
  int32_t SetBitOutput(uint32_t levels);
  // All four CBUS lines become inputs; 0 / 1.
  int32_t SetBitInput();

  // Bytes written (== length), or 0 on any failure. Pieces of at most 16384.
  int32_t Write(const void* data, int32_t length);
  // Bytes read (> 0, possibly fewer than length), or 0 on any failure. One driver read.
  int32_t Read(void* buffer, int32_t length);

  uint32_t QueryReadBufLen();
  uint32_t QueryWriteBufLen();
  // Texts owned by the link, valid until the next call of the same operation.
  const char* QuerySerial();
  const char* QueryDescr();

  bool IsOpen() const { return handle != nullptr; }
  // Whether the handle held has been configured since it was opened. The
  // link start-up marks it once the whole configuration went through; opening
  // a new handle and closing forget it. The link itself never configures.
  bool IsConfigured() const { return IsOpen() && configured_; }
  void MarkConfigured() { configured_ = IsOpen(); }

  // Back to the construction state without any driver call (tests, fuzzing).
  void Reset();

  // Closes the link at program end, the way the destructor does.
  void CloseAtProgramEnd();

  // Fields, as diagnostics and tests read them.
  uint32_t lastStatus = 0;
  FtHandle handle = nullptr;
  int32_t DeviceKind = kDeviceKindAnyDescription;
  FtDeviceListInfoNode* deviceList = nullptr;
  uint32_t deviceCount = 0;
  char errorText[kErrorTextSize] = {};
  LinkError linkError;
  uint32_t bitDirection = 0;
  uint32_t bitLevels = 0;
  // Bytes Write and Read have moved since the program started, both ways
  // together: what meters read (it costs no device traffic).
  uint64_t bytesMoved = 0;

 private:
  bool IsTheDevice(const FtDeviceListInfoNode& node) const;
  bool Record(FtStatus status);
  void SetText(const char* text);
  void AppendText(const char* text);
  void ReportDriverFailure(const char* name);
  void ReportTimeout(const char* name);
  bool RequireOpen(const char* notOpenText);
  int32_t ConfigCall(const char* notOpenText, const char* failureName,
                     FtStatus (*call)(UsbDevice&));
  int32_t SendBitMode();

  bool configured_ = false;
  char serialForSerial_[kQueryTextSize] = {};
  char descrForSerial_[kQueryTextSize] = {};
  char serialForDescr_[kQueryTextSize] = {};
  char descrForDescr_[kQueryTextSize] = {};
};

extern UsbDevice theUsbDevice;

// Closes the link if it is open (result ignored) and goes back to the built-in
// driver that finds nothing, so no later call reaches a driver that is gone.
// Each program calls it before its driver is destroyed.
void EndLink();
