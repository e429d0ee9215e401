#include "sim/sim_bridge.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kNsPerUs = 1000;
constexpr uint64_t kNsPerMs = 1000000;
constexpr uint64_t kNsPerSecond = 1000000000;
constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
constexpr size_t kPullChunk = 4096;
constexpr size_t kWriteLogLimit = 8192;
constexpr uint8_t kCbusLevels = 0x0F;

void CopyText(char* out, size_t size, const std::string& text) {
  const size_t n = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  std::memset(out + n, 0, size - n);
}

}  // namespace

// ---- the bus ----

size_t SimBridge::AddBridge(const SimBridgeInfo& info) {
  Port& port = ports_.emplace_back();
  port.index = ports_.size() - 1;
  port.info = info;
  return port.index;
}

std::vector<size_t> SimBridge::PluggedBridges() const {
  std::vector<size_t> plugged;
  for (const Port& port : ports_) {
    if (port.plugged) plugged.push_back(port.index);
  }
  return plugged;
}

void SimBridge::Unplug(size_t bridge) {
  Port& port = ports_.at(bridge);
  AdvanceTo(port, NowNs());
  Disconnect(port);
}

void SimBridge::Disconnect(Port& port) {
  const size_t bridge = port.index;
  port.plugged = false;
  port.open = false;
  port.tx.clear();
  port.rx.clear();
  port.heldBack = false;
  for (auto& [handle, open] : handles_) {
    if (open.bridge == bridge) open.dead = true;
  }
  port.config = SimPortConfig{};
  ApplyCbus(port);
}

void SimBridge::Replug(size_t bridge) {
  Port& port = ports_.at(bridge);
  port.plugged = true;
  port.silenced = false;
  port.config = SimPortConfig{};
}

// ---- faults ----

void SimBridge::FailCall(FtCall call, FtStatus status, int after) {
  faults_.push_back({call, FaultKind::Status, status, 0, after, false});
}

void SimBridge::TimeOutCall(FtCall call, int after) {
  faults_.push_back({call, FaultKind::Timeout, kFtOk, 0, after, false});
}

void SimBridge::ShortenCall(FtCall call, uint32_t bytes, int after) {
  faults_.push_back({call, FaultKind::Short, kFtOk, bytes, after, false});
}

void SimBridge::CutOffAfter(size_t bridge, size_t deviceBytes, CutOffKind kind) {
  Port& port = ports_.at(bridge);
  AdvanceTo(port, NowNs());
  port.cutOffAfter = deviceBytes;
  port.cutOffKind = kind;
  if (deviceBytes == 0) ApplyCutOff(port);
}

void SimBridge::NotifyNext(size_t bridge, uint8_t code) {
  HandController* device = ports_.at(bridge).info.device;
  if (device != nullptr) device->SendNotification(code, NotifyWhen::InPlaceOfNextAnswer);
}

void SimBridge::ClearFaults() {
  faults_.clear();
  for (Port& port : ports_) {
    port.cutOffAfter = kNoCutOff;
    port.silenced = false;
  }
}

void SimBridge::Strike(FtCall call, Fault* fault) {
  ++callCounts_[static_cast<size_t>(call)];
  fault->active = false;
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->call != call) continue;
    if (it->after > 0) {
      --it->after;
      return;
    }
    *fault = *it;
    fault->active = true;
    faults_.erase(it);
    return;
  }
}

void SimBridge::ApplyCutOff(Port& port) {
  port.cutOffAfter = kNoCutOff;
  if (port.cutOffKind == CutOffKind::Unplug) {
    Disconnect(port);
  } else {
    port.silenced = true;
  }
}

// ---- time and the wire ----

uint64_t SimBridge::ByteNs(uint32_t baud) const {
  if (!wireTiming_ || baud == 0) return 0;
  return kBitsPerUartByte * kNsPerSecond / baud;
}

void SimBridge::SleepUntilNs(uint64_t ns) {
  clock_.SleepUntilUs((ns + kNsPerUs - 1) / kNsPerUs);
}

void SimBridge::NoteDeviceOutput(Port& port, size_t pendingBefore, uint64_t t) {
  HandController* device = port.info.device;
  if (pendingBefore == 0 && device->PendingDeviceBytes() > 0) port.deviceReadyNs = t;
}

void SimBridge::DeliverToDevice(Port& port, uint64_t t) {
  std::vector<uint8_t> batch;
  while (!port.tx.empty() && port.tx.front().arrivalNs <= t) {
    const uint32_t baud = port.tx.front().baud;
    uint64_t arrival = 0;
    batch.clear();
    while (!port.tx.empty() && port.tx.front().arrivalNs <= t && port.tx.front().baud == baud) {
      batch.push_back(port.tx.front().byte);
      arrival = port.tx.front().arrivalNs;
      port.tx.pop_front();
    }
    HandController* device = port.info.device;
    if (device == nullptr || port.silenced) continue;
    PullFromDevice(port, arrival);
    const size_t before = device->PendingDeviceBytes();
    device->HostBytes(batch.data(), batch.size(), baud, arrival / kNsPerUs);
    NoteDeviceOutput(port, before, arrival);
  }
}

