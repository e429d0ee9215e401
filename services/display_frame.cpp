#include "services/display_frame.h"

#include <algorithm>

#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"
#include "protocol/command_frame.h"
#include "protocol/link_startup.h"

uint16_t FrameBuffer[kDisplayPixels] = {};
uint16_t ExpansionBuffer[kExpansionWords] = {};
bool fullRefresh = true;
WordSource NextBulkWord = NextMemoryWord;

namespace {

constexpr uint16_t kMarkerMask = 0xFF80;
constexpr uint16_t kRunLengthMask = 0x7F;
constexpr int32_t kRunLengthBias = 2;
constexpr int32_t kRunLengthMax = 128;  // low bits 0x7F (129) end the stream
constexpr int kPixelsPerMask = 16;
constexpr uint16_t kMaskAll = 0xFFFF;
constexpr uint16_t kMaskFirstPixel = 0x8000;
constexpr int32_t kBytesPerWord = 2;

// Stage 1: the tokens of `count` stream words into the ExpansionBuffer. Stops
// at the end token or when the buffer is full; a run that would pass its end
// is cut there.
void ExpandTokens(int32_t count) {
  int32_t remaining = count;
  size_t written = 0;
  uint16_t marker = kMarkerFirst;
  while (remaining > 0 && written < kExpansionWords) {
    const uint16_t w = NextBulkWord();
    if ((w & kMarkerMask) == marker) {
      const uint16_t v = NextBulkWord();
      if (remaining > 1 && v == w) {
        ExpansionBuffer[written++] = w;
      } else {
        const int32_t n = (w & kRunLengthMask) + kRunLengthBias;
        if (n > kRunLengthMax) return;
        const size_t fill = std::min<size_t>(static_cast<size_t>(n), kExpansionWords - written);
        std::fill_n(ExpansionBuffer + written, fill, v);
        written += fill;
      }
      remaining -= 2;
    } else {
      ExpansionBuffer[written++] = w;
      remaining -= 1;
    }
    marker = static_cast<uint16_t>(marker + kMarkerStep);
  }
}

// Stage 2: the 4800 change masks applied to the FrameBuffer with the values
// that follow them. At most 76800 values: never past word 81599.
void ApplyChangeMasks() {
  const uint16_t* value = ExpansionBuffer + kMaskCount;
  uint16_t* stretch = FrameBuffer;
  for (int g = 0; g < kMaskCount; ++g, stretch += kPixelsPerMask) {
    const uint16_t mask = ExpansionBuffer[g];
    if (mask == 0) continue;
    if (mask == kMaskAll) {
      std::copy_n(value, kPixelsPerMask, stretch);
      value += kPixelsPerMask;
      continue;
    }
    for (int bit = 0; bit < kPixelsPerMask; ++bit) {
      if (mask & (kMaskFirstPixel >> bit)) stretch[bit] = *value++;
    }
  }
}

// The word source for the bulk data the answer announced.
void SelectWordSource() {
  if (theChannel.BulkInMemory) {
    theChannel.memoryPosition = 0;
    NextBulkWord = NextMemoryWord;
  } else {
    theChannel.streamPosition = 0;
    theChannel.streamWordCount = 0;
    NextBulkWord = NextStreamWord;
  }
}

}  // namespace

ResultCode VK3cmd_GetDisplayFrame(bool full) {
  VK3cmd_Begin(kCmdDisplayFrame);
  if (full) VK3cmd_AddParam(kParamWholeDisplay, nullptr, 0);
  VK3cmd_AddParam(kParamDisplayChanges, nullptr, 0);
  ResultCode r = VK3cmd_Send();
  if (r != kResultOk) return r;
  r = VK3cmd_Receive();
  if (r != kResultOk) return r;

  const uint8_t* info = VK3cmd_FindParam(kParamDisplayInfo);
  if (info != nullptr && (info[1] != kDisplayInfoLength || !VK3cmd_ParamInAnswer(info))) {
    return kResultBadParameterLength;
  }
  const int32_t words = theChannel.BulkLength / kBytesPerWord;
  SelectWordSource();
  DecodeDisplayFrame(words);
  return kResultOk;
}

void DecodeDisplayFrame(int32_t count) {
  ExpandTokens(count);
  ApplyChangeMasks();
}

void ResetDisplayState() {
  std::fill_n(FrameBuffer, kDisplayPixels, uint16_t{0});
  std::fill_n(ExpansionBuffer, kExpansionWords, uint16_t{0});
  fullRefresh = true;
  NextBulkWord = NextMemoryWord;
}
