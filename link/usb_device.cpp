#include "link/usb_device.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// The driver in force before a program installs its own, and after EndLink:
// it finds no bridge and opens nothing.
class NoBridgeDriver : public FtDriver {
 public:
  FtStatus CreateDeviceInfoList(uint32_t* count) override {
    *count = 0;
    return kFtOk;
  }
  FtStatus GetDeviceInfoList(FtDeviceListInfoNode*, uint32_t* count) override {
    *count = 0;
    return kFtOk;
  }
  FtStatus Open(int, FtHandle*) override { return kFtDeviceNotFound; }
  FtStatus Close(FtHandle) override { return kFtOk; }
  FtStatus GetBitMode(FtHandle, uint8_t*) override { return kFtInvalidHandle; }
  FtStatus Purge(FtHandle, uint32_t) override { return kFtInvalidHandle; }
  FtStatus SetDataCharacteristics(FtHandle, uint8_t, uint8_t, uint8_t) override {
    return kFtInvalidHandle;
  }
  FtStatus SetBaudRate(FtHandle, uint32_t) override { return kFtInvalidHandle; }
  FtStatus SetFlowControl(FtHandle, uint16_t, uint8_t, uint8_t) override {
    return kFtInvalidHandle;
  }
  FtStatus SetTimeouts(FtHandle, uint32_t, uint32_t) override { return kFtInvalidHandle; }
  FtStatus SetLatencyTimer(FtHandle, uint8_t) override { return kFtInvalidHandle; }
  FtStatus SetBitMode(FtHandle, uint8_t, uint8_t) override { return kFtInvalidHandle; }
  FtStatus Write(FtHandle, const void*, uint32_t, uint32_t* written) override {
    *written = 0;
    return kFtInvalidHandle;
  }
  FtStatus Read(FtHandle, void*, uint32_t, uint32_t* got) override {
    *got = 0;
    return kFtInvalidHandle;
  }
  FtStatus GetQueueStatus(FtHandle, uint32_t* rx) override {
    *rx = 0;
    return kFtInvalidHandle;
  }
  FtStatus GetStatus(FtHandle, uint32_t* rx, uint32_t* tx, uint32_t* events) override {
    *rx = *tx = *events = 0;
    return kFtInvalidHandle;
  }
  FtStatus GetDeviceInfo(FtHandle, uint32_t*, uint32_t*, char*, char*, void*) override {
    return kFtInvalidHandle;
  }
};

// Constructed before theUsbDevice and so destroyed after it: the link's
// end-of-program close always has a driver to call.
NoBridgeDriver noBridgeDriver;
FtDriver* installedDriver = &noBridgeDriver;

// Descriptions that make a candidate bridge the device, by DeviceKind.
constexpr const char* kPrototypeDescriptions[] = {"Vesk-3 Prototype", "ZORVITA Vesk-3 proto demo",
                                                  "Vesk-3 HandController"};
constexpr const char* kPlainConverterDescription = "USB <-> Serial Converter";

// Equal byte for byte up to and including the text's terminating zero.
bool DescriptionIs(const char (&description)[64], const char* text) {
  return std::memcmp(description, text, std::strlen(text) + 1) == 0;
}

void Widen(const char* text, std::u16string& out) {
  for (const char* c = text; *c != '\0'; ++c) out.push_back(static_cast<unsigned char>(*c));
}

}  // namespace

UsbDevice theUsbDevice;

void UseDriver(FtDriver& driver) {
  installedDriver = &driver;
}
FtDriver& TheDriver() {
  return *installedDriver;
}

void EndLink() {
  theUsbDevice.CloseAtProgramEnd();
  installedDriver = &noBridgeDriver;
}

UsbDevice::UsbDevice() = default;

UsbDevice::~UsbDevice() {
  CloseAtProgramEnd();
}

void UsbDevice::Reset() {
  lastStatus = 0;
  handle = nullptr;
  DeviceKind = kDeviceKindAnyDescription;
  deviceList = nullptr;
  deviceCount = 0;
  errorText[0] = '\0';
  linkError = LinkError{};
  bitDirection = 0;
  bitLevels = 0;
  configured_ = false;
  bytesMoved = 0;
  serialForSerial_[0] = descrForSerial_[0] = serialForDescr_[0] = descrForDescr_[0] = '\0';
}