void SimBridge::PullFromDevice(Port& port, uint64_t t) {
  HandController* device = port.info.device;
  if (device == nullptr || port.silenced || !port.plugged) return;
  const size_t pending = device->PendingDeviceBytes();
  if (pending == 0) return;
  const uint64_t byteNs = ByteNs(port.config.baud);
  const uint64_t start = std::max(port.rxWireFreeNs, port.deviceReadyNs);
  size_t n = pending;
  if (byteNs > 0)
    n = t < start ? 0 : static_cast<size_t>(std::min<uint64_t>(pending, (t - start) / byteNs));
  // Flow control: the device stops when the bridge's receive buffer is full.
  const size_t room = kBridgeReceiveBufferSize - std::min(port.rx.size(), kBridgeReceiveBufferSize);
  if (n > room) {
    n = room;
    port.heldBack = true;
  }
  n = std::min(n, port.cutOffAfter);
  uint8_t chunk[kPullChunk];
  for (size_t left = n; left > 0;) {
    const size_t got =
        device->TakeDeviceBytes(chunk, std::min(left, kPullChunk), port.config.baud, t / kNsPerUs);
    if (got == 0) break;
    port.rx.insert(port.rx.end(), chunk, chunk + got);
    left -= got;
  }
  port.rxWireFreeNs = start + n * byteNs;
  if (port.cutOffAfter != kNoCutOff) {
    port.cutOffAfter -= n;
    if (port.cutOffAfter == 0) ApplyCutOff(port);
  }
}

void SimBridge::ReceiveRoomFreed(Port& port, uint64_t t) {
  if (!port.heldBack) return;
  // The device was waiting for room; its next byte starts now, not when the
  // wire last fell idle.
  port.heldBack = false;
  port.rxWireFreeNs = std::max(port.rxWireFreeNs, t);
}

size_t SimBridge::TakeReceived(Port& port, uint8_t* out, size_t max, uint64_t t) {
  const size_t k = std::min(max, port.plugged ? port.rx.size() : 0);
  if (k == 0) return 0;
  std::copy_n(port.rx.begin(), k, out);
  port.rx.erase(port.rx.begin(), port.rx.begin() + static_cast<std::ptrdiff_t>(k));
  ReceiveRoomFreed(port, t);
  return k;
}

void SimBridge::AdvanceTo(Port& port, uint64_t t) {
  DeliverToDevice(port, t);
  PullFromDevice(port, t);
  if (port.info.device != nullptr) {
    const size_t before = port.info.device->PendingDeviceBytes();
    port.info.device->Tick(t / kNsPerUs);
    NoteDeviceOutput(port, before, t);
  }
}

uint64_t SimBridge::NextEventNs(const Port& port, uint64_t t, size_t need) const {
  uint64_t next = kNever;
  if (!port.tx.empty()) next = std::min(next, port.tx.front().arrivalNs);
  const HandController* device = port.info.device;
  size_t pending = 0;
  if (device != nullptr && !port.silenced && port.plugged) pending = device->PendingDeviceBytes();
  pending = std::min(pending, port.cutOffAfter);
  pending = std::min(pending,
                     kBridgeReceiveBufferSize - std::min(port.rx.size(), kBridgeReceiveBufferSize));
  if (pending > 0) {
    const uint64_t byteNs = ByteNs(port.config.baud);
    const uint64_t start = std::max(port.rxWireFreeNs, port.deviceReadyNs);
    next = std::min(next, start + std::min(need, pending) * byteNs);
  }
  return std::max(next, t + 1);
}

void SimBridge::ApplyCbus(Port& port) {
  HandController* device = port.info.device;
  if (device == nullptr) return;
  const SimPortConfig& c = port.config;
  uint8_t high = 0;
  if (port.plugged && c.bitMode == kFtBitModeCbus) {
    high = static_cast<uint8_t>((c.bitMask >> 4) & c.bitMask & kCbusLevels);
  }
  const uint64_t now = NowNs();
  const size_t before = device->PendingDeviceBytes();
  device->Tick(now / kNsPerUs);
  device->SetCbusPins(high);
  NoteDeviceOutput(port, before, now);
}

// ---- the driver table ----

FtStatus SimBridge::Lookup(FtHandle handle, Port** port) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return kFtInvalidHandle;
  if (it->second.dead) return kFtIoError;
  *port = &ports_[it->second.bridge];
  return kFtOk;
}

