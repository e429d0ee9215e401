// One emulated FTDI bridge on the umockdev testbed, as the kernel's usbfs
// shows it to libusb.
//
// Owns: the device record (busnum, devnum, descriptors, sysfs product and
// serial, the udev properties), the device node and its "add" and "remove"
// events; the answers to the node's ioctls: submitted URBs (control transfers
// with their setup bytes and data stage, bulk OUT to the chip, bulk IN from
// the chip), reaping and discarding as the kernel does, interface claims per
// opening of the node; and the node's readiness. umockdev does not intercept
// poll(), so the node is a FIFO that is kept full (not writable) while no URB
// waits to be reaped and emptied (writable, which is what libusb polls for)
// while one does.
// Does not own: what the chip does with requests and bytes (Ft230xChip), the
// device behind it (SerialDevice), or the testbed and its control socket
// (the emulator program).
#pragma once

#include <umockdev.h>

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/hardware/ft230x_chip.h"

struct BridgeSpec {
  uint16_t vendor = 0x0403;
  uint16_t product = 0x6015;
  std::string manufacturer = "FTDI";
  std::string description;
  std::string serial;
  bool sysfsStrings = true;  // whether the record carries the product and serial attributes
};

constexpr uint16_t kBridgeBcdDevice = 0x1000;  // what makes libftdi take it for a 230X
constexpr uint8_t kBridgeInEndpoint = 0x81;
constexpr uint8_t kBridgeOutEndpoint = 0x02;
constexpr uint8_t kBridgeBusNumber = 1;

class EmulatedBridge {
 public:
  // port: the bridge's port on the emulated root hub (1, 2, ...), also its sysfs name "1-<port>".
  EmulatedBridge(UMockdevTestbed* testbed, std::mutex& lock, BridgeSpec spec, int port,
                 std::unique_ptr<SerialDevice> device);
  ~EmulatedBridge();
  EmulatedBridge(const EmulatedBridge&) = delete;
  EmulatedBridge& operator=(const EmulatedBridge&) = delete;

  // The caller holds the lock for all of these.
  bool Plug(uint8_t devnum, std::string* error);
  void Unplug();
  void Tick(uint64_t nowUs);
  bool plugged() const { return current_ != nullptr; }
  uint8_t devnum() const;
  Ft230xChip& chip() { return *chip_; }
  SerialDevice& device() { return *device_; }
  const BridgeSpec& spec() const { return spec_; }
  int port() const { return port_; }
  // Bulk OUT transfers stay unanswered while held, as when the device holds CTS.
  void HoldOut(bool hold) { holdOut_ = hold; }
  // Openings of the node since the bridge was created, and how many are open now.
  int openings() const { return openings_; }
  int OpenClients() const;

 private:
  struct Urb;
  struct Attachment;

  static gboolean OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
  static void OnConnected(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
  gboolean HandleIoctl(Attachment& at, UMockdevIoctlClient* client);
  void Submit(Attachment& at, UMockdevIoctlClient* client);
  void Reap(Attachment& at, UMockdevIoctlClient* client);
  void Discard(Attachment& at, UMockdevIoctlClient* client);
  void AnswerControl(Urb& urb, const uint8_t* setup, const uint8_t* out);
  void CompleteInUrbs(Attachment& at, uint64_t nowUs);
  void UpdateReadiness(Attachment& at);
  std::vector<uint8_t> Descriptors() const;
  std::vector<uint8_t> StringDescriptor(uint8_t index) const;

  UMockdevTestbed* testbed_;
  std::mutex& lock_;
  BridgeSpec spec_;
  int port_;
  std::unique_ptr<SerialDevice> device_;
  std::unique_ptr<Ft230xChip> chip_;
  Attachment* current_ = nullptr;
  std::list<std::unique_ptr<Attachment>> attachments_;  // kept, so late ioctls find them gone
  bool holdOut_ = false;
  int openings_ = 0;
};
