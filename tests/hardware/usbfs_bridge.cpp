#include "tests/hardware/usbfs_bridge.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kPipeSize = 4096;
constexpr int kMaxUrbLength = 1 << 20;
constexpr size_t kSetupLength = 8;
constexpr uint8_t kRequestTypeIn = 0x80;
constexpr uint8_t kRequestTypeMask = 0x60;
constexpr uint8_t kRequestTypeStandard = 0x00;
constexpr uint8_t kRequestTypeVendor = 0x40;
constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kDescriptorDevice = 1;
constexpr uint8_t kDescriptorConfiguration = 2;
constexpr uint8_t kDescriptorString = 3;
constexpr uint16_t kLanguageEnglishUs = 0x0409;
constexpr uint32_t kUsbfsCapabilities = USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

std::string Hex4(uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", v);
  return text;
}

}  // namespace

struct EmulatedBridge::Urb {
  UMockdevIoctlClient* client = nullptr;
  gulong address = 0;  // the URB in the client's memory
  uint8_t type = 0;
  uint8_t endpoint = 0;
  int length = 0;
  uint64_t submittedUs = 0;
  bool done = false;
  int status = 0;
  int actual = 0;
  std::vector<uint8_t> data;  // OUT bytes still to deliver, or IN bytes to hand back
};

struct EmulatedBridge::Attachment {
  EmulatedBridge* bridge;
  uint8_t devnum;
  std::string sysPath;
  std::string devNode;
  std::string fifoPath;
  int fifoFd = -1;
  bool ready = false;
  bool gone = false;
  UMockdevIoctlBase* handler = nullptr;
  std::list<Urb> urbs;
  std::vector<UMockdevIoctlClient*> clients;
  UMockdevIoctlClient* claimedBy = nullptr;
};

EmulatedBridge::EmulatedBridge(UMockdevTestbed* testbed, std::mutex& lock, BridgeSpec spec,
                               int port, std::unique_ptr<SerialDevice> device)
    : testbed_(testbed),
      lock_(lock),
      spec_(std::move(spec)),
      port_(port),
      device_(std::move(device)) {}

EmulatedBridge::~EmulatedBridge() {
  for (auto& at : attachments_) {
    if (at->fifoFd >= 0) close(at->fifoFd);
  }
}

uint8_t EmulatedBridge::devnum() const {
  return current_ ? current_->devnum : 0;
}

int EmulatedBridge::OpenClients() const {
  if (!current_) return 0;
  return static_cast<int>(
      std::count_if(current_->clients.begin(), current_->clients.end(),
                    [](UMockdevIoctlClient* c) { return umockdev_ioctl_client_get_connected(c); }));
}

std::vector<uint8_t> EmulatedBridge::Descriptors() const {
  std::vector<uint8_t> d = {
      // device: USB 2.0, vendor class, 8-byte control endpoint
      18, kDescriptorDevice, 0x00, 0x02, 0x00, 0x00, 0x00, 8, static_cast<uint8_t>(spec_.vendor),
      static_cast<uint8_t>(spec_.vendor >> 8), static_cast<uint8_t>(spec_.product),
      static_cast<uint8_t>(spec_.product >> 8), static_cast<uint8_t>(kBridgeBcdDevice),
      static_cast<uint8_t>(kBridgeBcdDevice >> 8), 1, 2,
      3,  // manufacturer, product, serial strings
      1,  // one configuration
      // configuration 1: one interface, bus powered, 90 mA
      9, kDescriptorConfiguration, 32, 0, 1, 1, 0, 0xA0, 45,
      // interface 0: two endpoints, vendor specific
      9, 4, 0, 0, 2, 0xFF, 0xFF, 0xFF, 2,
      // bulk IN and bulk OUT, 64 bytes
      7, 5, kBridgeInEndpoint, 2, 64, 0, 0, 7, 5, kBridgeOutEndpoint, 2, 64, 0, 0};
  return d;
}

