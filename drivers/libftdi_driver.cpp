#include "drivers/libftdi_driver.h"

#include <errno.h>
#include <ftdi.h>
#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultTimeoutMs = 5000;  // until SetTimeouts says otherwise
constexpr int kDefaultLatencyMs = 16;    // the chip's own default
constexpr int kTransferMarginMs = 50;    // beyond the latency timer, per USB transfer
constexpr uint32_t kReceiveBufferMax = 1 << 20;
constexpr int kWriteChunk = 4096;
constexpr int kMaxPortDepth = 7;

void Diagnose(const char* call, int code, ftdi_context* ctx) {
  std::fprintf(stderr, "%s: libftdi %s failed (%d): %s\n", program_invocation_short_name, call,
               code, ctx ? ftdi_get_error_string(ctx) : "no context");
}

void CopyText(char* out, size_t size, const std::string& text) {
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  std::memset(out + n, 0, size - n);
}

uint32_t TypeOf(uint16_t bcdDevice) {
  switch (bcdDevice) {
    case 0x0200:
      return kFtDeviceAm;
    case 0x0400:
      return kFtDeviceBm;
    case 0x0500:
      return kFtDevice2232C;
    case 0x0600:
      return kFtDevice232R;
    case 0x0700:
      return kFtDevice2232H;
    case 0x0800:
      return kFtDevice4232H;
    case 0x0900:
      return kFtDevice232H;
    case 0x1000:
      return kFtDeviceXSeries;
    default:
      return kFtDeviceUnknown;
  }
}

// One line of a sysfs attribute, without its newline; false when there is none.
bool ReadAttribute(const std::string& dir, const char* name, std::string* value) {
  std::ifstream in(dir + "/" + name);
  if (!in || !std::getline(in, *value)) return false;
  return true;
}

// The bridge's sysfs directory, named by its port path ("1-4.2"), when it
// is there and really is this bus address.
std::string SysfsDirectory(libusb_device* dev, uint8_t bus, uint8_t address) {
  uint8_t ports[kMaxPortDepth];
  int depth = libusb_get_port_numbers(dev, ports, kMaxPortDepth);
  if (depth <= 0) return {};
  std::string dir = "/sys/bus/usb/devices/" + std::to_string(bus) + "-";
  for (int i = 0; i < depth; ++i) {
    if (i > 0) dir += ".";
    dir += std::to_string(ports[i]);
  }
  std::string devnum;
  if (!ReadAttribute(dir, "devnum", &devnum) || std::atoi(devnum.c_str()) != address) return {};
  return dir;
}

// Whole milliseconds, rounded up, so a wait never ends before its deadline.
int Milliseconds(Clock::duration d) {
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
  return static_cast<int>(std::clamp<long long>(ms, 0, 1 << 30));
}

}  // namespace

struct LibFtdiDriver::Bridge {
  ftdi_context* ctx = nullptr;
  uint8_t bus = 0;
  uint8_t address = 0;
  uint32_t type = kFtDeviceUnknown;
  uint32_t id = 0;
  std::string serial;
  std::string description;
  int readTimeoutMs = kDefaultTimeoutMs;
  int writeTimeoutMs = kDefaultTimeoutMs;
  int latencyMs = kDefaultLatencyMs;
  std::vector<uint8_t> received;  // gathered by the queue query, handed out first by Read
};

LibFtdiDriver::LibFtdiDriver() = default;

LibFtdiDriver::~LibFtdiDriver() {
  for (auto& b : open_) {
    ftdi_usb_close(b->ctx);
    ftdi_free(b->ctx);
  }
  if (enumerator_) ftdi_free(enumerator_);
}

LibFtdiDriver::Bridge* LibFtdiDriver::Find(FtHandle handle) {
  for (auto& b : open_) {
    if (b.get() == handle) return b.get();
  }
  return nullptr;
}

