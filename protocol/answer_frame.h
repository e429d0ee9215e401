// Answer frames: reading and classifying the device's answer to the command
// just sent, notifications in its place, and the bulk data it announces.
//
// Owns: VK3cmd_ReadAnswer, VK3cmd_Receive (parameter walk, segmented bulk into
// the BulkBuffer, streamed bulk left on the link), VK3cmd_FindParam and the two
// word readers. Nothing is read or written outside the answer frame, the
// BulkBuffer or the stream stage, whatever the device sends.
// Does not own: what an answer parameter means (services/).
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/result_codes.h"

ResultCode VK3cmd_ReadAnswer();
ResultCode VK3cmd_Receive();

// The parameter's id byte inside the answer frame (length byte and data
// follow), or nullptr. Valid until the next answer is read.
const uint8_t* VK3cmd_FindParam(uint8_t id);

// True when a parameter found by VK3cmd_FindParam has its length byte and all
// its data inside the answer as the device sent it (within L and the frame).
bool VK3cmd_ParamInAnswer(const uint8_t* param);

// Next little-endian word of the BulkBuffer; 0 past its end.
uint16_t NextMemoryWord();
// Next little-endian word of the streamed bulk data, refilled 512 bytes at a
// time; 0 once the stream is exhausted, without touching the link again.
uint16_t NextStreamWord();
// Once the decoder has stopped: reads and drops the announced bytes still on
// the link when they are fewer than one stage, the padding with which a
// device ends its stream on a 512-byte boundary. More than that is not
// padding and is left to the drain. Nothing past the announcement is read, so
// a notification that follows the stream stays on the link.
void DiscardStreamPadding();

// Bulk words for a reader that takes many at a time. Ready() and Consume()
// never touch the link; Refill() is the word reader's own call for when no
// word is ready: it refills the stream stage (one link read), or yields the 0
// of a source that has ended. Used that way (Refill only when nothing is
// ready, Ready again after it), they leave the words, the link reads and the
// reader's state exactly as calls of the word reader alone would.
struct ReadyWords {
  const uint8_t* bytes = nullptr;  // little-endian words
  size_t count = 0;
};

class BulkWordSource {
 public:
  virtual ReadyWords Ready() const = 0;
  virtual void Consume(size_t words) = 0;
  virtual uint16_t Refill() = 0;
  // True once a refill found the link failing or silent while announced bytes
  // were still to come: the words since then are not the device's.
  virtual bool Broken() const { return false; }

 protected:
  ~BulkWordSource() = default;
};

// The BulkBuffer from its first byte (NextMemoryWord's source).
BulkWordSource& StartMemoryWords();
// The streamed bulk data, with an empty stream stage (NextStreamWord's source).
BulkWordSource& StartStreamWords();
// NextMemoryWord's and NextStreamWord's sources where they stand, or nullptr
// for any other reader.
BulkWordSource* WordSourceOf(uint16_t (*reader)());

// Any word reader as a source: nothing is ever ready, every word is a call.
class WordByWordSource final : public BulkWordSource {
 public:
  explicit WordByWordSource(uint16_t (*reader)()) : reader_(reader) {}
  ReadyWords Ready() const override { return {}; }
  void Consume(size_t) override {}
  uint16_t Refill() override { return reader_(); }

 private:
  uint16_t (*reader_)();
};
