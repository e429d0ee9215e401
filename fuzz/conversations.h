// The conversations the fuzz targets hold with the device, and the checks they
// make on the way. The same functions run against the simulated hand
// controller when the seed corpora are recorded, so every seed is the device's
// side of exactly the conversation its target holds.
//
// Owns: the order of operations of each target and what it asserts about the
// outcome (known result codes, bounded virtual time, an untouched mirror after
// a failed refresh, well-formed boxes and labels).
// Does not own: where the device's bytes come from (the fuzz input through the
// ReplyDriver, or the simulated device) or the reset of the globals.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_harness.h"

// From a freshly started program: the program's commands one after the other,
// the first through the wake-up and the handshake.
void ConverseCommandExchanges(ElapsedMs elapsed);
// On a started link: a whole display frame, then the changes twice.
void ConverseDisplayFrames(ElapsedMs elapsed);
// On a started link: "Device Info" twice.
void ConverseDeviceInfo(ElapsedMs elapsed);
// On a started link: a read of colour entry 3, then its change to pure red.
void ConverseColorEntries(ElapsedMs elapsed);

// One input of each fuzz target, run from a fresh FuzzSession: what the
// targets' LLVMFuzzerTestOneInput do, and what the corpus replay test runs.
void FuzzCommandExchange(const uint8_t* data, size_t size);
void FuzzDescriptorTable(const uint8_t* data, size_t size);
void FuzzDisplayFrame(const uint8_t* data, size_t size);
void FuzzDeviceInfo(const uint8_t* data, size_t size);
void FuzzColorRead(const uint8_t* data, size_t size);

// The descriptor table target's input: a 16-bit little-endian block length,
// the block, then frame building steps of three bytes (kind, a, b).
void BuildFramesAgainstBlock(const uint8_t* data, size_t size);
// The steps of building the frames the program sends, for the seeds.
enum FrameStepKind : uint8_t {
  kStepBegin,      // VK3cmd_Begin(a)
  kStepParam,      // VK3cmd_AddParam(a, data, b)
  kStepParamNone,  // VK3cmd_AddParam(a, none, b)
  kStepAppend,     // VK3cmd_AppendData(data, a * 256 + b)
  kStepReload,     // the handshake loads the block again, or an empty one (b odd)
  kStepKinds,
};