LibFtdiDriver::Strings LibFtdiDriver::StringsOf(void* usbDevice, uint8_t bus, uint8_t address) {
  auto* dev = static_cast<libusb_device*>(usbDevice);
  uint32_t key = uint32_t{bus} << 8 | address;
  if (auto it = strings_.find(key); it != strings_.end()) return it->second;
  Strings s;
  std::string dir = SysfsDirectory(dev, bus, address);
  bool fromSysfs = !dir.empty() && ReadAttribute(dir, "product", &s.description);
  if (fromSysfs) ReadAttribute(dir, "serial", &s.serial);
  if (!fromSysfs) {
    // No sysfs here: ask the bridge itself, once per bus address.
    char description[kFtDescriptionLength] = {};
    char serial[kFtSerialLength] = {};
    ++stringDescriptorReads_;
    int r = ftdi_usb_get_strings2(enumerator_, dev, nullptr, 0, description, sizeof description,
                                  serial, sizeof serial);
    if (r < 0 && r != -9) Diagnose("ftdi_usb_get_strings2", r, enumerator_);
    if (r == 0 || r == -9) {  // -9: no serial number, the description still counts
      s.description = description;
      if (r == 0) s.serial = serial;
    }
  }
  strings_[key] = s;
  return s;
}

FtStatus LibFtdiDriver::CreateDeviceInfoList(uint32_t* count) {
  if (!count) return kFtInvalidParameter;
  *count = 0;
  if (!enumerator_) {
    enumerator_ = ftdi_new();
    if (!enumerator_) {
      Diagnose("ftdi_new", -1, nullptr);
      return kFtInsufficientResources;
    }
  }
  ftdi_device_list* list = nullptr;
  int found = ftdi_usb_find_all(enumerator_, &list, 0, 0);  // 0, 0: every product libftdi knows
  if (found < 0) {
    Diagnose("ftdi_usb_find_all", found, enumerator_);
    return found == -3 ? kFtInsufficientResources : kFtOtherError;
  }
  listed_.clear();
  std::set<uint32_t> present;
  for (ftdi_device_list* node = list; node; node = node->next) {
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(node->dev, &desc) != 0) continue;
    Listed l{libusb_get_bus_number(node->dev),
             libusb_get_device_address(node->dev),
             desc.idVendor,
             desc.idProduct,
             TypeOf(desc.bcdDevice),
             {},
             {}};
    Strings s = StringsOf(node->dev, l.bus, l.address);
    l.serial = s.serial;
    l.description = s.description;
    present.insert(uint32_t{l.bus} << 8 | l.address);
    listed_.push_back(std::move(l));
  }
  ftdi_list_free(&list);
  std::erase_if(strings_, [&](const auto& entry) { return !present.count(entry.first); });
  *count = static_cast<uint32_t>(listed_.size());
  return kFtOk;
}

FtStatus LibFtdiDriver::GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) {
  if (!list || !count) return kFtInvalidParameter;
  uint32_t n = std::min<uint32_t>(*count, static_cast<uint32_t>(listed_.size()));
  for (uint32_t i = 0; i < n; ++i) {
    const Listed& l = listed_[i];
    FtDeviceListInfoNode& node = list[i];
    std::memset(&node, 0, sizeof node);
    node.Type = l.type;
    node.ID = uint32_t{l.vendor} << 16 | l.product;
    node.LocId = uint32_t{l.bus} << 8 | l.address;
    for (auto& b : open_) {
      if (b->bus == l.bus && b->address == l.address) {
        node.Flags |= kFtFlagOpened;
        node.ftHandle = b.get();
      }
    }
    CopyText(node.SerialNumber, sizeof node.SerialNumber, l.serial);
    CopyText(node.Description, sizeof node.Description, l.description);
  }
  *count = n;
  return kFtOk;
}

