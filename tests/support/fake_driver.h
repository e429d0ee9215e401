// A scriptable bridge driver for the tests.
//
// Owns: a configurable list of bridges, the configuration the link gives the
// bridge, a record of every driver call (with the baud rate in force) and of
// every byte the host wrote, the device's side of a scripted conversation, and
// failures injected into chosen calls. Never waits: a read with nothing queued
// "times out" at once (status 0, 0 bytes).
// Does not own: any protocol knowledge; the scripts are raw bytes.
//
// A conversation is a list of steps. Expect(host, reply) appends one: once the
// host has written exactly `host` (counted from the end of the previous step),
// `reply` joins the receive queue. A write that strays from the script, a
// write after the last step and a step never reached are all reported by
// Mismatches(), which a test asserts empty. With no step scripted at all the
// host may write freely.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/ft_driver.h"

using Bytes = std::vector<uint8_t>;

struct FakeBridge {
  uint32_t id = 0;
  std::string description;
  std::string serial;
};

// One driver call as the link made it. args are the call's input values in the
// order of the driver table (sizes for Read and Write, masks, rates, ...).
struct FakeCall {
  std::string name;  // the driver function without its FT_ prefix: "SetBaudRate"
  std::vector<uint64_t> args;
  uint32_t baud;  // rate in force when the call was made (0: never set)
};

// The bytes one driver Write accepted, and the rate they went out at.
struct FakeWrite {
  Bytes bytes;
  uint32_t baud;
};

// What the link has configured on the bridge since it was last opened: an
// Open starts from nothing set, as a bridge opened through libftdi comes up
// reset to its defaults.
struct FakeBridgeConfig {
  uint32_t baud = 0;  // 0 until SetBaudRate
  uint8_t wordLength = 0, stopBits = 0, parity = 0;
  bool dataCharacteristicsSet = false;
  uint16_t flow = 0;
  uint8_t xon = 0, xoff = 0;
  bool flowSet = false;
  uint32_t readTimeoutMs = 0, writeTimeoutMs = 0;
  uint8_t latencyMs = 0;
  bool latencySet = false;
  uint8_t bitMask = 0, bitMode = 0;
  bool bitModeSet = false;
};

class FakeDriver : public FtDriver {
 public:
  FakeDriver();

  // ---- the machine's bridges -------------------------------------------
  std::vector<FakeBridge> bridges;
  // When set, GetDeviceInfoList writes this count back instead of the number
  // of bridges (it still fills no more nodes than it was given room for).
  std::optional<uint32_t> listCountReported;
  // The pin byte GetBitMode reports.
  uint8_t pins = 0;
  // Transmit-queue counts GetStatus reports, one per call; 0 once used up.
  std::deque<uint32_t> txQueueCounts;

  // ---- the conversation -----------------------------------------------
  void Expect(const Bytes& hostBytes, const Bytes& deviceReply);
  void QueueDeviceBytes(const Bytes& bytes);
  size_t QueuedDeviceBytes() const { return rx_.size(); }
  // Empty when every write matched the script and every step was reached.
  std::string Mismatches() const;
  size_t StepsLeft() const { return script_.size() - nextStep_; }

  // ---- injected failures ----------------------------------------------
  // The nth next call of `name` returns `status` and has no effect.
  void FailCall(const std::string& name, FtStatus status, int nth = 1);
  // The nth next Read or Write moves 0 bytes with status 0.
  void TimeoutCall(const std::string& name, int nth = 1);
  // The nth next Read or Write moves at most maxBytes (status 0).
  void ShortCall(const std::string& name, uint32_t maxBytes, int nth = 1);

  // ---- what the link did ----------------------------------------------
  std::vector<FakeCall> calls;
  std::vector<FakeWrite> writes;
  FakeBridgeConfig config;
  int CountOf(const std::string& name) const;
  // Names of all calls in order, for order checks.
  std::vector<std::string> CallNames() const;
  // Every byte the host wrote, in order; or only those written at one rate.
  Bytes WrittenBytes() const;
  Bytes WrittenAtBaud(uint32_t baud) const;
  // The recorded calls of one name, in order.
  std::vector<FakeCall> CallsOf(const std::string& name) const;
  bool IsOpen() const { return open_; }
  int OpenedIndex() const { return openIndex_; }
  // Forgets calls and writes (not the script, queue, rules or configuration),
  // so a test can look at the steady state only.
  void ForgetHistory();

  // ---- FtDriver --------------------------------------------------------
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

 private:
  enum class RuleKind { Fail, Timeout, Short };
  struct Rule {
    std::string name;
    int atCall;  // fires on this call number of `name` (1-based, counted over the run)
    RuleKind kind;
    FtStatus status;
    uint32_t maxBytes;
  };
  struct Step {
    Bytes host;
    Bytes reply;
  };

  // Records the call and returns the rule that fires on it, if any.
  std::optional<Rule> Enter(const std::string& name, std::vector<uint64_t> args);
  bool CheckHandle(const std::string& name, FtHandle handle);
  uint32_t TransferLimit(const std::optional<Rule>& rule, uint32_t n) const;
  void FollowScript(const uint8_t* bytes, uint32_t n);

  std::deque<uint8_t> rx_;
  std::vector<Step> script_;
  size_t nextStep_ = 0;
  Bytes hostSinceStep_;
  std::vector<std::string> mismatches_;
  std::vector<Rule> rules_;
  std::map<std::string, int> callNumbers_;  // calls made so far, by name
  bool open_ = false;
  int openIndex_ = -1;
  char handleToken_ = 0;
};

// Writes a recorded byte sequence as "F8 01 01 FF" for failure messages.
std::string HexBytes(const Bytes& bytes);
