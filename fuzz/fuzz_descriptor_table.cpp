// Fuzz target: the descriptor block the device sends at the handshake, loaded
// with VK3cmd_LoadDescriptorTable, and then command frames built against the
// table it loaded (and against a table reloaded in the middle of a frame).
#include <cstddef>
#include <cstdint>

#include "fuzz/conversations.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzDescriptorTable(data, size);
  return 0;
}
