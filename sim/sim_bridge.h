// The simulated bridge driver: FTDI bridges on a simulated USB bus, one or
// more of them wired to a simulated hand controller.
//
// Owns: the list of bridges (ID, description, serial; plugged or not), opening
// by enumeration index, every configuration value the host sets, the two
// directions of the UART with their wire time at the configured baud rate
// (10 bits per byte), the bridge's receive buffer of the FT230X's size with
// RTS/CTS flow control (the device sends only while there is room in it, so
// the rest of a long answer stays in the device until the host reads, and a
// purge empties only the buffer), the read and write timeouts, the queue counts, the CBUS
// bit-bang lines, and fault injection (a call failing with a status, timing
// out or moving fewer bytes; the device cut off after so many bytes).
// Time comes from a SimClock: on a VirtualClock a read that waits moves the
// clock to the moment it returns and nothing waits for real; on a RealClock
// the same read really takes that long. No threads. Wire time is off unless
// switched on; the demo setup switches it on with the real clock.
// Does not own: the device model (HandController) or the link's policy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "link/ft_driver.h"
#include "link/usb_device.h"
#include "sim/hand_controller.h"
#include "sim/sim_clock.h"

constexpr uint32_t kOtherBridgeId = 0x04036001;  // an FT232R converter
constexpr uint32_t kBridgeDefaultBaud = 9600;
// Timeouts of a freshly opened bridge. The vendor's default is "forever";
// the simulation bounds it so a test that forgets SetTimeouts cannot hang.
constexpr uint32_t kBridgeDefaultTimeoutMs = 5000;
constexpr uint32_t kBridgeDefaultLatencyMs = 16;
constexpr uint32_t kBitsPerUartByte = 10;  // start, 8 data, stop
// The FT230X's receive buffer: what has arrived and waits for the host's read.
constexpr size_t kBridgeReceiveBufferSize = 512;

struct SimBridgeInfo {
  uint32_t id = kHandControllerBridgeId;
  std::string description;
  std::string serial;
  uint32_t locId = 0;
  HandController* device = nullptr;  // nullptr: nothing answers on this bridge
  uint32_t type = kFtDeviceXSeries;
  uint8_t idlePins = 0x00;  // what GetBitMode reads on lines that are inputs
};

// Every value the host has set on an open bridge.
struct SimPortConfig {
  uint32_t baud = kBridgeDefaultBaud;
  uint8_t wordLength = kFtBits8;
  uint8_t stopBits = kFtStopBits1;
  uint8_t parity = kFtParityNone;
  uint16_t flow = 0;
  uint8_t xon = 0;
  uint8_t xoff = 0;
  uint32_t readTimeoutMs = kBridgeDefaultTimeoutMs;
  uint32_t writeTimeoutMs = kBridgeDefaultTimeoutMs;
  uint8_t latencyMs = kBridgeDefaultLatencyMs;
  uint8_t bitMask = 0;
  uint8_t bitMode = kFtBitModeReset;
  uint32_t purges = 0;  // Purge calls, any mask
};

// One Write as it went on the wire.
struct SimWireWrite {
  uint32_t baud;
  std::vector<uint8_t> bytes;
  uint64_t atUs;
};

enum class FtCall {
  CreateDeviceInfoList,
  GetDeviceInfoList,
  Open,
  Close,
  GetBitMode,
  Purge,
  SetDataCharacteristics,
  SetBaudRate,
  SetFlowControl,
  SetTimeouts,
  SetLatencyTimer,
  SetBitMode,
  Write,
  Read,
  GetQueueStatus,
  GetStatus,
  GetDeviceInfo,
  Count,
};

enum class FaultKind {
  Status,   // the call returns the status and does nothing
  Timeout,  // a transfer moves nothing and takes its whole timeout
  Short,    // a transfer moves at most `bytes` and takes its whole timeout
};

enum class CutOffKind {
  Silence,  // the device stops sending and hears nothing more
  Unplug,   // the bridge disappears from the bus
};

class SimBridge : public FtDriver {
 public:
  explicit SimBridge(SimClock& clock) : clock_(clock) {}

