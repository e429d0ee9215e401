#include "tests/support/fake_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/usb_device.h"

namespace {

// Copies text into a fixed field: zero-terminated when it fits, cut to the
// field (without terminator) when the text is as long as the field or longer.
void CopyField(char* field, size_t size, const std::string& text) {
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), std::min(size, text.size()));
}

void CopyTerminated(char* field, size_t size, const std::string& text) {
  const size_t n = std::min(size - 1, text.size());
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

}  // namespace

std::string HexBytes(const Bytes& bytes) {
  std::string out;
  char piece[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(piece, sizeof piece, "%02X", bytes[i]);
    if (i > 0) out += ' ';
    out += piece;
  }
  return out.empty() ? "(nothing)" : out;
}

FakeDriver::FakeDriver() {
  bridges.push_back({kHandControllerBridgeId, "Vesk-3 HandController", "VK3A0001"});
}

// ---- the conversation --------------------------------------------------

void FakeDriver::Expect(const Bytes& hostBytes, const Bytes& deviceReply) {
  script_.push_back({hostBytes, deviceReply});
  if (hostBytes.empty() && nextStep_ == script_.size() - 1 && hostSinceStep_.empty()) {
    QueueDeviceBytes(deviceReply);
    ++nextStep_;
  }
}

void FakeDriver::QueueDeviceBytes(const Bytes& bytes) {
  rx_.insert(rx_.end(), bytes.begin(), bytes.end());
}

std::string FakeDriver::Mismatches() const {
  std::string out;
  for (const std::string& m : mismatches_) out += m + "\n";
  for (size_t k = nextStep_; k < script_.size(); ++k) {
    out += "step " + std::to_string(k + 1) + " never reached: expected the host to write " +
           HexBytes(script_[k].host);
    if (k == nextStep_) out += ", host wrote " + HexBytes(hostSinceStep_);
    out += "\n";
  }
  return out;
}

void FakeDriver::FollowScript(const uint8_t* bytes, uint32_t n) {
  if (script_.empty()) return;
  for (uint32_t i = 0; i < n; ++i) {
    if (nextStep_ >= script_.size()) {
      mismatches_.push_back("host wrote " + HexBytes(Bytes(bytes + i, bytes + n)) +
                            " after the last scripted step");
      return;
    }
    const Step& step = script_[nextStep_];
    hostSinceStep_.push_back(bytes[i]);
    const size_t at = hostSinceStep_.size() - 1;
    if (at >= step.host.size() || step.host[at] != bytes[i]) {
      Bytes wrote = hostSinceStep_;
      wrote.insert(wrote.end(), bytes + i + 1, bytes + n);
      mismatches_.push_back("step " + std::to_string(nextStep_ + 1) +
                            ": expected the host to write " + HexBytes(step.host) +
                            ", host wrote " + HexBytes(wrote));
      hostSinceStep_.clear();
      ++nextStep_;
      return;
    }
    if (hostSinceStep_.size() == step.host.size()) {
      QueueDeviceBytes(step.reply);
      hostSinceStep_.clear();
      ++nextStep_;
      while (nextStep_ < script_.size() && script_[nextStep_].host.empty()) {
        QueueDeviceBytes(script_[nextStep_].reply);
        ++nextStep_;
      }
    }
  }
}

// ---- injected failures -------------------------------------------------

void FakeDriver::FailCall(const std::string& name, FtStatus status, int nth) {
  rules_.push_back({name, callNumbers_[name] + nth, RuleKind::Fail, status, 0});
}

void FakeDriver::TimeoutCall(const std::string& name, int nth) {
  rules_.push_back({name, callNumbers_[name] + nth, RuleKind::Timeout, kFtOk, 0});
}

void FakeDriver::ShortCall(const std::string& name, uint32_t maxBytes, int nth) {
  rules_.push_back({name, callNumbers_[name] + nth, RuleKind::Short, kFtOk, maxBytes});
}

std::optional<FakeDriver::Rule> FakeDriver::Enter(const std::string& name,
                                                  std::vector<uint64_t> args) {
  calls.push_back({name, std::move(args), config.baud});
  const int number = ++callNumbers_[name];
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if (it->name == name && it->atCall == number) {
      Rule rule = *it;
      rules_.erase(it);
      return rule;
    }
  }
  return std::nullopt;
}