void UsbDevice::CloseAtProgramEnd() {
  if (!IsOpen()) return;
  if (Record(TheDriver().Close(handle))) {
    handle = nullptr;
  } else {
    SetText("FT_Close failed");
  }
}

bool UsbDevice::Record(FtStatus status) {
  lastStatus = status;
  return status == kFtOk;
}

void UsbDevice::SetText(const char* text) {
  std::snprintf(errorText, sizeof errorText, "%s", text);
  linkError.message.clear();
  Widen(errorText, linkError.message);
}

void UsbDevice::AppendText(const char* text) {
  size_t used = std::strlen(errorText);
  std::snprintf(errorText + used, sizeof errorText - used, "%s", text);
  Widen(errorText + used, linkError.message);
}

void UsbDevice::ReportDriverFailure(const char* name) {
  std::snprintf(errorText, sizeof errorText, "%s (code %d ($%x))", name,
                static_cast<int32_t>(lastStatus), lastStatus);
  linkError.code = static_cast<int32_t>(lastStatus);
  linkError.timedOut = 0;
}

void UsbDevice::ReportTimeout(const char* name) {
  std::snprintf(errorText, sizeof errorText, "%s (code %d ($%x))", name,
                static_cast<int32_t>(lastStatus), lastStatus);
  linkError.code = static_cast<int32_t>(lastStatus);
  linkError.timedOut = 1;
}

bool UsbDevice::RequireOpen(const char* notOpenText) {
  if (IsOpen()) return true;
  SetText(notOpenText);
  return false;
}

bool UsbDevice::IsTheDevice(const FtDeviceListInfoNode& node) const {
  if (node.ID != kHandControllerBridgeId) return false;
  switch (DeviceKind) {
    case kDeviceKindAnyDescription:
      return true;
    case kDeviceKindPrototypes:
      for (const char* text : kPrototypeDescriptions) {
        if (DescriptionIs(node.Description, text)) return true;
      }
      return false;
    case kDeviceKindPlainConverter:
      return DescriptionIs(node.Description, kPlainConverterDescription);
    case kDeviceKindHandController:
      return DescriptionIs(node.Description, kHandControllerDescription);
    default:
      return false;
  }
}

int32_t UsbDevice::Poll() {
  errorText[0] = '\0';
  if (IsOpen()) {
    if (!Record(TheDriver().Close(handle))) {
      SetText("FT_Close failed");
      AppendText(" ..in function Poll()");
      return -1;
    }
    handle = nullptr;
  }
  if (!Record(TheDriver().CreateDeviceInfoList(&deviceCount))) {
    ReportDriverFailure("FT_CreateDeviceInfoList failed");
    return -1;
  }
  if (deviceCount == 0) return -1;

  const uint32_t allocated = deviceCount;
  deviceList = new (std::nothrow) FtDeviceListInfoNode[allocated]();
  if (deviceList == nullptr) return -1;
  int32_t found = -1;
  if (!Record(TheDriver().GetDeviceInfoList(deviceList, &deviceCount))) {
    ReportDriverFailure("FT_GetDeviceInfoList failed");
  } else {
    // Walk only the nodes allocated, whatever count the driver wrote back.
    const uint32_t walk = deviceCount < allocated ? deviceCount : allocated;
    for (uint32_t i = 0; i < walk; ++i) {
      if (IsTheDevice(deviceList[i])) {
        found = static_cast<int32_t>(i);
        break;
      }
    }
  }
  delete[] deviceList;
  deviceList = nullptr;
  return found;
}

int32_t UsbDevice::Open() {
  int32_t index = Poll();
  if (index < 0) {
    AppendText("No proper USB device found");
    return 1;
  }
  FtHandle opened = nullptr;
  if (!Record(TheDriver().Open(index, &opened))) {
    ReportDriverFailure("FT_Open failed");
    return static_cast<int32_t>(lastStatus);
  }
  handle = opened;
  configured_ = false;
  uint8_t pins = 0;
  if (!Record(TheDriver().GetBitMode(handle, &pins))) {
    ReportDriverFailure("FT_GetBitMode failed");
    return static_cast<int32_t>(lastStatus);
  }
  bitLevels = pins;
  bitDirection = 0;
  if (!Record(TheDriver().Purge(handle, kFtPurgeRx | kFtPurgeTx))) {
    ReportDriverFailure("FT_Purge failed");
    return static_cast<int32_t>(lastStatus);
  }
  return 0;
}

