#include "protocol/command_frame.h"

#include <cstring>

#include "protocol/command_channel.h"

namespace {
CommandFrame& Frame() {
  return theChannel.commandFrame;
}

void AdvanceCounter() {
  uint8_t used = theChannel.FrameCounter;
  theChannel.FrameCounter = used < kCounterLast ? static_cast<uint8_t>(used + 1) : kCounterFirst;
}
}  // namespace

int VK3cmd_Begin(uint8_t command) {
  CommandFrame& frame = Frame();
  frame.count = 0;
  frame.CurrentDescriptor = nullptr;
  if (!theChannel.DescriptorTable.empty()) {
    auto entry = theChannel.DescriptorTable.find(command);
    if (entry == theChannel.DescriptorTable.end()) return kFrameUnknownCommand;
    frame.CurrentDescriptor = &entry->second;
  }
  frame.bytes[0] = command;
  frame.bytes[1] = theChannel.FrameCounter;
  frame.count = 2;
  AdvanceCounter();
  return kFrameOk;
}

int VK3cmd_AddParam(uint8_t id, const void* data, int32_t length) {
  CommandFrame& frame = Frame();
  if (frame.CurrentDescriptor != nullptr) {
    auto param = frame.CurrentDescriptor->find(id);
    if (param == frame.CurrentDescriptor->end()) return kFrameUnknownParam;
    if (param->second != length) return kFrameWrongLength;
  }
  if (frame.count >= kFrameCapacity) return kFrameFull;
  frame.bytes[frame.count++] = id;
  if (data != nullptr && length > 0) {
    uint16_t n = length > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(length);
    return VK3cmd_AppendData(data, n);
  }
  return kFrameOk;
}

int VK3cmd_AppendData(const void* data, uint16_t length) {
  CommandFrame& frame = Frame();
  size_t room = kFrameCapacity - frame.count;
  size_t n = length <= room ? length : room;
  if (n > 0) std::memcpy(frame.bytes + frame.count, data, n);
  frame.count = static_cast<uint16_t>(frame.count + n);
  return n == length ? kFrameOk : kFrameFull;
}