bool FakeDriver::CheckHandle(const std::string& name, FtHandle handle) {
  if (open_ && handle == &handleToken_) return true;
  mismatches_.push_back(name + " called on a handle that is not open");
  return false;
}

uint32_t FakeDriver::TransferLimit(const std::optional<Rule>& rule, uint32_t n) const {
  if (!rule) return n;
  if (rule->kind == RuleKind::Timeout) return 0;
  if (rule->kind == RuleKind::Short) return std::min(n, rule->maxBytes);
  return n;
}

// ---- what the link did -------------------------------------------------

int FakeDriver::CountOf(const std::string& name) const {
  return static_cast<int>(
      std::count_if(calls.begin(), calls.end(), [&](const FakeCall& c) { return c.name == name; }));
}

std::vector<std::string> FakeDriver::CallNames() const {
  std::vector<std::string> names;
  for (const FakeCall& c : calls) names.push_back(c.name);
  return names;
}

std::vector<FakeCall> FakeDriver::CallsOf(const std::string& name) const {
  std::vector<FakeCall> out;
  for (const FakeCall& c : calls)
    if (c.name == name) out.push_back(c);
  return out;
}

Bytes FakeDriver::WrittenBytes() const {
  Bytes out;
  for (const FakeWrite& w : writes) out.insert(out.end(), w.bytes.begin(), w.bytes.end());
  return out;
}

Bytes FakeDriver::WrittenAtBaud(uint32_t baud) const {
  Bytes out;
  for (const FakeWrite& w : writes)
    if (w.baud == baud) out.insert(out.end(), w.bytes.begin(), w.bytes.end());
  return out;
}

void FakeDriver::ForgetHistory() {
  calls.clear();
  writes.clear();
}

// ---- FtDriver ------------------------------------------------------------

FtStatus FakeDriver::CreateDeviceInfoList(uint32_t* count) {
  auto rule = Enter("CreateDeviceInfoList", {});
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  *count = static_cast<uint32_t>(bridges.size());
  return kFtOk;
}

FtStatus FakeDriver::GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) {
  const uint32_t room = *count;
  auto rule = Enter("GetDeviceInfoList", {room});
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  const size_t filled = std::min<size_t>(room, bridges.size());
  for (size_t i = 0; i < filled; ++i) {
    FtDeviceListInfoNode& node = list[i];
    std::memset(&node, 0, sizeof node);
    node.ID = bridges[i].id;
    node.LocId = static_cast<uint32_t>(i + 1);
    CopyField(node.SerialNumber, sizeof node.SerialNumber, bridges[i].serial);
    CopyField(node.Description, sizeof node.Description, bridges[i].description);
  }
  *count = listCountReported.value_or(static_cast<uint32_t>(bridges.size()));
  return kFtOk;
}

FtStatus FakeDriver::Open(int index, FtHandle* handle) {
  auto rule = Enter("Open", {static_cast<uint64_t>(static_cast<int64_t>(index))});
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  if (index < 0 || static_cast<size_t>(index) >= bridges.size()) return kFtDeviceNotFound;
  if (open_) return kFtDeviceNotOpened;
  open_ = true;
  openIndex_ = index;
  config = FakeBridgeConfig{};
  *handle = &handleToken_;
  return kFtOk;
}