  // Bridges in bus order; returns the new bridge's number.
  size_t AddBridge(const SimBridgeInfo& info);
  size_t BridgeCount() const { return ports_.size(); }
  void Unplug(size_t bridge);
  void Replug(size_t bridge);
  bool Plugged(size_t bridge) const { return ports_.at(bridge).plugged; }
  bool IsOpen(size_t bridge) const { return ports_.at(bridge).open; }
  const SimPortConfig& Config(size_t bridge) const { return ports_.at(bridge).config; }
  const SimBridgeInfo& Info(size_t bridge) const { return ports_.at(bridge).info; }
  // Every Write the host made on the bridge, with the baud rate it went at.
  const std::vector<SimWireWrite>& HostWrites(size_t bridge) const {
    return ports_.at(bridge).writes;
  }
  void ForgetHostWrites(size_t bridge) { ports_.at(bridge).writes.clear(); }
  // Wire time on (bytes take 10 bits each at the configured rate) or off (the
  // default: every byte arrives at once, so back-to-back commands in virtual
  // time see each answer whole, as they would after a pause on a real link).
  void SetWireTiming(bool on) { wireTiming_ = on; }

  // Fault injection: the call `after` calls from now misbehaves once.
  void FailCall(FtCall call, FtStatus status, int after = 0);
  void TimeOutCall(FtCall call, int after = 0);
  void ShortenCall(FtCall call, uint32_t bytes, int after = 0);
  // After `deviceBytes` more bytes have reached the host, the device is cut off.
  void CutOffAfter(size_t bridge, size_t deviceBytes, CutOffKind kind = CutOffKind::Silence);
  // The device (if any) sends the notification in place of its next answer.
  void NotifyNext(size_t bridge, uint8_t code);
  void ClearFaults();
  uint32_t CallCount(FtCall call) const { return callCounts_[static_cast<size_t>(call)]; }

  // FtDriver
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
  static constexpr size_t kNoCutOff = std::numeric_limits<size_t>::max();

  struct TxByte {
    uint8_t byte;
    uint32_t baud;
    uint64_t arrivalNs;  // when its stop bit reaches the device
  };
  struct Port {
    size_t index = 0;
    SimBridgeInfo info;
    bool plugged = true;
    bool open = false;
    bool silenced = false;
    SimPortConfig config;
    std::deque<TxByte> tx;       // written, not yet at the device
    std::deque<uint8_t> rx;      // arrived, not yet read (at most the receive buffer)
    bool heldBack = false;       // the device has more to send, but the buffer is full
    uint64_t txWireFreeNs = 0;   // when the host-to-device wire is idle again
    uint64_t rxWireFreeNs = 0;   // when the last byte pulled from the device arrived
    uint64_t deviceReadyNs = 0;  // when the device's pending output appeared
    size_t cutOffAfter = kNoCutOff;
    CutOffKind cutOffKind = CutOffKind::Silence;
    std::vector<SimWireWrite> writes;
  };
  struct Fault {
    FtCall call = FtCall::Count;
    FaultKind kind = FaultKind::Status;
    FtStatus status = kFtOk;
    uint32_t bytes = 0;
    int after = 0;
    bool active = false;  // set on the copy Strike hands out
  };
  struct OpenHandle {
    size_t bridge;
    bool dead;  // the bridge was unplugged while open
  };

  // Counts the call; the fault that strikes it, if any, in *fault (active).
  void Strike(FtCall call, Fault* fault);
  // The port of an open handle, or the failure status.
  FtStatus Lookup(FtHandle handle, Port** port);
  // Strike, look up and bring the port up to now; a non-zero status ends the call.
  FtStatus Begin(FtCall call, FtHandle handle, Port** port, Fault* fault);

  uint64_t NowNs() { return clock_.NowUs() * 1000; }
  uint64_t ByteNs(uint32_t baud) const;
  void SleepUntilNs(uint64_t ns);
  // Lets everything the wire and the device do up to time t happen.
  void AdvanceTo(Port& port, uint64_t t);
  void DeliverToDevice(Port& port, uint64_t t);
  void PullFromDevice(Port& port, uint64_t t);
  // Moves at most max received bytes to out at time t; the room they leave
  // lets a held-back device send again from t on.
  size_t TakeReceived(Port& port, uint8_t* out, size_t max, uint64_t t);
  void ReceiveRoomFreed(Port& port, uint64_t t);
  // When the host will have `need` bytes, or the next thing happens, after t.
  uint64_t NextEventNs(const Port& port, uint64_t t, size_t need) const;
  void ApplyCbus(Port& port);
  void NoteDeviceOutput(Port& port, size_t pendingBefore, uint64_t t);
  void ApplyCutOff(Port& port);
  void Disconnect(Port& port);
  std::vector<size_t> PluggedBridges() const;

  SimClock& clock_;
  bool wireTiming_ = false;
  std::deque<Port> ports_;
  std::vector<size_t> lastEnumeration_;
  std::map<FtHandle, OpenHandle> handles_;
  uintptr_t nextHandle_ = 0x5100;
  std::vector<Fault> faults_;
  uint32_t callCounts_[static_cast<size_t>(FtCall::Count)] = {};
};
