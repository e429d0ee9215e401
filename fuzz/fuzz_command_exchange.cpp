// Fuzz target: whole command exchanges from a freshly started program. The
// first command goes through the wake-up and the handshake with its descriptor
// download; then the program's other commands follow, each VK3cmd_Send then
// VK3cmd_Receive, with whatever the device answers: answers, notifications,
// bulk data in segments or streamed, garbage.
#include <cstddef>
#include <cstdint>

#include "fuzz/conversations.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzCommandExchange(data, size);
  return 0;
}