int32_t UsbDevice::Close() {
  if (!IsOpen()) return 0;
  if (!Record(TheDriver().Close(handle))) {
    SetText("FT_Close failed");
    return 9;
  }
  handle = nullptr;
  return 0;
}

int32_t UsbDevice::ConfigCall(const char* notOpenText, const char* failureName,
                              FtStatus (*call)(UsbDevice&)) {
  if (!RequireOpen(notOpenText)) return 1;
  if (!Record(call(*this))) {
    ReportDriverFailure(failureName);
    return 1;
  }
  return 0;
}

int32_t UsbDevice::SetDataFormat() {
  return ConfigCall(
      "Device not open in SetDataFormat()", "FT_SetDataCharacteristics failed", [](UsbDevice& d) {
        return TheDriver().SetDataCharacteristics(d.handle, kFtBits8, kFtStopBits1, kFtParityNone);
      });
}

int32_t UsbDevice::SetBaudRate(uint32_t rate) {
  if (!RequireOpen("Device not open in SetBaudRate()")) return 1;
  if (!Record(TheDriver().SetBaudRate(handle, rate))) {
    ReportDriverFailure("FT_SetBaudRate failed");
    return 1;
  }
  return 0;
}

int32_t UsbDevice::SetRTSCTS() {
  return ConfigCall("Device not open in SetRTSCTS()", "FT_SetFlowControl failed", [](UsbDevice& d) {
    return TheDriver().SetFlowControl(d.handle, kFtFlowRtsCts, 0, 0);
  });
}

int32_t UsbDevice::SetTimeouts() {
  int32_t result =
      ConfigCall("Device not open in SetTimeouts()", "FT_SetTimeouts failed", [](UsbDevice& d) {
        return TheDriver().SetTimeouts(d.handle, kLinkTimeoutMs, kLinkTimeoutMs);
      });
  if (result == 0) {
    linkError.readTimeoutMs = kLinkTimeoutMs;
    linkError.writeTimeoutMs = kLinkTimeoutMs;
  }
  return result;
}

int32_t UsbDevice::SetLatencyTimer() {
  return ConfigCall(
      "Device not open in SetLatencyTimer()", "FT_SetLatencyTimer failed",
      [](UsbDevice& d) { return TheDriver().SetLatencyTimer(d.handle, kLinkLatencyMs); });
}

int32_t UsbDevice::FlushInBuffer() {
  return ConfigCall("Device not open in FlushInBuffer()", "FT_Purge failed",
                    [](UsbDevice& d) { return TheDriver().Purge(d.handle, kFtPurgeRx); });
}

int32_t UsbDevice::FlushOutBuffer() {
  return ConfigCall("Device not open in FlushOutBuffer()", "FT_Purge failed",
                    [](UsbDevice& d) { return TheDriver().Purge(d.handle, kFtPurgeTx); });
}

int32_t UsbDevice::SendBitMode() {
  uint8_t mask = static_cast<uint8_t>(((bitDirection & 0x0F) << 4) | (bitLevels & 0x0F));
  if (!Record(TheDriver().SetBitMode(handle, mask, kFtBitModeCbus))) {
    ReportDriverFailure("FT_SetBitMode failed");
    return 1;
  }
  return 0;
}

int32_t UsbDevice::SetBitOutput(uint32_t levels) {
  if (!RequireOpen("Device not open in SetBitOutput()")) return 1;
  bitDirection |= 0x02;
  bitLevels = (bitLevels & 0x0D) | (levels & 0x02);
  return SendBitMode();
}

