#include "services/display_frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "link/usb_device.h"
#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"
#include "tests/services/service_fixture.h"
#include "tests/services/stream_encoder.h"

namespace {

constexpr uint8_t kDisplay = 0xD1;  // command 209
constexpr uint16_t kUntouched = 0x1234;
constexpr uint16_t kUnwritten = 0xEEEE;

// Only pixel 0 changes, to 0xF800: 78 words.
Words WorkedExample() {
  Words words = {0x8000};  // token 0: the literal first mask
  for (uint32_t k = 1; k <= 37; ++k) {
    words.push_back(Marker(k) | 0x7E);  // a run of 128 zero masks
    words.push_back(0x0000);
  }
  words.push_back(0x20BD);  // token 38: a run of 63 zero masks
  words.push_back(0x0000);
  words.push_back(0xF800);  // token 39: pixel 0's value
  return words;
}

void FillFrame(uint16_t value) {
  std::fill_n(FrameBuffer, kDisplayPixels, value);
}

int CountPixels(uint16_t value) {
  return static_cast<int>(std::count(FrameBuffer, FrameBuffer + kDisplayPixels, value));
}

void Decode(const Words& words, int32_t count) {
  ServeWords(words);
  NextBulkWord = ServedWord;
  DecodeDisplayFrame(count);
}

Bytes DisplayInfo(uint8_t length) {
  return Param(kParamDisplayInfo, Bytes(length, 0x5A));
}

// --- the decoder, fed word by word ---------------------------------------

TEST(DisplayDecoder, WorkedExampleChangesExactlyPixelZero) {
  const Words words = WorkedExample();
  ASSERT_EQ(words.size(), 78u);
  const Bytes bytes = StreamBytes(words);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 6), (Bytes{0x00, 0x80, 0x7E, 0x9C, 0x00, 0x00}));
  ResetDisplayState();
  FillFrame(kUntouched);

  Decode(words, 78);

  EXPECT_EQ(FrameBuffer[0], 0xF800);
  EXPECT_EQ(CountPixels(kUntouched), kDisplayPixels - 1);
  EXPECT_EQ(WordsAsked(), 78u);
}

struct TokenCase {
  std::string name;
  Words words;
  int32_t count;
  Words expanded;  // what stage 1 writes from word 0
  size_t wordsAsked;
};