FtStatus SimBridge::Begin(FtCall call, FtHandle handle, Port** port, Fault* fault) {
  Strike(call, fault);
  if (fault->active && fault->kind == FaultKind::Status) return fault->status;
  if (const FtStatus status = Lookup(handle, port)) return status;
  AdvanceTo(**port, NowNs());
  return kFtOk;
}

FtStatus SimBridge::CreateDeviceInfoList(uint32_t* count) {
  Fault fault;
  Strike(FtCall::CreateDeviceInfoList, &fault);
  if (fault.active && fault.kind == FaultKind::Status) return fault.status;
  lastEnumeration_ = PluggedBridges();
  *count = static_cast<uint32_t>(lastEnumeration_.size());
  return kFtOk;
}

FtStatus SimBridge::GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) {
  Fault fault;
  Strike(FtCall::GetDeviceInfoList, &fault);
  if (fault.active && fault.kind == FaultKind::Status) return fault.status;
  lastEnumeration_ = PluggedBridges();
  const size_t n = std::min<size_t>(*count, lastEnumeration_.size());
  for (size_t i = 0; i < n; ++i) {
    const Port& port = ports_[lastEnumeration_[i]];
    FtDeviceListInfoNode& node = list[i];
    node = FtDeviceListInfoNode{};
    node.Flags = port.open ? kFtFlagOpened : 0;
    node.Type = port.info.type;
    node.ID = port.info.id;
    node.LocId = port.info.locId;
    CopyText(node.SerialNumber, sizeof node.SerialNumber, port.info.serial);
    CopyText(node.Description, sizeof node.Description, port.info.description);
    for (const auto& [handle, open] : handles_) {
      if (open.bridge == port.index && !open.dead) node.ftHandle = handle;
    }
  }
  *count = static_cast<uint32_t>(n);
  return kFtOk;
}

FtStatus SimBridge::Open(int index, FtHandle* handle) {
  Fault fault;
  Strike(FtCall::Open, &fault);
  if (fault.active && fault.kind == FaultKind::Status) return fault.status;
  const std::vector<size_t> listed = lastEnumeration_.empty() ? PluggedBridges() : lastEnumeration_;
  if (index < 0 || static_cast<size_t>(index) >= listed.size()) return kFtDeviceNotFound;
  Port& port = ports_[listed[static_cast<size_t>(index)]];
  if (!port.plugged) return kFtDeviceNotFound;
  if (port.open) return kFtDeviceNotOpened;
  AdvanceTo(port, NowNs());
  port.open = true;
  FtHandle token = reinterpret_cast<FtHandle>(nextHandle_);
  nextHandle_ += 0x10;
  handles_[token] = OpenHandle{port.index, false};
  *handle = token;
  return kFtOk;
}

FtStatus SimBridge::Close(FtHandle handle) {
  Fault fault;
  Strike(FtCall::Close, &fault);
  if (fault.active && fault.kind == FaultKind::Status) return fault.status;
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return kFtInvalidHandle;
  if (!it->second.dead) {
    Port& port = ports_[it->second.bridge];
    AdvanceTo(port, NowNs());
    port.open = false;
  }
  handles_.erase(it);
  return kFtOk;
}

FtStatus SimBridge::GetBitMode(FtHandle handle, uint8_t* pins) {
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::GetBitMode, handle, &port, &fault)) return status;
  const SimPortConfig& c = port->config;
  const uint8_t outputs = c.bitMode == kFtBitModeCbus ? (c.bitMask >> 4) & kCbusLevels : 0;
  const uint8_t idle = port->info.idlePins;
  *pins = static_cast<uint8_t>((idle & ~outputs) | (c.bitMask & outputs));
  return kFtOk;
}

FtStatus SimBridge::Purge(FtHandle handle, uint32_t mask) {
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::Purge, handle, &port, &fault)) return status;
  ++port->config.purges;
  if (mask & kFtPurgeRx) {
    port->rx.clear();
    ReceiveRoomFreed(*port, NowNs());
  }
  if (mask & kFtPurgeTx) {
    port->tx.clear();
    port->txWireFreeNs = NowNs();
  }
  return kFtOk;
}

FtStatus SimBridge::SetDataCharacteristics(FtHandle handle, uint8_t wordLength, uint8_t stopBits,
                                           uint8_t parity) {
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::SetDataCharacteristics, handle, &port, &fault)) {
    return status;
  }
  port->config.wordLength = wordLength;
  port->config.stopBits = stopBits;
  port->config.parity = parity;
  return kFtOk;
}

FtStatus SimBridge::SetBaudRate(FtHandle handle, uint32_t baud) {
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::SetBaudRate, handle, &port, &fault)) return status;
  if (baud == 0) return kFtInvalidBaudRate;
  port->config.baud = baud;
  return kFtOk;
}

