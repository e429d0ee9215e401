// Fuzz target: display frame exchanges on a started link. The program asks for
// the whole display, then twice for the changes (VK3cmd_GetDisplayFrame), and
// DecodeDisplayFrame expands whatever the device sends: from the BulkBuffer
// after a segmented transfer, or pulled from the link while it is decoded.
#include <cstddef>
#include <cstdint>

#include "fuzz/conversations.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzDisplayFrame(data, size);
  return 0;
}