Words Repeat(uint16_t value, size_t n) {
  return Words(n, value);
}
Words Join(Words a, const Words& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class DisplayTokens : public ::testing::TestWithParam<TokenCase> {};

TEST_P(DisplayTokens, ExpandAsTheDeviceMeantThem) {
  const TokenCase& c = GetParam();
  ResetDisplayState();
  std::fill_n(ExpansionBuffer, kExpansionWords, kUnwritten);

  Decode(c.words, c.count);

  for (size_t i = 0; i < c.expanded.size(); ++i) {
    ASSERT_EQ(ExpansionBuffer[i], c.expanded[i]) << "word " << i;
  }
  EXPECT_EQ(ExpansionBuffer[c.expanded.size()], kUnwritten);
  EXPECT_EQ(WordsAsked(), c.wordsAsked);
}

INSTANTIATE_TEST_SUITE_P(
    Stream, DisplayTokens,
    ::testing::Values(
        // 0x9185 carries token 0's marker: sent twice, it is one literal.
        TokenCase{"LiteralCarryingMarker", {0x9185, 0x9185}, 2, {0x9185}, 2},
        // The same two words with one counted word left: a run of 5 + 2.
        TokenCase{"DoubledWordAsLastCountedIsRun", {0x9185, 0x9185}, 1, Repeat(0x9185, 7), 2},
        TokenCase{"RunOfTwo", {0x9180, 0xABCD}, 2, Repeat(0xABCD, 2), 2},
        TokenCase{"RunOf128", {0x91FE, 0x0042}, 2, Repeat(0x0042, 128), 2},
        // Token 1's end token: the word after it is never read.
        TokenCase{"EndTokenStops", {0x0001, 0x9C7F, 0x0000, 0x0005}, 4, {0x0001}, 3},
        // After a two-word token the marker is M(1), so M(2) is a plain
        // literal there, and only token 2 takes M(2) as a run.
        TokenCase{"MarkerAdvancesPerToken",
                  {0x9180, 0x7777, 0xA680, 0xA681, 0x0003},
                  5,
                  {0x7777, 0x7777, 0xA680, 0x0003, 0x0003, 0x0003},
                  5},
        // Token 425's marker is 0x0000: a zero literal there is sent twice.
        TokenCase{"Token425ZeroLiteral", Join(Repeat(0x0001, 425), {0x0000, 0x0000, 0x0002}), 428,
                  Join(Repeat(0x0001, 425), {0x0000, 0x0002}), 428},
        TokenCase{"NegativeCountReadsNothing", {0x0001}, -4, {}, 0}),
    [](const auto& info) { return info.param.name; });

TEST(DisplayDecoder, MasksPlaceValuesInPixelOrder) {
  ResetDisplayState();
  FillFrame(kUntouched);
  Words expanded(kMaskCount, 0);
  expanded[0] = 0xFFFF;  // pixels 0..15, 16 values
  expanded[1] = 0x0001;  // only pixel 31, the stretch's 16th
  for (uint16_t v = 0; v < 17; ++v) expanded.push_back(0x0100 + v);
  const Words words = EncodeStream(expanded);

  Decode(words, static_cast<int32_t>(words.size()));

  for (int i = 0; i < 16; ++i) EXPECT_EQ(FrameBuffer[i], 0x0100 + i) << i;
  EXPECT_EQ(FrameBuffer[31], 0x0110);
  EXPECT_EQ(CountPixels(kUntouched), kDisplayPixels - 17);
}

TEST(DisplayDecoder, EveryMaskFullReplacesEveryPixel) {
  ResetDisplayState();
  static uint16_t before[kDisplayPixels];
  static uint16_t after[kDisplayPixels];
  std::fill_n(before, kDisplayPixels, kUntouched);
  for (int i = 0; i < kDisplayPixels; ++i) after[i] = static_cast<uint16_t>(i * 2654435761u >> 7);
  for (int i = 0; i < kDisplayPixels; ++i) {
    if (after[i] == before[i]) after[i] ^= 1;  // every pixel changes
  }
  const Words expanded = ExpandChanges(before, after);
  ASSERT_EQ(expanded.size(), 81600u);
  FillFrame(kUntouched);

  const Words words = EncodeStream(expanded, true);
  Decode(words, static_cast<int32_t>(words.size()));

  EXPECT_TRUE(std::equal(after, after + kDisplayPixels, FrameBuffer));
}

TEST(DisplayDecoder, ShortStreamTakesMissingValuesFromEarlierFrame) {
  ResetDisplayState();
  Words first(kMaskCount, 0);
  first[0] = 0xFFFF;
  for (uint16_t v = 0; v < 16; ++v) first.push_back(0xA000 + v);
  Words firstWords = EncodeStream(first);
  Decode(firstWords, static_cast<int32_t>(firstWords.size()));

  // The same mask again, but the stream ends after 8 new values.
  Words second(kMaskCount, 0);
  second[0] = 0xFFFF;
  for (uint16_t v = 0; v < 8; ++v) second.push_back(0xB000 + v);
  Words secondWords = EncodeStream(second);
  Decode(secondWords, static_cast<int32_t>(secondWords.size()));

  for (int i = 0; i < 8; ++i) EXPECT_EQ(FrameBuffer[i], 0xB000 + i);
  for (int i = 8; i < 16; ++i) EXPECT_EQ(FrameBuffer[i], 0xA000 + i);
}

TEST(DisplayDecoder, StopsWhenExpansionBufferIsFull) {
  ResetDisplayState();
  // 1300 runs of 128 would expand to 166400 words, past the buffer's 163202.
  Words words;
  for (uint32_t k = 0; k < 1300; ++k) {
    words.push_back(Marker(k) | 0x7E);
    words.push_back(0x0000);
  }
  ExpansionBuffer[kExpansionWords - 1] = kUnwritten;

  Decode(words, static_cast<int32_t>(words.size()));

  EXPECT_EQ(ExpansionBuffer[kExpansionWords - 1], 0x0000);  // the last run was cut to fit
  EXPECT_EQ(WordsAsked(), 2u * 1276);                       // 1276 runs filled it; no more read
}

// --- the display frame exchange -------------------------------------------

class DisplayFrameExchange : public ServiceTest {
 protected:
  // The answer announcing the worked example, bulk in segments or streamed.
  Bytes FrameAnswer(uint8_t counter, uint8_t bulkMode, const Bytes& info = DisplayInfo(12)) {
    return Concat(
        Answer(kDisplay, counter, 0, Concat(Concat(info, BulkLengthParam(156)), Param(bulkMode))),
        StreamBytes(WorkedExample()));
  }
};

struct FrameRequestCase {
  std::string name;
  bool full;
  uint8_t bulkMode;
  Bytes frame;
};

class DisplayFrameRequest : public DisplayFrameExchange,
                            public ::testing::WithParamInterface<FrameRequestCase> {};

TEST_P(DisplayFrameRequest, AsksAndDecodesIntoFrameBuffer) {
  const FrameRequestCase& c = GetParam();
  FillFrame(kUntouched);
  Exchange(c.frame, FrameAnswer(1, c.bulkMode));

  EXPECT_EQ(VK3cmd_GetDisplayFrame(c.full), kResultOk);

  EXPECT_EQ(FrameBuffer[0], 0xF800);
  EXPECT_EQ(CountPixels(kUntouched), kDisplayPixels - 1);
  EXPECT_EQ(NextBulkWord, c.bulkMode == kParamBulkSegments ? NextMemoryWord : NextStreamWord);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DisplayFrameRequest,
    ::testing::Values(
        // 209, counter, parameter 1 (whole display), parameter 2, terminator
        FrameRequestCase{"FullInMemory", true, kParamBulkSegments, {0xD1, 0x01, 0x01, 0x02, 0xFF}},
        FrameRequestCase{"FullStreamed", true, kParamBulkStream, {0xD1, 0x01, 0x01, 0x02, 0xFF}},
        // only parameter 2: the changes
        FrameRequestCase{"DeltaInMemory", false, kParamBulkSegments, {0xD1, 0x01, 0x02, 0xFF}},
        FrameRequestCase{"DeltaStreamed", false, kParamBulkStream, {0xD1, 0x01, 0x02, 0xFF}}),
    [](const auto& info) { return info.param.name; });

TEST_F(DisplayFrameExchange, BulkLengthZeroOrOneRepeatsThePreviousChanges) {
  for (int32_t length : {0, 1}) {
    SCOPED_TRACE(length);
    ResetDisplayState();
    Decode(WorkedExample(), 78);  // the previous frame set pixel 0
    FrameBuffer[0] = kUntouched;
    const uint8_t counter = theChannel.FrameCounter;
    Exchange({kDisplay, counter, 0x02, 0xFF},
             Concat(Answer(kDisplay, counter, 0,
                           Concat(BulkLengthParam(length), Param(kParamBulkSegments))),
                    Bytes(static_cast<size_t>(length), 0x77)));

    EXPECT_EQ(VK3cmd_GetDisplayFrame(false), kResultOk);

    EXPECT_EQ(FrameBuffer[0], 0xF800);  // the same change with the same value again
    EXPECT_EQ(CountPixels(0), kDisplayPixels - 1);
  }
}

TEST_F(DisplayFrameExchange, DisplayInfoParameterLengthIsChecked) {
  struct Case {
    const char* name;
    Bytes info;
    ResultCode expected;
  };
  const Case cases[] = {
      {"length 12", DisplayInfo(12), kResultOk},
      {"length 11", DisplayInfo(11), kResultBadParameterLength},
      {"length 13", DisplayInfo(13), kResultBadParameterLength},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FillFrame(kUntouched);
    const uint8_t counter = theChannel.FrameCounter;
    Exchange({kDisplay, counter, 0x02, 0xFF}, FrameAnswer(counter, kParamBulkSegments, c.info));

    EXPECT_EQ(VK3cmd_GetDisplayFrame(false), c.expected);

    EXPECT_EQ(FrameBuffer[0], c.expected == kResultOk ? 0xF800 : kUntouched);
  }
}

TEST_F(DisplayFrameExchange, DisplayInfoRunningPastTheAnswerIsBadLength) {
  FillFrame(kUntouched);
  // 252 and 253 end the walk; behind them (and one passed-over parameter 9)
  // parameter 3 claims 12 bytes of which the answer holds only 3.
  Bytes params = Concat(BulkLengthParam(156), Param(kParamBulkSegments));
  params = Concat(params, Param(9));
  params = Concat(params, {kParamDisplayInfo, 12, 0x01, 0x02, 0x03});
  Exchange({kDisplay, 0x01, 0x02, 0xFF},
           Concat(Answer(kDisplay, 0x01, 0, params), StreamBytes(WorkedExample())));

  EXPECT_EQ(VK3cmd_GetDisplayFrame(false), kResultBadParameterLength);

  EXPECT_EQ(CountPixels(kUntouched), kDisplayPixels);
}

// A stream of every kind of token, densely: plain literals, literals that
// carry their token's marker (sent twice), runs of 2..128 and, sometimes, an
// end token somewhere; cut at a random count.
struct RandomStream {
  Words words;
  int32_t count;
};

RandomStream MakeRandomStream(uint32_t seed) {
  uint32_t state = seed * 2654435761u + 1;
  auto next = [&state](uint32_t n) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % n;
  };
  RandomStream s;
  const uint32_t tokens = 200 + next(3000);
  const bool withEnd = next(4) == 0;
  const uint32_t endAt = next(tokens);
  const uint32_t literalShare = next(10);  // some streams are nearly all literals
  for (uint32_t k = 0; k < tokens; ++k) {
    const uint16_t m = Marker(k);
    if (withEnd && k == endAt) {
      s.words.push_back(m | 0x7F);
      s.words.push_back(static_cast<uint16_t>(next(0x10000)));
      continue;
    }
    const uint32_t kind = next(10);
    if (kind <= literalShare) {
      uint16_t w = static_cast<uint16_t>(next(0x10000));
      if ((w & 0xFF80) == m) w ^= 0x0100;
      s.words.push_back(w);
    } else if (kind % 2 == 0) {
      const uint16_t w = m | static_cast<uint16_t>(next(0x7F));
      s.words.push_back(w);  // a literal carrying the marker
      s.words.push_back(w);
    } else {
      s.words.push_back(m | static_cast<uint16_t>(next(0x7F)));  // a run
      s.words.push_back(static_cast<uint16_t>(next(0x10000)));
    }
  }
  const int32_t size = static_cast<int32_t>(s.words.size());
  s.count = next(3) == 0 ? size - static_cast<int32_t>(next(40)) : size;
  return s;
}