FtStatus SimBridge::SetFlowControl(FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::SetFlowControl, handle, &port, &fault)) return status;
  port->config.flow = flow;
  port->config.xon = xon;
  port->config.xoff = xoff;
  return kFtOk;
}

FtStatus SimBridge::SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) {
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::SetTimeouts, handle, &port, &fault)) return status;
  port->config.readTimeoutMs = readMs;
  port->config.writeTimeoutMs = writeMs;
  return kFtOk;
}

FtStatus SimBridge::SetLatencyTimer(FtHandle handle, uint8_t ms) {
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::SetLatencyTimer, handle, &port, &fault)) return status;
  port->config.latencyMs = ms;
  return kFtOk;
}

FtStatus SimBridge::SetBitMode(FtHandle handle, uint8_t mask, uint8_t mode) {
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::SetBitMode, handle, &port, &fault)) return status;
  port->config.bitMask = mask;
  port->config.bitMode = mode;
  ApplyCbus(*port);
  return kFtOk;
}

FtStatus SimBridge::Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) {
  *written = 0;
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::Write, handle, &port, &fault)) return status;
  const uint64_t now = NowNs();
  uint32_t accepted = n;
  if (fault.active) {
    accepted = fault.kind == FaultKind::Short ? std::min(fault.bytes, n) : 0;
    SleepUntilNs(now + uint64_t{port->config.writeTimeoutMs} * kNsPerMs);
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (port->writes.size() >= kWriteLogLimit) {
    port->writes.erase(port->writes.begin(), port->writes.begin() + kWriteLogLimit / 2);
  }
  port->writes.push_back(
      {port->config.baud, std::vector<uint8_t>(bytes, bytes + accepted), now / kNsPerUs});
  const uint64_t byteNs = ByteNs(port->config.baud);
  const uint64_t start = std::max(now, port->txWireFreeNs);
  for (uint32_t i = 0; i < accepted; ++i) {
    port->tx.push_back({bytes[i], port->config.baud, start + (i + 1) * byteNs});
  }
  port->txWireFreeNs = start + accepted * byteNs;
  AdvanceTo(*port, std::max(now, NowNs()));
  *written = accepted;
  return kFtOk;
}

FtStatus SimBridge::Read(FtHandle handle, void* buffer, uint32_t n, uint32_t* got) {
  *got = 0;
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::Read, handle, &port, &fault)) return status;
  const uint64_t now = NowNs();
  const uint64_t deadline = now + uint64_t{port->config.readTimeoutMs} * kNsPerMs;
  size_t limit = n;
  uint64_t t = now;
  if (fault.active) {
    // The transfer runs into its timeout with nothing, or too little, delivered.
    limit = fault.kind == FaultKind::Short ? std::min<size_t>(fault.bytes, n) : 0;
    t = deadline;
  }
  // The read takes bytes out of the receive buffer while they arrive, so a
  // read larger than the buffer keeps the device sending.
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t k = 0;
  while (true) {
    AdvanceTo(*port, t);
    const size_t took = TakeReceived(*port, out + k, limit - k, t);
    k += took;
    if (k >= limit || !port->plugged) break;
    if (took > 0) continue;  // the room it left may already be filled again
    if (t >= deadline) break;
    t = std::min(NextEventNs(*port, t, limit - k), deadline);
  }
  SleepUntilNs(t);
  if (!port->plugged) return kFtIoError;
  *got = static_cast<uint32_t>(k);
  return kFtOk;
}

FtStatus SimBridge::GetQueueStatus(FtHandle handle, uint32_t* rx) {
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::GetQueueStatus, handle, &port, &fault)) return status;
  *rx = static_cast<uint32_t>(port->rx.size());
  return kFtOk;
}

FtStatus SimBridge::GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) {
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::GetStatus, handle, &port, &fault)) return status;
  *rx = static_cast<uint32_t>(port->rx.size());
  *tx = static_cast<uint32_t>(port->tx.size());
  *events = 0;
  return kFtOk;
}

FtStatus SimBridge::GetDeviceInfo(FtHandle handle, uint32_t* type, uint32_t* id, char* serial,
                                  char* description, void* /*reserved*/) {
  Port* port = nullptr;
  Fault fault;
  if (const FtStatus status = Begin(FtCall::GetDeviceInfo, handle, &port, &fault)) return status;
  if (type != nullptr) *type = port->info.type;
  if (id != nullptr) *id = port->info.id;
  if (serial != nullptr) CopyText(serial, kFtSerialLength, port->info.serial);
  if (description != nullptr) CopyText(description, kFtDescriptionLength, port->info.description);
  return kFtOk;
}