FtStatus FakeDriver::Close(FtHandle handle) {
  auto rule = Enter("Close", {});
  if (!CheckHandle("Close", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  open_ = false;
  return kFtOk;
}

FtStatus FakeDriver::GetBitMode(FtHandle handle, uint8_t* pinsOut) {
  auto rule = Enter("GetBitMode", {});
  if (!CheckHandle("GetBitMode", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  *pinsOut = pins;
  return kFtOk;
}

FtStatus FakeDriver::Purge(FtHandle handle, uint32_t mask) {
  auto rule = Enter("Purge", {mask});
  if (!CheckHandle("Purge", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  if (mask & kFtPurgeRx) rx_.clear();
  return kFtOk;
}

FtStatus FakeDriver::SetDataCharacteristics(FtHandle handle, uint8_t wordLength, uint8_t stopBits,
                                            uint8_t parity) {
  auto rule = Enter("SetDataCharacteristics", {wordLength, stopBits, parity});
  if (!CheckHandle("SetDataCharacteristics", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  config.wordLength = wordLength;
  config.stopBits = stopBits;
  config.parity = parity;
  config.dataCharacteristicsSet = true;
  return kFtOk;
}

FtStatus FakeDriver::SetBaudRate(FtHandle handle, uint32_t baud) {
  auto rule = Enter("SetBaudRate", {baud});
  if (!CheckHandle("SetBaudRate", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  config.baud = baud;
  return kFtOk;
}

FtStatus FakeDriver::SetFlowControl(FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
  auto rule = Enter("SetFlowControl", {flow, xon, xoff});
  if (!CheckHandle("SetFlowControl", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  config.flow = flow;
  config.xon = xon;
  config.xoff = xoff;
  config.flowSet = true;
  return kFtOk;
}

FtStatus FakeDriver::SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) {
  auto rule = Enter("SetTimeouts", {readMs, writeMs});
  if (!CheckHandle("SetTimeouts", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  config.readTimeoutMs = readMs;
  config.writeTimeoutMs = writeMs;
  return kFtOk;
}

FtStatus FakeDriver::SetLatencyTimer(FtHandle handle, uint8_t ms) {
  auto rule = Enter("SetLatencyTimer", {ms});
  if (!CheckHandle("SetLatencyTimer", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  config.latencyMs = ms;
  config.latencySet = true;
  return kFtOk;
}

FtStatus FakeDriver::SetBitMode(FtHandle handle, uint8_t mask, uint8_t mode) {
  auto rule = Enter("SetBitMode", {mask, mode});
  if (!CheckHandle("SetBitMode", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  config.bitMask = mask;
  config.bitMode = mode;
  config.bitModeSet = true;
  return kFtOk;
}

FtStatus FakeDriver::Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) {
  auto rule = Enter("Write", {n});
  *written = 0;
  if (!CheckHandle("Write", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  const uint32_t accepted = TransferLimit(rule, n);
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (accepted > 0) writes.push_back({Bytes(bytes, bytes + accepted), config.baud});
  FollowScript(bytes, accepted);
  *written = accepted;
  return kFtOk;
}

FtStatus FakeDriver::Read(FtHandle handle, void* buffer, uint32_t n, uint32_t* got) {
  auto rule = Enter("Read", {n});
  *got = 0;
  if (!CheckHandle("Read", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  const uint32_t delivered =
      static_cast<uint32_t>(std::min<size_t>(TransferLimit(rule, n), rx_.size()));
  auto* out = static_cast<uint8_t*>(buffer);
  std::copy(rx_.begin(), rx_.begin() + delivered, out);
  rx_.erase(rx_.begin(), rx_.begin() + delivered);
  *got = delivered;
  return kFtOk;
}

FtStatus FakeDriver::GetQueueStatus(FtHandle handle, uint32_t* rx) {
  auto rule = Enter("GetQueueStatus", {});
  if (!CheckHandle("GetQueueStatus", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  *rx = static_cast<uint32_t>(rx_.size());
  return kFtOk;
}

FtStatus FakeDriver::GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) {
  auto rule = Enter("GetStatus", {});
  if (!CheckHandle("GetStatus", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  *rx = static_cast<uint32_t>(rx_.size());
  *tx = 0;
  if (!txQueueCounts.empty()) {
    *tx = txQueueCounts.front();
    txQueueCounts.pop_front();
  }
  *events = 0;
  return kFtOk;
}

FtStatus FakeDriver::GetDeviceInfo(FtHandle handle, uint32_t* type, uint32_t* id, char* serial,
                                   char* description, void* /*reserved*/) {
  auto rule = Enter("GetDeviceInfo", {});
  if (!CheckHandle("GetDeviceInfo", handle)) return kFtInvalidHandle;
  if (rule && rule->kind == RuleKind::Fail) return rule->status;
  const FakeBridge& bridge = bridges.at(static_cast<size_t>(openIndex_));
  if (type) *type = 0;
  if (id) *id = bridge.id;
  CopyTerminated(serial, kFtSerialLength, bridge.serial);
  CopyTerminated(description, kFtDescriptionLength, bridge.description);
  return kFtOk;
}