// 1275 runs of 128 leave room for 2 words; then literals.
RandomStream NearlyFullStream() {
  RandomStream s;
  uint32_t k = 0;
  for (; k < 1275; ++k) {
    s.words.push_back(Marker(k) | 0x7E);
    s.words.push_back(static_cast<uint16_t>(k));
  }
  for (; k < 1275 + 40; ++k) s.words.push_back(static_cast<uint16_t>(Marker(k) ^ 0x4000));
  s.count = static_cast<int32_t>(s.words.size());
  return s;
}

struct DecodeResult {
  std::vector<uint16_t> expansion;
  std::vector<uint16_t> frame;
};

DecodeResult DecodeFrom(WordSource source, const RandomStream& s) {
  for (int i = 0; i < kExpansionWords; ++i) ExpansionBuffer[i] = static_cast<uint16_t>(i * 31);
  for (int i = 0; i < kDisplayPixels; ++i) FrameBuffer[i] = static_cast<uint16_t>(i * 7);
  NextBulkWord = source;
  DecodeDisplayFrame(s.count);
  return {Words(ExpansionBuffer, ExpansionBuffer + kExpansionWords),
          Words(FrameBuffer, FrameBuffer + kDisplayPixels)};
}

// Word by word, from the BulkBuffer and from the link: the same expansion,
// the same pixels, and the reader left just after the last word used.
TEST_F(DisplayFrameExchange, EveryWordSourceDecodesAlike) {
  std::vector<RandomStream> streams = {NearlyFullStream()};
  for (uint32_t seed = 0; seed < 60; ++seed) streams.push_back(MakeRandomStream(seed));
  for (size_t t = 0; t < streams.size(); ++t) {
    SCOPED_TRACE(t);
    const RandomStream& s = streams[t];
    const Bytes bytes = StreamBytes(s.words);
    ASSERT_LE(bytes.size(), kBulkCapacity);

    ServeWords(s.words);
    const DecodeResult reference = DecodeFrom(ServedWord, s);
    const size_t used = WordsAsked();

    std::fill_n(theChannel.BulkBuffer, kBulkCapacity, uint8_t{0});
    std::copy(bytes.begin(), bytes.end(), theChannel.BulkBuffer);
    theChannel.memoryPosition = 0;
    const DecodeResult memory = DecodeFrom(NextMemoryWord, s);
    EXPECT_TRUE(memory.expansion == reference.expansion);
    EXPECT_TRUE(memory.frame == reference.frame);
    EXPECT_EQ(theChannel.memoryPosition, 2 * used);

    driver.QueueDeviceBytes(bytes);
    theChannel.streamRemaining = static_cast<int64_t>(bytes.size());
    theChannel.streamPosition = 0;
    theChannel.streamWordCount = 0;
    const DecodeResult streamed = DecodeFrom(NextStreamWord, s);
    EXPECT_TRUE(streamed.expansion == reference.expansion);
    EXPECT_TRUE(streamed.frame == reference.frame);
    if (theChannel.streamPosition != kStreamExhausted) {
      const size_t pulled = (bytes.size() - driver.QueuedDeviceBytes()) / 2;
      EXPECT_EQ(
          pulled - static_cast<size_t>(theChannel.streamWordCount - theChannel.streamPosition),
          used);
    }
    // What the decoder left on the link is drained before the next command.
    Bytes rest(driver.QueuedDeviceBytes());
    if (!rest.empty()) theUsbDevice.Read(rest.data(), static_cast<int32_t>(rest.size()));
  }
}

