#include "ctl/session_driver.h"

#include <cstring>

#include "link/usb_device.h"

namespace {
// Bridges are far fewer; a backend that reports more is not believed.
constexpr uint32_t kListedBridgesMax = 128;

std::string FieldText(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

// The backend's whole list, at most kListedBridgesMax nodes.
FtStatus BackendList(FtDriver& backend, std::vector<FtDeviceListInfoNode>* nodes) {
  uint32_t count = 0;
  FtStatus status = backend.CreateDeviceInfoList(&count);
  nodes->clear();
  if (status != kFtOk || count == 0) return status;
  if (count > kListedBridgesMax) count = kListedBridgesMax;
  nodes->assign(count, FtDeviceListInfoNode{});
  uint32_t filled = count;
  status = backend.GetDeviceInfoList(nodes->data(), &filled);
  if (status != kFtOk) {
    nodes->clear();
    return status;
  }
  if (filled < count) nodes->resize(filled);
  for (FtDeviceListInfoNode& node : *nodes) {
    node.SerialNumber[sizeof node.SerialNumber - 1] = '\0';
    node.Description[sizeof node.Description - 1] = '\0';
  }
  return kFtOk;
}
}  // namespace

bool IsHandControllerNode(const FtDeviceListInfoNode& node) {
  return node.ID == kHandControllerBridgeId &&
         FieldText(node.Description, sizeof node.Description) == kHandControllerDescription;
}

bool SessionDriver::Hidden(const FtDeviceListInfoNode& node) const {
  return !serial_.empty() && IsHandControllerNode(node) &&
         FieldText(node.SerialNumber, sizeof node.SerialNumber) != serial_;
}

bool SessionDriver::ListBridges(std::vector<ListedBridge>* bridges, FtStatus* status) {
  std::vector<FtDeviceListInfoNode> nodes;
  *status = BackendList(backend_, &nodes);
  bridges->clear();
  if (*status != kFtOk) return false;
  for (const FtDeviceListInfoNode& node : nodes) {
    bridges->push_back({FieldText(node.SerialNumber, sizeof node.SerialNumber),
                        FieldText(node.Description, sizeof node.Description), node.ID,
                        IsHandControllerNode(node)});
  }
  return true;
}

FtStatus SessionDriver::CreateDeviceInfoList(uint32_t* count) {
  std::vector<FtDeviceListInfoNode> nodes;
  FtStatus status = BackendList(backend_, &nodes);
  shown_.clear();
  backendIndex_.clear();
  if (status != kFtOk) return status;
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (Hidden(nodes[i])) continue;
    shown_.push_back(nodes[i]);
    backendIndex_.push_back(static_cast<int>(i));
  }
  *count = static_cast<uint32_t>(shown_.size());
  return kFtOk;
}

FtStatus SessionDriver::GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) {
  const uint32_t room = *count;
  const uint32_t n = room < shown_.size() ? room : static_cast<uint32_t>(shown_.size());
  for (uint32_t i = 0; i < n; ++i) list[i] = shown_[i];
  *count = static_cast<uint32_t>(shown_.size());
  return kFtOk;
}

FtStatus SessionDriver::Open(int index, FtHandle* handle) {
  if (index < 0 || static_cast<size_t>(index) >= backendIndex_.size()) return kFtDeviceNotFound;
  return backend_.Open(backendIndex_[static_cast<size_t>(index)], handle);
}

FtStatus SessionDriver::Write(FtHandle handle, const void* data, uint32_t n, uint32_t* written) {
  FtStatus status = backend_.Write(handle, data, n, written);
  if (written != nullptr && *written <= n) bytesWritten_ += *written;
  return status;
}

FtStatus SessionDriver::Read(FtHandle handle, void* buffer, uint32_t n, uint32_t* got) {
  FtStatus status = backend_.Read(handle, buffer, n, got);
  if (got != nullptr && *got <= n) bytesRead_ += *got;
  return status;
}
