// Fuzz target: the colour entry answers on a started link: a read of entry 3
// when the selection changes, then a change to pure red (read, write,
// read-back), as the window's colour controls run them.
#include <cstddef>
#include <cstdint>

#include "fuzz/conversations.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzColorRead(data, size);
  return 0;
}