// 40 wholly changed stretches, then their 640 values: a stream of several
// 512-byte refills.
Words SeveralRefillsOfStream() {
  Words expanded(kMaskCount, 0);
  std::fill_n(expanded.begin(), 40, uint16_t{0xFFFF});
  for (uint16_t v = 0; v < 640; ++v) expanded.push_back(static_cast<uint16_t>(0x4000 + v * 3));
  return EncodeStream(expanded);
}

// The link breaks off a streamed frame: a refill times out or fails. Nothing
// of it is painted, and the link's record says why.
TEST_F(DisplayFrameExchange, StreamBrokenOffByTheLinkFailsAndPaintsNothing) {
  const Bytes stream = StreamBytes(SeveralRefillsOfStream());
  ASSERT_GT(stream.size(), 2 * kStreamStageSize);
  struct Case {
    const char* name;
    int sent;      // stream bytes the device sends; -1: all of them
    bool failing;  // the second refill fails in the driver
    const char* record;
  };
  const Case cases[] = {
      {"device falls silent after 700 bytes", 700, false, "FT_Read timed out"},
      {"nothing after the answer", 0, false, "FT_Read timed out"},
      {"a refill fails in the driver", -1, true, "FT_Read failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FillFrame(kUntouched);
    std::fill_n(ExpansionBuffer, kExpansionWords, kUnwritten);
    const uint8_t counter = theChannel.FrameCounter;
    const auto announced = static_cast<int32_t>(stream.size());
    const size_t sent = c.sent < 0 ? stream.size() : static_cast<size_t>(c.sent);
    Exchange({kDisplay, counter, 0x02, 0xFF},
             Concat(Answer(kDisplay, counter, 0,
                           Concat(BulkLengthParam(announced), Param(kParamBulkStream))),
                    Bytes(stream.begin(), stream.begin() + static_cast<long>(sent))));
    if (c.failing) driver.FailCall("Read", kFtIoError, 5);  // header, parameters, 2 refills

    EXPECT_EQ(VK3cmd_GetDisplayFrame(false), kResultLinkFailure);

    EXPECT_EQ(CountPixels(kUntouched), kDisplayPixels);
    EXPECT_THAT(theUsbDevice.errorText, ::testing::StartsWith(c.record));
    // The decoder stopped at the break instead of expanding zeros.
    EXPECT_EQ(ExpansionBuffer[kMaskCount + 640 - 1], kUnwritten);
    Bytes rest(driver.QueuedDeviceBytes());
    if (!rest.empty()) theUsbDevice.Read(rest.data(), static_cast<int32_t>(rest.size()));
  }
}

// What a padded or unpadded streamed frame leaves on the link: nothing of the
// announced bytes, never a timeout, and every byte after them. The refills
// may come back short, as reads through USB do, so the decoder meets the end
// token before the padding has been read.
TEST_F(DisplayFrameExchange, StreamPaddingIsDroppedAndWhatFollowsIsKept) {
  Words words = WorkedExample();
  words.insert(words.end(), {static_cast<uint16_t>(Marker(40) | 0x7F), 0x0000});  // end token
  const Bytes stream = StreamBytes(words);                                        // 160 bytes
  struct Case {
    const char* name;
    size_t padTo;        // 0: not padded
    uint32_t refillCut;  // 0: refills come whole
  };
  const Case cases[] = {
      {"padded, whole refills", kStreamStageSize, 0},
      {"padded, short refills", kStreamStageSize, 64},
      {"padded, refills of 200", kStreamStageSize, 200},
      {"unpadded, short refills", 0, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FillFrame(kUntouched);
    Bytes sent = stream;
    if (c.padTo != 0) sent.resize((sent.size() + c.padTo - 1) / c.padTo * c.padTo, 0x00);
    const uint8_t counter = theChannel.FrameCounter;
    const Bytes after = Notification(0x51);
    Exchange({kDisplay, counter, 0x02, 0xFF},
             Concat(Concat(Answer(kDisplay, counter, 0,
                                  Concat(BulkLengthParam(static_cast<int32_t>(sent.size())),
                                         Param(kParamBulkStream))),
                           sent),
                    after));
    // Reads 1 to 3 are the answer's header and parameters.
    for (int n = 4; c.refillCut != 0 && n < 24; ++n) driver.ShortCall("Read", c.refillCut, n);
    theUsbDevice.errorText[0] = '\0';

    EXPECT_EQ(VK3cmd_GetDisplayFrame(false), kResultOk);

    EXPECT_EQ(FrameBuffer[0], 0xF800);
    EXPECT_EQ(CountPixels(kUntouched), kDisplayPixels - 1);
    EXPECT_EQ(theChannel.streamRemaining, 0);
    EXPECT_STREQ(theUsbDevice.errorText, "");  // no read ran into its timeout
    Bytes left(driver.QueuedDeviceBytes());    // the notification, whole
    if (!left.empty()) theUsbDevice.Read(left.data(), static_cast<int32_t>(left.size()));
    EXPECT_EQ(left, after);
  }
}

// More left of the announcement than padding can be is not read: a device
// that announces far more than it sends costs no wait after its end token.
TEST_F(DisplayFrameExchange, AnnouncementFarPastTheEndTokenIsNotReadOn) {
  Words words = WorkedExample();
  words.insert(words.end(), {static_cast<uint16_t>(Marker(40) | 0x7F), 0x0000});
  FillFrame(kUntouched);
  Exchange({kDisplay, 0x01, 0x02, 0xFF},
           Concat(Answer(kDisplay, 0x01, 0,
                         Concat(BulkLengthParam(0x7FFFFFFF), Param(kParamBulkStream))),
                  StreamBytes(words)));
  driver.ForgetHistory();

  EXPECT_EQ(VK3cmd_GetDisplayFrame(false), kResultOk);

  EXPECT_EQ(FrameBuffer[0], 0xF800);
  EXPECT_EQ(driver.CountOf("Read"), 4);  // header, parameters, one refill
}

struct FailureCase {
  std::string name;
  Bytes reply;
  ResultCode expected;
};

class DisplayFrameFailure : public DisplayFrameExchange,
                            public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DisplayFrameFailure, PassesThroughAndDecodesNothing) {
  FillFrame(kUntouched);
  Exchange({kDisplay, 0x01, 0x02, 0xFF}, GetParam().reply);

  EXPECT_EQ(VK3cmd_GetDisplayFrame(false), GetParam().expected);

  EXPECT_EQ(CountPixels(kUntouched), kDisplayPixels);
}

INSTANTIATE_TEST_SUITE_P(
    Results, DisplayFrameFailure,
    ::testing::Values(FailureCase{"DeviceBusy", Notification(0xAA), kResultDeviceBusy},
                      FailureCase{"SystemChange", Notification(0x01), kResultSystemChange},
                      FailureCase{"UnknownParameter", Answer(kDisplay, 0x01, 18),
                                  kResultUnknownParameter},
                      FailureCase{"NoAnswer", {}, kResultLinkFailure}),
    [](const auto& info) { return info.param.name; });

}  // namespace
