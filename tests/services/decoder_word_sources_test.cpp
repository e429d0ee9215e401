// The decoder takes words straight out of the BulkBuffer or the stream stage
// when its word source is one of the two readers. Whatever the stream, that
// must leave exactly what word-by-word calls of the same reader leave: the
// ExpansionBuffer, the FrameBuffer, the reader's position and the link reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "link/usb_device.h"
#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"
#include "services/display_frame.h"
#include "tests/services/stream_encoder.h"
#include "tests/support/core_fixture.h"

namespace {

constexpr uint16_t kStale = 0x5A5A;  // what earlier frames left in the buffers
constexpr size_t kBulkWords = kBulkCapacity / 2;

// The same readers behind another slot address: the decoder cannot see
// through them and asks word by word.
uint16_t MemoryWordByWord() {
  return NextMemoryWord();
}
uint16_t StreamWordByWord() {
  return NextStreamWord();
}

struct Outcome {
  std::vector<uint16_t> expansion;
  std::vector<uint16_t> frame;
  size_t memoryPosition;
  int32_t streamPosition, streamWordCount;
  int64_t streamRemaining;
  int reads;
};

// xorshift32, so a failing case can be replayed.
struct Random {
  uint32_t state;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
};

// Tokens of every kind in a random order, with the marker words placed where
// the decoder meets them: literals, often in long stretches (some carrying
// the marker, sent twice), and one run of 2..128 in `runEvery` tokens;
// optionally closed by an end token and trailing words.
Words TokenSoup(uint32_t seed, size_t tokens, uint32_t runEvery, bool endToken) {
  Random random{seed};
  Words words;
  for (uint32_t k = 0; k < tokens; ++k) {
    const auto value = static_cast<uint16_t>(random.Next());
    const uint32_t kind = random.Next();
    if (kind % runEvery == 0) {  // low bits 0..0x7E, a value other than the first word
      const auto w = static_cast<uint16_t>(Marker(k) | (value % 0x7F));
      words.insert(words.end(), {w, static_cast<uint16_t>(w ^ 1)});
    } else if (kind % 8 == 1) {  // a literal carrying its marker
      const auto w = static_cast<uint16_t>(Marker(k) | (value & 0x7F));
      words.insert(words.end(), {w, w});
    } else {
      words.push_back(value);
      if ((value & 0xFF80) == Marker(k)) words.push_back(value);
    }
  }
  if (endToken) {
    words.push_back(static_cast<uint16_t>(Marker(static_cast<uint32_t>(tokens)) | 0x7F));
    for (int i = 0; i < 40; ++i) words.push_back(static_cast<uint16_t>(random.Next()));
  }
  return words;
}

// Every value literal and none carrying its marker: the block copy's home ground.
Words Literals(size_t count, uint16_t first) {
  Words words;
  for (uint32_t k = 0; words.size() < count; ++k) {
    auto w = static_cast<uint16_t>(first + k * 7);
    if ((w & 0xFF80) == Marker(k)) w ^= 0x0100;
    words.push_back(w);
  }
  return words;
}

class DecoderWordSources : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    StartLink();
  }

  static void FillStale() {
    std::fill_n(ExpansionBuffer, kExpansionWords, kStale);
    std::fill_n(FrameBuffer, kDisplayPixels, kStale);
  }

  Outcome Capture() {
    return {{ExpansionBuffer, ExpansionBuffer + kExpansionWords},
            {FrameBuffer, FrameBuffer + kDisplayPixels},
            theChannel.memoryPosition,
            theChannel.streamPosition,
            theChannel.streamWordCount,
            theChannel.streamRemaining,
            driver.CountOf("Read")};
  }

  Outcome FromMemory(const Bytes& bulk, int32_t count, WordSource source) {
    FillStale();
    std::fill_n(theChannel.BulkBuffer, kBulkCapacity, uint8_t{0xA5});
    std::copy_n(bulk.begin(), std::min(bulk.size(), kBulkCapacity), theChannel.BulkBuffer);
    theChannel.memoryPosition = 0;
    NextBulkWord = source;
    DecodeDisplayFrame(count);
    return Capture();
  }

  // The device sends `sent` while `announced` bytes were announced; every
  // refill is cut to `refillCut` bytes when that is not 0.
  Outcome Streamed(const Bytes& sent, int64_t announced, uint32_t refillCut, int32_t count,
                   WordSource source) {
    FillStale();
    driver.ForgetHistory();
    driver.QueueDeviceBytes(sent);
    if (refillCut != 0) {
      for (int n = 1; n <= static_cast<int>(sent.size() / refillCut) + 2; ++n) {
        driver.ShortCall("Read", refillCut, n);
      }
    }
    theChannel.streamRemaining = announced;
    theChannel.streamPosition = 0;
    theChannel.streamWordCount = 0;
    NextBulkWord = source;
    DecodeDisplayFrame(count);
    Outcome outcome = Capture();
    // Bytes the decoder left on the link are not the next case's.
    uint8_t sink[512];
    while (driver.QueuedDeviceBytes() > 0 && theUsbDevice.Read(sink, sizeof sink) > 0) {
    }
    return outcome;
  }
};

