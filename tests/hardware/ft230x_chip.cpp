#include "tests/hardware/ft230x_chip.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

constexpr uint8_t kRequestTypeIn = 0x80;
constexpr uint8_t kBitModeCbus = 0x20;
constexpr uint8_t kBitModeReset = 0x00;
constexpr size_t kHeardLimit = 65536;  // bytes kept per run, for the tests to look at

// Eighths added to the integer divisor, by the 3-bit code the host sends.
constexpr uint32_t kFractionEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};

}  // namespace

void EchoDevice::HostBytes(const uint8_t* data, size_t n, uint32_t, uint64_t) {
  pending.insert(pending.end(), data, data + n);
}

size_t EchoDevice::TakeDeviceBytes(uint8_t* out, size_t max, uint32_t, uint64_t) {
  size_t n = std::min(max, pending.size());
  std::copy_n(pending.begin(), n, out);
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

std::string EchoDevice::Control(const std::string& words) {
  if (words.rfind("inject ", 0) == 0) {
    const std::string hex = words.substr(7);
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
          !std::isxdigit(static_cast<unsigned char>(hex[i + 1]))) {
        return "error not hex";
      }
      pending.push_back(static_cast<uint8_t>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    }
    return "ok";
  }
  if (words == "cbus") return "ok " + std::to_string(cbusMask);
  return "error unknown device command";
}

uint32_t DecodeBaudDivisor(uint16_t value, uint16_t index) {
  uint32_t whole = value & 0x3FFF;
  uint32_t code = (value >> 14) | ((index & 0x01u) << 2);
  if (whole == 0 && code == 0) return kChipBaseClock;
  if (whole == 1 && code == 0) return kChipBaseClock * 2 / 3;
  uint32_t eighths = whole * 8 + kFractionEighths[code];
  if (eighths < 16) return 0;  // below a divisor of 2 only the two special values run
  return static_cast<uint32_t>((uint64_t{kChipBaseClock} * 8 + eighths / 2) / eighths);
}

int Ft230xChip::VendorRequest(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                              uint16_t length, uint8_t* in) {
  requests.push_back({request, value, index});
  bool toHost = (requestType & kRequestTypeIn) != 0;
  switch (request) {
    case kSioReset:
      if (value == kSioPurgeToHost || value == kSioResetSio) towardHost_.clear();
      return 0;
    case kSioSetModemCtrl:
      return 0;
    case kSioSetFlowCtrl:
      flow_ = index & 0xFF00;
      return 0;
    case kSioSetBaudRate: {
      uint32_t baud = DecodeBaudDivisor(value, index);
      if (baud == 0) return -1;
      baud_ = baud;
      return 0;
    }
    case kSioSetData:
      data_ = value;
      return 0;
    case kSioPollModemStatus:
      if (!toHost || length < 2) return -1;
      in[0] = kChipModemStatus;
      in[1] = kChipLineStatus;
      return 2;
    case kSioSetLatencyTimer:
      if ((value & 0xFF) == 0) return -1;
      latencyMs_ = static_cast<uint8_t>(value & 0xFF);
      return 0;
    case kSioGetLatencyTimer:
      if (!toHost || length < 1) return -1;
      in[0] = latencyMs_;
      return 1;
    case kSioSetBitMode:
      bitMode_ = static_cast<uint8_t>(value >> 8);
      bitMask_ = static_cast<uint8_t>(value & 0xFF);
      device_.SetCbusPins(DrivenHigh());
      return 0;
    case kSioReadPins:
      if (!toHost || length < 1) return -1;
      in[0] = Pins();
      return 1;
    default:
      return -1;
  }
}

uint8_t Ft230xChip::DrivenHigh() const {
  if (bitMode_ != kBitModeCbus) return 0;
  return static_cast<uint8_t>((bitMask_ >> 4) & bitMask_ & 0x0F);
}

uint8_t Ft230xChip::Pins() const {
  if (bitMode_ != kBitModeCbus) return 0xFF;
  uint8_t outputs = bitMask_ >> 4;
  uint8_t levels = (bitMask_ & outputs) | (~outputs & 0x0F);
  return static_cast<uint8_t>(0xF0 | levels);
}

void Ft230xChip::HostWrite(const uint8_t* data, size_t n, uint64_t nowUs) {
  if (heard.empty() || heard.back().baud != baud_) heard.push_back({baud_, {}});
  if (heard.back().bytes.size() < kHeardLimit) {
    heard.back().bytes.insert(heard.back().bytes.end(), data,
                              data + std::min(n, kHeardLimit - heard.back().bytes.size()));
  }
  device_.HostBytes(data, n, baud_, nowUs);
}

void Ft230xChip::Tick(uint64_t nowUs) {
  device_.Tick(nowUs);
  Pull(nowUs);
}

void Ft230xChip::Pull(uint64_t nowUs) {
  uint8_t chunk[512];
  for (;;) {
    size_t got = device_.TakeDeviceBytes(chunk, sizeof chunk, baud_, nowUs);
    if (got == 0) return;
    towardHost_.insert(towardHost_.end(), chunk, chunk + std::min(got, sizeof chunk));
  }
}

bool Ft230xChip::InReady(uint64_t waitingSinceUs, uint64_t nowUs) {
  Pull(nowUs);
  if (towardHost_.size() >= kChipPacketSize - kChipStatusBytes) return true;
  return nowUs - waitingSinceUs >= uint64_t{latencyMs_} * 1000;
}

size_t Ft230xChip::FillIn(uint8_t* buffer, size_t capacity, uint64_t nowUs) {
  Pull(nowUs);
  size_t used = 0;
  while (used + kChipStatusBytes <= capacity) {
    buffer[used++] = kChipModemStatus;
    buffer[used++] = kChipLineStatus;
    size_t room = std::min(kChipPacketSize - kChipStatusBytes, capacity - used);
    size_t n = std::min(room, towardHost_.size());
    std::copy_n(towardHost_.begin(), n, buffer + used);
    towardHost_.erase(towardHost_.begin(), towardHost_.begin() + static_cast<std::ptrdiff_t>(n));
    used += n;
    if (n < kChipPacketSize - kChipStatusBytes) break;  // a short packet ends the transfer
  }
  return used;
}
