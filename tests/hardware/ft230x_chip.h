// The emulated FT230X bridge chip, without any USB transport.
//
// Owns: what the chip does with its vendor requests (reset, purge, baud rate
// divisor, data characteristics, flow control, latency timer, bit mode, read
// pins), the receive buffer toward the host that goes out in 64-byte packets
// each opening with the two status bytes, the latency timer that sends a
// short packet when nothing fills one, the UART baud rate as decoded from the
// divisor the host sent, and the CBUS pins. Host bytes reach the device model
// at that decoded rate, so a wrong rate reaches it as the device would see it.
// Does not own: URBs, clients, the device record or the device node
// (usbfs_bridge), nor the device behind the UART (SerialDevice).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// What sits behind the chip's UART: the same calls the simulated hand
// controller answers, so one device model speaks over every path.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  virtual void HostBytes(const uint8_t* data, size_t n, uint32_t hostBaud, uint64_t nowUs) = 0;
  virtual size_t TakeDeviceBytes(uint8_t* out, size_t max, uint32_t hostBaud, uint64_t nowUs) = 0;
  // The CBUS lines driven high (bit n = CBUSn).
  virtual void SetCbusPins(uint8_t highMask) = 0;
  virtual void Tick(uint64_t nowUs) = 0;
  // A test's question or instruction for the model; the answer line.
  virtual std::string Control(const std::string& words) = 0;
};

// The plain test device: every byte that arrives goes straight back.
class EchoDevice : public SerialDevice {
 public:
  void HostBytes(const uint8_t* data, size_t n, uint32_t hostBaud, uint64_t nowUs) override;
  size_t TakeDeviceBytes(uint8_t* out, size_t max, uint32_t hostBaud, uint64_t nowUs) override;
  void SetCbusPins(uint8_t mask) override { cbusMask = mask; }
  void Tick(uint64_t) override {}
  // "inject <hex>": the device sends these bytes; "cbus": the last CBUS mask.
  std::string Control(const std::string& words) override;

  std::deque<uint8_t> pending;
  uint8_t cbusMask = 0;
};

// The chip's vendor requests, as libftdi and the vendor driver send them.
constexpr uint8_t kSioReset = 0x00;
constexpr uint8_t kSioSetModemCtrl = 0x01;
constexpr uint8_t kSioSetFlowCtrl = 0x02;
constexpr uint8_t kSioSetBaudRate = 0x03;
constexpr uint8_t kSioSetData = 0x04;
constexpr uint8_t kSioPollModemStatus = 0x05;
constexpr uint8_t kSioSetLatencyTimer = 0x09;
constexpr uint8_t kSioGetLatencyTimer = 0x0A;
constexpr uint8_t kSioSetBitMode = 0x0B;
constexpr uint8_t kSioReadPins = 0x0C;
// wValue of kSioReset, named from the chip's side: 1 empties the bytes from
// the host waiting for the UART, 2 the bytes from the UART waiting for the host.
constexpr uint16_t kSioResetSio = 0;
constexpr uint16_t kSioPurgeFromHost = 1;
constexpr uint16_t kSioPurgeToHost = 2;

constexpr uint32_t kChipBaseClock = 3000000;  // 48 MHz / 16
constexpr size_t kChipPacketSize = 64;        // bulk IN packet, status bytes included
constexpr size_t kChipStatusBytes = 2;
constexpr uint8_t kChipModemStatus = 0x01;  // first status byte of every packet
constexpr uint8_t kChipLineStatus = 0x60;   // second: transmitter empty
constexpr uint8_t kChipDefaultLatencyMs = 16;

// The baud rate the chip runs at after it received this divisor
// (wValue, wIndex of kSioSetBaudRate); 0 for a divisor it cannot run.
uint32_t DecodeBaudDivisor(uint16_t value, uint16_t index);

// One vendor request as the chip received it.
struct ChipRequest {
  uint8_t request;
  uint16_t value;
  uint16_t index;
};

class Ft230xChip {
 public:
  explicit Ft230xChip(SerialDevice& device) : device_(device) {}

  // A vendor request. For an IN request writes at most `length` bytes into
  // `in` and returns their count; -1 when the chip stalls the request.
  int VendorRequest(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                    uint16_t length, uint8_t* in);

  // Bytes of a bulk OUT transfer: they go out of the UART.
  void HostWrite(const uint8_t* data, size_t n, uint64_t nowUs);

  // Whether an IN transfer waiting since waitingSinceUs completes by nowUs:
  // a full packet is waiting, or the latency timer ran out.
  bool InReady(uint64_t waitingSinceUs, uint64_t nowUs);
  // Fills an IN transfer of capacity bytes: whole 64-byte packets while data
  // fills them, then one short packet; at least the two status bytes.
  size_t FillIn(uint8_t* buffer, size_t capacity, uint64_t nowUs);

  void Tick(uint64_t nowUs);

  uint32_t baud() const { return baud_; }
  uint8_t latencyMs() const { return latencyMs_; }
  uint16_t dataCharacteristics() const { return data_; }
  uint16_t flowControl() const { return flow_; }
  uint8_t bitMode() const { return bitMode_; }
  uint8_t bitMask() const { return bitMask_; }
  // The pin byte the chip reports: CBUS levels in the lower nibble (inputs
  // read high), the upper nibble high.
  uint8_t Pins() const;
  // The CBUS lines that are outputs at level high (bit n = CBUSn); what the device sees.
  uint8_t DrivenHigh() const;
  size_t BytesTowardHost() const { return towardHost_.size(); }

  std::vector<ChipRequest> requests;  // every vendor request, in order
  // What went out of the UART: runs of bytes at one rate, oldest first.
  struct Heard {
    uint32_t baud;
    std::vector<uint8_t> bytes;
  };
  std::vector<Heard> heard;

 private:
  void Pull(uint64_t nowUs);

  SerialDevice& device_;
  std::deque<uint8_t> towardHost_;
  uint32_t baud_ = 9600;
  uint8_t latencyMs_ = kChipDefaultLatencyMs;
  uint16_t data_ = 0x0008;
  uint16_t flow_ = 0;
  uint8_t bitMode_ = 0;
  uint8_t bitMask_ = 0;
};
