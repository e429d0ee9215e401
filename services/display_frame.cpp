#include "services/display_frame.h"

#include <algorithm>

#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"
#include "protocol/command_frame.h"
#include "protocol/link_startup.h"

uint16_t FrameBuffer[kDisplayPixels] = {};
bool fullRefresh = true;
WordSource NextBulkWord = NextMemoryWord;

namespace {

constexpr int32_t kBytesPerWord = 2;

// Stage 1 on the bulk data the answer announced, from its start. False when
// the link broke off a streamed frame: the words it left are not the device's.
bool ExpandAnnouncedBulk(int32_t words) {
  if (theChannel.BulkInMemory) {
    NextBulkWord = NextMemoryWord;
    return ExpandTokens(StartMemoryWords(), words, OnSourceBreak::ReadOn);
  }
  NextBulkWord = NextStreamWord;
  if (!ExpandTokens(StartStreamWords(), words, OnSourceBreak::Stop)) return false;
  DiscardStreamPadding();
  return true;
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
  // A frame the link broke off paints nothing: the FrameBuffer keeps the last
  // whole frame, and the link's record says why.
  if (!ExpandAnnouncedBulk(words)) return kResultLinkFailure;
  ApplyChangeMasks(FrameBuffer);
  return kResultOk;
}

void DecodeDisplayFrame(int32_t count) {
  BulkWordSource* known = WordSourceOf(NextBulkWord);
  WordByWordSource calls(NextBulkWord);
  ExpandTokens(known != nullptr ? *known : calls, count, OnSourceBreak::ReadOn);
  ApplyChangeMasks(FrameBuffer);
}

void ResetDisplayState() {
  std::fill_n(FrameBuffer, kDisplayPixels, uint16_t{0});
  std::fill_n(ExpansionBuffer, kExpansionWords, uint16_t{0});
  fullRefresh = true;
  NextBulkWord = NextMemoryWord;
}
