#include "protocol/command_channel.h"

CommandChannel theChannel;

void CommandChannel::Reset() {
  commandFrame = CommandFrame{};
  FrameCounter = kCounterFirst;
  DescriptorTable.clear();
  answerFrame = AnswerFrame{};
  BulkLength = 0;
  BulkInMemory = false;
  memoryPosition = 0;
  streamPosition = 0;
  streamWordCount = 0;
  streamRemaining = 0;
  HoldOffMs = 0;
  WakeUpPending = true;
  HandshakeVersion = -1;
}