void ExpectSame(const Outcome& direct, const Outcome& byWord) {
  EXPECT_TRUE(direct.expansion == byWord.expansion) << "ExpansionBuffer differs";
  EXPECT_TRUE(direct.frame == byWord.frame) << "FrameBuffer differs";
  EXPECT_EQ(direct.memoryPosition, byWord.memoryPosition);
  EXPECT_EQ(direct.streamPosition, byWord.streamPosition);
  EXPECT_EQ(direct.streamWordCount, byWord.streamWordCount);
  EXPECT_EQ(direct.streamRemaining, byWord.streamRemaining);
  EXPECT_EQ(direct.reads, byWord.reads);
}

struct SourceCase {
  std::string name;
  Words words;
  int32_t extraCount;  // words counted beyond the stream (negative: fewer)
};

std::vector<SourceCase> Cases() {
  const uint16_t lastMarker = Marker(3);
  return {
      {"TokenSoup", TokenSoup(1, 20000, 20, false), 0},
      {"TokenSoupEndToken", TokenSoup(2, 3000, 20, true), 0},
      {"TokenSoupCountCutsIt", TokenSoup(3, 5000, 20, false), -777},
      {"LongLiteralStretches", Literals(81600, 0x1000), 0},
      // The last counted word is a marker: the decoder reads one word more.
      {"MarkerAsLastCountedWord", {0x1111, 0x2222, 0x3333, lastMarker, 0x4444}, -1},
      // More runs than the ExpansionBuffer holds.
      {"FillsTheExpansionBuffer", TokenSoup(4, 9000, 2, false), 0},
  };
}

class DecoderWordSourceCases : public DecoderWordSources,
                               public ::testing::WithParamInterface<SourceCase> {};

TEST_P(DecoderWordSourceCases, FromMemoryAsWordByWord) {
  const SourceCase& c = GetParam();
  const Bytes bulk = StreamBytes(c.words);
  const auto count = static_cast<int32_t>(c.words.size()) + c.extraCount;
  const Outcome direct = FromMemory(bulk, count, NextMemoryWord);
  const Outcome byWord = FromMemory(bulk, count, MemoryWordByWord);
  ExpectSame(direct, byWord);
}

TEST_P(DecoderWordSourceCases, StreamedAsWordByWord) {
  const SourceCase& c = GetParam();
  const Bytes bulk = StreamBytes(c.words);
  const auto count = static_cast<int32_t>(c.words.size()) + c.extraCount;
  const auto announced = static_cast<int64_t>(bulk.size());
  // Whole 512-byte refills, and odd short ones that drop a byte each.
  for (uint32_t cut : {0u, 301u}) {
    SCOPED_TRACE("refills cut to " + std::to_string(cut));
    const Outcome direct = Streamed(bulk, announced, cut, count, NextStreamWord);
    const Outcome byWord = Streamed(bulk, announced, cut, count, StreamWordByWord);
    ExpectSame(direct, byWord);
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, DecoderWordSourceCases, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(DecoderWordSources, CountPastTheBulkBufferReadsNothingBeyondIt) {
  // A BulkBuffer full of literals and a count that runs 100 words past it.
  const Bytes bulk = StreamBytes(Literals(kBulkWords, 0x0400));
  const auto count = static_cast<int32_t>(kBulkWords + 100);
  const Outcome direct = FromMemory(bulk, count, NextMemoryWord);
  const Outcome byWord = FromMemory(bulk, count, MemoryWordByWord);
  ExpectSame(direct, byWord);
  EXPECT_EQ(direct.memoryPosition, kBulkCapacity);
  EXPECT_EQ(direct.expansion[kBulkWords], 0x0000);  // the reader's zero past the end
}

TEST_F(DecoderWordSources, StreamCutShortYieldsZerosAsWordByWord) {
  // 3000 words announced, 1001 bytes sent: the source runs dry mid-stream.
  const Words words = Literals(3000, 0x2000);
  const Bytes all = StreamBytes(words);
  const Bytes sent(all.begin(), all.begin() + 1001);
  const Outcome direct = Streamed(sent, static_cast<int64_t>(all.size()), 0, 3000, NextStreamWord);
  const Outcome byWord =
      Streamed(sent, static_cast<int64_t>(all.size()), 0, 3000, StreamWordByWord);
  ExpectSame(direct, byWord);
  EXPECT_EQ(direct.streamPosition, kStreamExhausted);
  EXPECT_EQ(direct.expansion[500], 0x0000);  // first word after the 500 that arrived
}

}  // namespace