std::vector<uint8_t> EmulatedBridge::StringDescriptor(uint8_t index) const {
  if (index == 0) {
    return {4, kDescriptorString, static_cast<uint8_t>(kLanguageEnglishUs),
            static_cast<uint8_t>(kLanguageEnglishUs >> 8)};
  }
  const std::string* text = nullptr;
  if (index == 1) text = &spec_.manufacturer;
  if (index == 2) text = &spec_.description;
  if (index == 3) text = &spec_.serial;
  if (!text) return {};
  size_t chars = std::min<size_t>(text->size(), 126);
  std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * chars), kDescriptorString};
  for (size_t i = 0; i < chars; ++i) {
    d.push_back(static_cast<uint8_t>((*text)[i]));
    d.push_back(0);
  }
  return d;
}

bool EmulatedBridge::Plug(uint8_t devnum, std::string* error) {
  if (current_) return true;
  chip_ = std::make_unique<Ft230xChip>(*device_);  // a replug powers the chip up afresh
  auto at = std::make_unique<Attachment>();
  at->bridge = this;
  at->devnum = devnum;
  char node[64];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", kBridgeBusNumber, devnum);
  at->devNode = node;

  std::string name = std::to_string(kBridgeBusNumber) + "-" + std::to_string(port_);
  std::string busnum = std::to_string(kBridgeBusNumber);
  std::string devnumText = std::to_string(devnum);
  std::string vendor = Hex4(spec_.vendor), product = Hex4(spec_.product);
  std::string productKey = std::to_string(spec_.vendor) + "/" + std::to_string(spec_.product);
  char pid[32];
  std::snprintf(pid, sizeof pid, "%x/%x/%x", spec_.vendor, spec_.product, kBridgeBcdDevice);
  std::string minor = std::to_string((kBridgeBusNumber - 1) * 128 + devnum - 1);
  std::vector<const char*> attributes = {"busnum",
                                         busnum.c_str(),
                                         "devnum",
                                         devnumText.c_str(),
                                         "bConfigurationValue",
                                         "1",
                                         "bNumConfigurations",
                                         "1",
                                         "bNumInterfaces",
                                         " 1",
                                         "idVendor",
                                         vendor.c_str(),
                                         "idProduct",
                                         product.c_str(),
                                         "bcdDevice",
                                         "1000",
                                         "speed",
                                         "12",
                                         "maxchild",
                                         "0",
                                         "manufacturer",
                                         spec_.manufacturer.c_str()};
  if (spec_.sysfsStrings) {
    attributes.insert(attributes.end(),
                      {"product", spec_.description.c_str(), "serial", spec_.serial.c_str()});
  }
  attributes.push_back(nullptr);
  char busText[8], devText[8];
  std::snprintf(busText, sizeof busText, "%03u", kBridgeBusNumber);
  std::snprintf(devText, sizeof devText, "%03u", devnum);
  std::vector<const char*> properties = {
      "DEVTYPE",     "usb_device",    "DEVNAME", node,          "BUSNUM",       busText,
      "DEVNUM",      devText,         "PRODUCT", pid,           "TYPE",         "0/0/0",
      "MAJOR",       "189",           "MINOR",   minor.c_str(), "ID_VENDOR_ID", vendor.c_str(),
      "ID_MODEL_ID", product.c_str(), nullptr};
  gchar* sys = umockdev_testbed_add_devicev(testbed_, "usb", name.c_str(), nullptr,
                                            const_cast<gchar**>(attributes.data()),
                                            const_cast<gchar**>(properties.data()));
  if (!sys) {
    *error = "cannot add the device record";
    return false;
  }
  at->sysPath = sys;
  g_free(sys);
  std::vector<uint8_t> descriptors = Descriptors();
  umockdev_testbed_set_attribute_binary(testbed_, at->sysPath.c_str(), "descriptors",
                                        descriptors.data(), static_cast<gint>(descriptors.size()));

  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  at->fifoPath = std::string(root) + node;
  g_free(root);
  std::string dir = at->fifoPath.substr(0, at->fifoPath.rfind('/'));
  g_mkdir_with_parents(dir.c_str(), 0755);
  unlink(at->fifoPath.c_str());
  if (mkfifo(at->fifoPath.c_str(), 0666) != 0) {
    *error = "cannot make the device node: " + std::string(std::strerror(errno));
    return false;
  }
  at->fifoFd = open(at->fifoPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (at->fifoFd < 0) {
    *error = "cannot open the device node: " + std::string(std::strerror(errno));
    return false;
  }
  fcntl(at->fifoFd, F_SETPIPE_SZ, kPipeSize);
  at->ready = true;  // so the first update fills it
  UpdateReadiness(*at);

  at->handler = umockdev_ioctl_base_new();
  g_signal_connect(at->handler, "handle-ioctl", G_CALLBACK(&EmulatedBridge::OnIoctl), at.get());
  g_signal_connect(at->handler, "client-connected", G_CALLBACK(&EmulatedBridge::OnConnected),
                   at.get());
  GError* gerror = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed_, node, at->handler, &gerror)) {
    *error = std::string("cannot attach the ioctl handler: ") + gerror->message;
    g_error_free(gerror);
    return false;
  }
  current_ = at.get();
  attachments_.push_back(std::move(at));
  umockdev_testbed_uevent(testbed_, current_->sysPath.c_str(), "add");
  return true;
}