int32_t UsbDevice::SetBitInput() {
  if (!RequireOpen("Device not open in SetBitInput()")) return 1;
  bitDirection &= ~0x0Fu;
  // Only the directions go out: with every line an input the mask is 0x00.
  uint8_t mask = static_cast<uint8_t>((bitDirection & 0x0F) << 4);
  if (!Record(TheDriver().SetBitMode(handle, mask, kFtBitModeCbus))) {
    ReportDriverFailure("FT_SetBitMode failed");
    return 1;
  }
  return 0;
}

int32_t UsbDevice::Write(const void* data, int32_t length) {
  if (!RequireOpen("Device not open in Write()")) return 0;
  if (length == 0) {
    SetText("0 bytes written");
    return 0;
  }
  if (length < 0) return 0;
  const uint8_t* position = static_cast<const uint8_t*>(data);
  uint32_t left = static_cast<uint32_t>(length);
  while (left > 0) {
    uint32_t n = left < kWritePieceMax ? left : kWritePieceMax;
    uint32_t written = 0;
    if (!Record(TheDriver().Write(handle, position, n, &written))) {
      ReportDriverFailure("FT_Write failed");
      return 0;
    }
    if (written == 0) {
      ReportTimeout("FT_Write timed out");
      return 0;
    }
    if (written > n) written = n;  // a driver never accepts more than it was handed
    bytesMoved += written;
    position += written;
    left -= written;
  }
  return length;
}

int32_t UsbDevice::Read(void* buffer, int32_t length) {
  if (!RequireOpen("Device not open in Read()")) return 0;
  if (length == 0) {
    SetText("0 bytes read");
    return 0;
  }
  if (length < 0) return 0;
  uint32_t got = 0;
  if (!Record(TheDriver().Read(handle, buffer, static_cast<uint32_t>(length), &got))) {
    ReportDriverFailure("FT_Read failed");
    return 0;
  }
  if (got == 0) {
    ReportTimeout("FT_Read timed out");
    return 0;
  }
  if (got > static_cast<uint32_t>(length)) got = static_cast<uint32_t>(length);
  bytesMoved += got;
  return static_cast<int32_t>(got);
}

uint32_t UsbDevice::QueryReadBufLen() {
  if (!RequireOpen("Device not open in QueryReadBufLen()")) return 0;
  uint32_t rx = 0;
  if (!Record(TheDriver().GetQueueStatus(handle, &rx))) {
    ReportDriverFailure("FT_GetQueueStatus failed");
    return 0;
  }
  return rx;
}

uint32_t UsbDevice::QueryWriteBufLen() {
  if (!RequireOpen("Device not open in QueryWriteBufLen()")) return 0;
  uint32_t rx = 0, tx = 0, events = 0;
  if (!Record(TheDriver().GetStatus(handle, &rx, &tx, &events))) {
    ReportDriverFailure("FT_GetStatus failed");
    return 0;
  }
  return tx;
}

const char* UsbDevice::QuerySerial() {
  serialForSerial_[0] = '\0';
  if (!RequireOpen("Device not open in QuerySerial()")) return serialForSerial_;
  uint32_t type = 0, id = 0;
  if (!Record(TheDriver().GetDeviceInfo(handle, &type, &id, serialForSerial_, descrForSerial_,
                                        nullptr))) {
    ReportDriverFailure("FT_GetDeviceInfo failed");
    serialForSerial_[0] = '\0';
    return serialForSerial_;
  }
  serialForSerial_[kQueryTextSize - 1] = '\0';
  descrForSerial_[kQueryTextSize - 1] = '\0';
  return serialForSerial_;
}

const char* UsbDevice::QueryDescr() {
  descrForDescr_[0] = '\0';
  if (!RequireOpen("Device not open in QueryDescr()")) return descrForDescr_;
  uint32_t type = 0, id = 0;
  if (!Record(TheDriver().GetDeviceInfo(handle, &type, &id, serialForDescr_, descrForDescr_,
                                        nullptr))) {
    ReportDriverFailure("FT_GetDeviceInfo failed");
    descrForDescr_[0] = '\0';
    return descrForDescr_;
  }
  serialForDescr_[kQueryTextSize - 1] = '\0';
  descrForDescr_[kQueryTextSize - 1] = '\0';
  return descrForDescr_;
}