FtStatus LibFtdiDriver::Open(int index, FtHandle* handle) {
  if (!handle) return kFtInvalidParameter;
  if (index < 0 || static_cast<size_t>(index) >= listed_.size()) return kFtDeviceNotFound;
  const Listed& l = listed_[static_cast<size_t>(index)];
  auto b = std::make_unique<Bridge>();
  b->ctx = ftdi_new();
  if (!b->ctx) {
    Diagnose("ftdi_new", -1, nullptr);
    return kFtInsufficientResources;
  }
  int r = ftdi_usb_open_bus_addr(b->ctx, l.bus, l.address);
  lastOpenError_ = r < 0 ? r : 0;
  if (r < 0) {
    Diagnose("ftdi_usb_open_bus_addr", r, b->ctx);
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", l.bus, l.address);
    if (access(node, R_OK | W_OK) != 0 && errno == EACCES) {
      std::fprintf(stderr,
                   "%s: permission denied on %s (bridge %04x:%04x \"%s\"): the udev rule "
                   "60-vesk3.rules is not installed or the bridge was not replugged since\n",
                   program_invocation_short_name, node, l.vendor, l.product, l.description.c_str());
    }
    ftdi_free(b->ctx);
    return r == -3 ? kFtDeviceNotFound : (r == -6 || r == -7) ? kFtIoError : kFtDeviceNotOpened;
  }
  b->bus = l.bus;
  b->address = l.address;
  b->type = l.type;
  b->id = uint32_t{l.vendor} << 16 | l.product;
  b->serial = l.serial;
  b->description = l.description;
  *handle = b.get();
  open_.push_back(std::move(b));
  return kFtOk;
}

std::string LibFtdiDriver::OpenFailureInPlainWords() const {
  if (lastOpenError_ != kLibFtdiClaimFailed) return "";
  return "the bridge is held by another program (Tessaro_App or another vesk3ctl, say): "
         "close it and try again";
}

FtStatus LibFtdiDriver::Close(FtHandle handle) {
  auto it = std::find_if(open_.begin(), open_.end(),
                         [handle](const auto& b) { return b.get() == handle; });
  if (it == open_.end()) return kFtInvalidHandle;
  // Closing always lets go of the bridge; a release refused by a bridge that
  // is already gone is only worth a line.
  int r = ftdi_usb_close((*it)->ctx);
  if (r < 0) {
    std::fprintf(stderr,
                 "%s: libftdi ftdi_usb_close failed (%d): the bridge did not release "
                 "its interface; it is closed all the same\n",
                 program_invocation_short_name, r);
  }
  ftdi_free((*it)->ctx);
  open_.erase(it);
  return kFtOk;
}

FtStatus LibFtdiDriver::GetBitMode(FtHandle handle, uint8_t* pins) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  if (!pins) return kFtInvalidParameter;
  int r = ftdi_read_pins(b->ctx, pins);
  if (r < 0) {
    Diagnose("ftdi_read_pins", r, b->ctx);
    return kFtIoError;
  }
  return kFtOk;
}

FtStatus LibFtdiDriver::Purge(FtHandle handle, uint32_t mask) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  int r;
  const char* call;
  if (mask == (kFtPurgeRx | kFtPurgeTx)) {
    call = "ftdi_tcioflush";
    r = ftdi_tcioflush(b->ctx);
  } else if (mask == kFtPurgeRx) {
    call = "ftdi_tciflush";
    r = ftdi_tciflush(b->ctx);
  } else if (mask == kFtPurgeTx) {
    call = "ftdi_tcoflush";
    r = ftdi_tcoflush(b->ctx);
  } else {
    return kFtInvalidParameter;
  }
  if (mask & kFtPurgeRx) b->received.clear();
  if (r < 0) {
    Diagnose(call, r, b->ctx);
    return kFtIoError;
  }
  return kFtOk;
}

