#include "bench/memory_bridge.h"

#include <algorithm>
#include <cstring>

FtStatus MemoryBridge::CreateDeviceInfoList(uint32_t* count) {
  *count = static_cast<uint32_t>(bridges.size());
  return kFtOk;
}

FtStatus MemoryBridge::GetDeviceInfoList(FtDeviceListInfoNode* list, uint32_t* count) {
  const size_t n = std::min<size_t>(*count, bridges.size());
  for (size_t i = 0; i < n; ++i) {
    FtDeviceListInfoNode& node = list[i];
    node = {};
    node.ID = bridges[i].id;
    std::strncpy(node.Description, bridges[i].description.c_str(), sizeof node.Description - 1);
  }
  *count = static_cast<uint32_t>(bridges.size());
  return kFtOk;
}

FtStatus MemoryBridge::Open(int index, FtHandle* handle) {
  if (index < 0 || static_cast<size_t>(index) >= bridges.size()) return kFtDeviceNotFound;
  *handle = &handleToken_;
  return kFtOk;
}

FtStatus MemoryBridge::GetBitMode(FtHandle, uint8_t* pins) {
  *pins = 0;
  return kFtOk;
}

FtStatus MemoryBridge::Write(FtHandle, const void*, uint32_t n, uint32_t* written) {
  *written = n;
  return kFtOk;
}

FtStatus MemoryBridge::Read(FtHandle, void* buffer, uint32_t n, uint32_t* got) {
  const size_t available = incoming_ == nullptr ? 0 : incoming_->size() - cursor_;
  const size_t k = std::min<size_t>(n, available);
  if (k > 0) std::memcpy(buffer, incoming_->data() + cursor_, k);
  cursor_ += k;
  *got = static_cast<uint32_t>(k);
  return kFtOk;
}

FtStatus MemoryBridge::GetQueueStatus(FtHandle, uint32_t* rx) {
  *rx = incoming_ == nullptr ? 0 : static_cast<uint32_t>(incoming_->size() - cursor_);
  return kFtOk;
}

FtStatus MemoryBridge::GetStatus(FtHandle handle, uint32_t* rx, uint32_t* tx, uint32_t* events) {
  GetQueueStatus(handle, rx);
  *tx = 0;
  *events = 0;
  return kFtOk;
}

FtStatus MemoryBridge::GetDeviceInfo(FtHandle, uint32_t*, uint32_t*, char* serial,
                                     char* description, void*) {
  std::strcpy(serial, "MEM00001");
  std::strcpy(description, "Vesk-3 HandController");
  return kFtOk;
}
