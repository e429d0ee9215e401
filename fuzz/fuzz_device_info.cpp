// Fuzz target: the composite device information query on a started link and
// the report built from it, as the "Device Info" button runs them (twice).
#include <cstddef>
#include <cstdint>

#include "fuzz/conversations.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzDeviceInfo(data, size);
  return 0;
}