FtStatus LibFtdiDriver::SetDataCharacteristics(FtHandle handle, uint8_t wordLength,
                                               uint8_t stopBits, uint8_t parity) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  if ((wordLength != 7 && wordLength != 8) || (stopBits != 0 && stopBits != 2) || parity > 4) {
    return kFtInvalidParameter;
  }
  int r = ftdi_set_line_property(b->ctx, wordLength == 8 ? BITS_8 : BITS_7,
                                 stopBits == 0 ? STOP_BIT_1 : STOP_BIT_2,
                                 static_cast<ftdi_parity_type>(parity));
  if (r < 0) {
    Diagnose("ftdi_set_line_property", r, b->ctx);
    return kFtIoError;
  }
  return kFtOk;
}

FtStatus LibFtdiDriver::SetBaudRate(FtHandle handle, uint32_t baud) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  if (baud == 0 || baud > 12000000) return kFtInvalidBaudRate;
  // libftdi multiplies the rate by 4 once any bit mode was set; the CBUS bit
  // mode does not touch the UART's clock, so the rate asked is the rate sent.
  unsigned char bitbang = b->ctx->bitbang_enabled;
  b->ctx->bitbang_enabled = 0;
  int r = ftdi_set_baudrate(b->ctx, static_cast<int>(baud));
  b->ctx->bitbang_enabled = bitbang;
  if (r < 0) {
    Diagnose("ftdi_set_baudrate", r, b->ctx);
    return r == -1 ? kFtInvalidBaudRate : kFtIoError;
  }
  return kFtOk;
}

FtStatus LibFtdiDriver::SetFlowControl(FtHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  int r;
  switch (flow) {
    case kFtFlowNone:
      r = ftdi_setflowctrl(b->ctx, SIO_DISABLE_FLOW_CTRL);
      break;
    case kFtFlowRtsCts:
      r = ftdi_setflowctrl(b->ctx, SIO_RTS_CTS_HS);
      break;
    case kFtFlowDtrDsr:
      r = ftdi_setflowctrl(b->ctx, SIO_DTR_DSR_HS);
      break;
    case kFtFlowXonXoff:
      r = ftdi_setflowctrl_xonxoff(b->ctx, xon, xoff);
      break;
    default:
      return kFtInvalidParameter;
  }
  if (r < 0) {
    Diagnose("ftdi_setflowctrl", r, b->ctx);
    return kFtIoError;
  }
  return kFtOk;
}

FtStatus LibFtdiDriver::SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  b->readTimeoutMs = static_cast<int>(std::min<uint32_t>(readMs, 1u << 30));
  b->writeTimeoutMs = static_cast<int>(std::min<uint32_t>(writeMs, 1u << 30));
  return kFtOk;
}

FtStatus LibFtdiDriver::SetLatencyTimer(FtHandle handle, uint8_t ms) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  if (ms == 0) return kFtInvalidParameter;
  int r = ftdi_set_latency_timer(b->ctx, ms);
  if (r < 0) {
    Diagnose("ftdi_set_latency_timer", r, b->ctx);
    return r == -1 ? kFtInvalidParameter : kFtIoError;
  }
  b->latencyMs = ms;
  return kFtOk;
}

FtStatus LibFtdiDriver::SetBitMode(FtHandle handle, uint8_t mask, uint8_t mode) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  int r = ftdi_set_bitmode(b->ctx, mask, mode);
  if (r < 0) {
    Diagnose("ftdi_set_bitmode", r, b->ctx);
    return kFtIoError;
  }
  return kFtOk;
}