void EmulatedBridge::Unplug() {
  if (!current_) return;
  Attachment& at = *current_;
  // The kernel ends every URB in flight when the device goes; they can still be reaped.
  for (Urb& urb : at.urbs) {
    if (!urb.done) {
      urb.done = true;
      urb.status = -ESHUTDOWN;
      urb.actual = 0;
      urb.data.clear();
    }
  }
  at.gone = true;
  UpdateReadiness(at);
  umockdev_testbed_uevent(testbed_, at.sysPath.c_str(), "remove");
  umockdev_testbed_remove_device(testbed_, at.sysPath.c_str());
  unlink(at.fifoPath.c_str());  // open descriptors keep the pipe
  current_ = nullptr;
}

void EmulatedBridge::OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  auto* at = static_cast<Attachment*>(self);
  std::lock_guard<std::mutex> hold(at->bridge->lock_);
  g_object_ref(client);
  at->clients.push_back(client);
  ++at->bridge->openings_;
}

gboolean EmulatedBridge::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  auto* at = static_cast<Attachment*>(self);
  std::lock_guard<std::mutex> hold(at->bridge->lock_);
  static const bool trace = std::getenv("VESK3_EMULATOR_TRACE") != nullptr;
  if (trace) {
    std::fprintf(stderr, "emulator: %s ioctl 0x%lx (%zu urbs)\n", at->devNode.c_str(),
                 umockdev_ioctl_client_get_request(client), at->urbs.size());
  }
  gboolean handled = at->bridge->HandleIoctl(*at, client);
  at->bridge->UpdateReadiness(*at);
  return handled;
}

gboolean EmulatedBridge::HandleIoctl(Attachment& at, UMockdevIoctlClient* client) {
  unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  GError* error = nullptr;
  if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) {
    Reap(at, client);
    return TRUE;
  }
  if (at.gone) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return TRUE;
  }
  switch (request) {
    case USBDEVFS_SUBMITURB:
      Submit(at, client);
      return TRUE;
    case USBDEVFS_DISCARDURB:
      Discard(at, client);
      return TRUE;
    case USBDEVFS_RELEASEINTERFACE:
      if (at.claimedBy == client) at.claimedBy = nullptr;
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    case USBDEVFS_CLAIMINTERFACE: {
      UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), &error);
      unsigned int number = 0;
      if (d) std::memcpy(&number, d->data, sizeof number);
      if (!d || number != 0) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
      } else if (at.claimedBy && at.claimedBy != client &&
                 umockdev_ioctl_client_get_connected(at.claimedBy)) {
        umockdev_ioctl_client_complete(client, -1, EBUSY);
      } else {
        at.claimedBy = client;
        umockdev_ioctl_client_complete(client, 0, 0);
      }
      return TRUE;
    }
    case USBDEVFS_GET_CAPABILITIES: {
      UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), &error);
      if (!d) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
      }
      uint32_t caps = kUsbfsCapabilities;
      std::memcpy(d->data, &caps, sizeof caps);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_CONNECTINFO: {
      UMockdevIoctlData* d =
          umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_connectinfo), &error);
      if (!d) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
      }
      usbdevfs_connectinfo info{at.devnum, 0};
      std::memcpy(d->data, &info, sizeof info);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:  // no kernel driver is bound, so there is none to detach
      umockdev_ioctl_client_complete(client, -1, ENODATA);
      return TRUE;
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_RESET:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    default:
      umockdev_ioctl_client_complete(client, -1, ENOTTY);
      return TRUE;
  }
}

void EmulatedBridge::Submit(Attachment& at, UMockdevIoctlClient* client) {
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  GError* error = nullptr;
  UMockdevIoctlData* ud = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
  if (!ud) {
    g_clear_error(&error);
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  usbdevfs_urb u;
  std::memcpy(&u, ud->data, sizeof u);
  if (u.buffer_length < 0 || u.buffer_length > kMaxUrbLength) {
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return;
  }
  const uint8_t* buffer = nullptr;
  if (u.buffer_length > 0) {
    UMockdevIoctlData* bd = umockdev_ioctl_data_resolve(
        ud, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(u.buffer_length), &error);
    if (!bd || bd->data_len < u.buffer_length) {
      g_clear_error(&error);
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return;
    }
    buffer = bd->data;
  }
  Urb urb;
  urb.client = client;
  urb.address = ud->client_addr;
  urb.type = u.type;
  urb.endpoint = u.endpoint;
  urb.length = u.buffer_length;
  urb.submittedUs = static_cast<uint64_t>(g_get_monotonic_time());
  uint64_t now = urb.submittedUs;
  if (u.type == USBDEVFS_URB_TYPE_CONTROL && u.endpoint == 0 &&
      u.buffer_length >= static_cast<int>(kSetupLength)) {
    uint16_t wLength = Le16(buffer + 6);
    if (wLength > u.buffer_length - kSetupLength) {
      umockdev_ioctl_client_complete(client, -1, EINVAL);
      return;
    }
    AnswerControl(urb, buffer, buffer + kSetupLength);
  } else if (u.type == USBDEVFS_URB_TYPE_BULK && u.endpoint == kBridgeOutEndpoint) {
    if (holdOut_) {
      urb.data.assign(buffer, buffer + u.buffer_length);
    } else {
      if (u.buffer_length > 0) chip_->HostWrite(buffer, static_cast<size_t>(u.buffer_length), now);
      urb.done = true;
      urb.actual = u.buffer_length;
    }
  } else if (u.type == USBDEVFS_URB_TYPE_BULK && u.endpoint == kBridgeInEndpoint) {
    // waits for the chip: CompleteInUrbs
  } else {
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return;
  }
  at.urbs.push_back(std::move(urb));
  CompleteInUrbs(at, now);
  umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedBridge::AnswerControl(Urb& urb, const uint8_t* setup, const uint8_t* out) {
  uint8_t requestType = setup[0], request = setup[1];
  uint16_t value = Le16(setup + 2), index = Le16(setup + 4), length = Le16(setup + 6);
  std::vector<uint8_t> answer;
  bool stall = false;
  if ((requestType & kRequestTypeMask) == kRequestTypeVendor) {
    uint8_t in[256] = {};
    int n = chip_->VendorRequest(requestType, request, value, index,
                                 static_cast<uint16_t>(std::min<int>(length, sizeof in)), in);
    if (n < 0)
      stall = true;
    else
      answer.assign(in, in + n);
  } else if ((requestType & kRequestTypeMask) == kRequestTypeStandard &&
             request == kGetDescriptor) {
    uint8_t type = static_cast<uint8_t>(value >> 8), number = static_cast<uint8_t>(value);
    std::vector<uint8_t> all = Descriptors();
    if (type == kDescriptorDevice)
      answer.assign(all.begin(), all.begin() + 18);
    else if (type == kDescriptorConfiguration)
      answer.assign(all.begin() + 18, all.end());
    else if (type == kDescriptorString)
      answer = StringDescriptor(number);
    stall = answer.empty();
  }
  (void)out;  // no request of this chip carries a data stage from the host
  urb.done = true;
  if (stall) {
    urb.status = -EPIPE;
    return;
  }
  if (requestType & kRequestTypeIn) {
    if (answer.size() > length) answer.resize(length);
    urb.data = std::move(answer);
    urb.actual = static_cast<int>(urb.data.size());
  } else {
    urb.actual = length;
  }
}

void EmulatedBridge::Reap(Attachment& at, UMockdevIoctlClient* client) {
  auto it = std::find_if(at.urbs.begin(), at.urbs.end(),
                         [client](const Urb& u) { return u.client == client && u.done; });
  if (it == at.urbs.end()) {
    umockdev_ioctl_client_complete(client, -1, at.gone ? ENODEV : EAGAIN);
    return;
  }
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  GError* error = nullptr;
  // The argument points at the caller's URB pointer: set it, then the URB itself.
  UMockdevIoctlData* pd = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &error);
  if (!pd) {
    g_clear_error(&error);
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  std::memcpy(pd->data, &it->address, sizeof(void*));
  UMockdevIoctlData* ud = umockdev_ioctl_data_resolve(pd, 0, sizeof(usbdevfs_urb), &error);
  if (!ud) {
    g_clear_error(&error);
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  auto* u = reinterpret_cast<usbdevfs_urb*>(ud->data);
  u->status = it->status;
  u->actual_length = it->actual;
  bool toHost = it->type == USBDEVFS_URB_TYPE_CONTROL ? !it->data.empty()
                                                      : (it->endpoint & kRequestTypeIn) != 0;
  if (toHost && !it->data.empty() && it->length > 0) {
    UMockdevIoctlData* bd = umockdev_ioctl_data_resolve(ud, offsetof(usbdevfs_urb, buffer),
                                                        static_cast<gsize>(it->length), &error);
    if (!bd) {
      g_clear_error(&error);
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return;
    }
    size_t offset = it->type == USBDEVFS_URB_TYPE_CONTROL ? kSetupLength : 0;
    size_t n = std::min(it->data.size(), static_cast<size_t>(bd->data_len) - offset);
    std::memcpy(bd->data + offset, it->data.data(), n);
  }
  at.urbs.erase(it);
  umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedBridge::Discard(Attachment& at, UMockdevIoctlClient* client) {
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  gulong address = 0;
  std::memcpy(&address, arg->data, std::min<size_t>(sizeof address, arg->data_len));
  auto it = std::find_if(at.urbs.begin(), at.urbs.end(),
                         [&](const Urb& u) { return u.client == client && u.address == address; });
  if (it == at.urbs.end() || it->done) {
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return;
  }
  // A discarded URB ends with -ENOENT and is reaped like any other.
  it->done = true;
  it->status = -ENOENT;
  it->actual = 0;
  it->data.clear();
  umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedBridge::CompleteInUrbs(Attachment& at, uint64_t nowUs) {
  if (at.gone) return;
  for (Urb& urb : at.urbs) {
    if (urb.done || urb.type != USBDEVFS_URB_TYPE_BULK) continue;
    if (urb.endpoint == kBridgeOutEndpoint) {
      if (holdOut_) continue;
      if (!urb.data.empty()) chip_->HostWrite(urb.data.data(), urb.data.size(), nowUs);
      urb.actual = urb.length;
      urb.data.clear();
      urb.done = true;
      continue;
    }
    if (!chip_->InReady(urb.submittedUs, nowUs)) return;  // IN transfers complete in order
    urb.data.resize(static_cast<size_t>(urb.length));
    urb.actual = static_cast<int>(chip_->FillIn(urb.data.data(), urb.data.size(), nowUs));
    urb.data.resize(static_cast<size_t>(urb.actual));
    urb.done = true;
  }
}

void EmulatedBridge::Tick(uint64_t nowUs) {
  device_->Tick(nowUs);
  for (auto& at : attachments_) {
    // An opening that went away takes its URBs and its claim along.
    at->urbs.remove_if([](const Urb& u) { return !umockdev_ioctl_client_get_connected(u.client); });
    if (at->claimedBy && !umockdev_ioctl_client_get_connected(at->claimedBy)) {
      at->claimedBy = nullptr;
    }
    if (at.get() == current_) {
      chip_->Tick(nowUs);
      CompleteInUrbs(*at, nowUs);
    }
    UpdateReadiness(*at);
  }
}

void EmulatedBridge::UpdateReadiness(Attachment& at) {
  bool ready = std::any_of(at.urbs.begin(), at.urbs.end(), [](const Urb& u) { return u.done; });
  if (ready == at.ready || at.fifoFd < 0) return;
  at.ready = ready;
  char chunk[kPipeSize];
  if (ready) {
    while (read(at.fifoFd, chunk, sizeof chunk) > 0) {
    }
  } else {
    std::memset(chunk, 0, sizeof chunk);
    while (write(at.fifoFd, chunk, sizeof chunk) > 0) {
    }
    while (write(at.fifoFd, chunk, 1) > 0) {
    }
  }
}