FtStatus LibFtdiDriver::Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  if (!written || (!data && n > 0)) return kFtInvalidParameter;
  *written = 0;
  auto deadline = Clock::now() + std::chrono::milliseconds(b->writeTimeoutMs);
  auto* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
  while (*written < n) {
    int left = Milliseconds(deadline - Clock::now());
    if (left <= 0) break;  // libusb would take a timeout of 0 as "forever"
    int chunk = static_cast<int>(std::min<uint32_t>(n - *written, kWriteChunk));
    int moved = 0;
    int r = libusb_bulk_transfer(b->ctx->usb_dev, static_cast<unsigned char>(b->ctx->in_ep),
                                 bytes + *written, chunk, &moved, static_cast<unsigned>(left));
    *written += static_cast<uint32_t>(std::max(moved, 0));
    if (r == LIBUSB_ERROR_TIMEOUT) break;
    if (r < 0) {
      std::fprintf(stderr, "%s: libusb bulk write failed (%d): %s\n", program_invocation_short_name,
                   r, libusb_error_name(r));
      return kFtIoError;
    }
  }
  return kFtOk;
}

FtStatus LibFtdiDriver::ReadFromChip(Bridge& b, uint8_t* out, uint32_t n, uint32_t* got,
                                     int waitMs) {
  // One USB transfer ends after the chip's latency timer at the latest; a
  // transfer cut short by its own timeout would lose what it carried.
  b.ctx->usb_read_timeout = std::max(waitMs, 0) + b.latencyMs + kTransferMarginMs;
  int r = ftdi_read_data(b.ctx, out, static_cast<int>(std::min<uint32_t>(n, 1u << 30)));
  if (r >= 0) {
    *got = static_cast<uint32_t>(r);
    return kFtOk;
  }
  *got = 0;
  if (r == LIBUSB_ERROR_TIMEOUT) return kFtOk;
  Diagnose("ftdi_read_data", r, b.ctx);
  return kFtIoError;
}

FtStatus LibFtdiDriver::Read(FtHandle handle, void* buffer, uint32_t n, uint32_t* got) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  if (!got || (!buffer && n > 0)) return kFtInvalidParameter;
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t taken = std::min<uint32_t>(n, static_cast<uint32_t>(b->received.size()));
  std::copy_n(b->received.begin(), taken, out);
  b->received.erase(b->received.begin(), b->received.begin() + taken);
  *got = taken;
  auto deadline = Clock::now() + std::chrono::milliseconds(b->readTimeoutMs);
  while (*got < n) {
    int left = Milliseconds(deadline - Clock::now());
    uint32_t more = 0;
    FtStatus status = ReadFromChip(*b, out + *got, n - *got, &more, left);
    if (status != kFtOk) return status;
    *got += more;
    if (more == 0 && Clock::now() >= deadline) break;
  }
  return kFtOk;
}

FtStatus LibFtdiDriver::GetQueueStatus(FtHandle handle, uint32_t* rx) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  if (!rx) return kFtInvalidParameter;
  // libftdi has no such query: gather what the chip has sent into our own buffer.
  if (b->received.size() < kReceiveBufferMax) {
    uint8_t chunk[4096];
    uint32_t more = 0;
    FtStatus status = ReadFromChip(*b, chunk, sizeof chunk, &more, 0);
    if (status != kFtOk) return status;
    b->received.insert(b->received.end(), chunk, chunk + more);
  }
  *rx = static_cast<uint32_t>(b->received.size()) + b->ctx->readbuffer_remaining;
  return kFtOk;
}

FtStatus LibFtdiDriver::GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  if (!rx || !tx || !events) return kFtInvalidParameter;
  *rx = static_cast<uint32_t>(b->received.size()) + b->ctx->readbuffer_remaining;
  *tx = 0;  // every write has left when Write returns
  *events = 0;
  return kFtOk;
}

FtStatus LibFtdiDriver::GetDeviceInfo(FtHandle handle, uint32_t* type, uint32_t* id, char* serial,
                                      char* description, void*) {
  Bridge* b = Find(handle);
  if (!b) return kFtInvalidHandle;
  if (type) *type = b->type;
  if (id) *id = b->id;
  if (serial) CopyText(serial, kFtSerialLength, b->serial);
  if (description) CopyText(description, kFtDescriptionLength, b->description);
  return kFtOk;
}
