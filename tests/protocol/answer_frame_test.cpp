// Answer frames: what the device answers to command 209 with counter 8, and what
// the host makes of it: classification, notifications, the parameter walk,
// bulk data in segments or left on the link, and the word readers.
#include "protocol/answer_frame.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "link/usb_device.h"
#include "protocol/command_channel.h"
#include "protocol/command_frame.h"
#include "tests/support/core_fixture.h"

namespace {

constexpr uint8_t kCmd = 209;
constexpr uint8_t kCounter = 8;

class AnswerTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    ASSERT_EQ(theUsbDevice.Open(), 0);
    theChannel.FrameCounter = kCounter;
    ASSERT_EQ(VK3cmd_Begin(kCmd), kFrameOk);  // the command just sent
    driver.ForgetHistory();
  }
  // Sizes of the link reads, in order.
  std::vector<uint64_t> Reads() const {
    std::vector<uint64_t> sizes;
    for (const FakeCall& c : driver.CallsOf("Read")) sizes.push_back(c.args[0]);
    return sizes;
  }
  Bytes BulkStart(size_t n) const {
    return Bytes(theChannel.BulkBuffer, theChannel.BulkBuffer + n);
  }
  // Puts answer bytes straight into the answer frame, for the parameter lookup.
  void HoldAnswer(const Bytes& answer) {
    std::copy(answer.begin(), answer.end(), theChannel.answerFrame.bytes);
  }
};

// ---- classification -------------------------------------------------------

struct Classified {
  const char* what;
  Bytes answer;
  ResultCode expected;
};

TEST_F(AnswerTest, EveryAnswerIsClassified) {
  const std::vector<Classified> cases = {
      {"success", Answer(kCmd, kCounter, 0), kResultOk},
      {"success with a length below 5", {kCmd, kCounter, 0, 3, 0}, kResultOk},
      {"success with length 1", {kCmd, kCounter, 0, 1, 0}, kResultOk},
      {"another command's answer", Answer(248, kCounter, 0), kResultWrongAnswerId},
      {"another command's answer beats its type", Answer(248, kCounter, 16), kResultWrongAnswerId},
      {"counter 240 with type 0", Answer(kCmd, 240, 0), kResultInvalidCommand},
      {"counter 240 with type 17", Answer(kCmd, 240, 17), kResultInvalidCommand},
      {"an older counter", Answer(kCmd, 7, 0), kResultWrongCounter},
      {"type 16: unknown command", Answer(kCmd, kCounter, 16), kResultInvalidCommand},
      {"type 17: counter mismatch", Answer(kCmd, kCounter, 17), kResultDeviceCounterMismatch},
      {"type 18: unknown parameter", Answer(kCmd, kCounter, 18), kResultUnknownParameter},
      {"type 19: too many parameters", Answer(kCmd, kCounter, 19), kResultTooManyParameters},
      {"type 20: too many bytes", Answer(kCmd, kCounter, 20), kResultTooManyBytesSent},
      {"type 32: cannot execute", Answer(kCmd, kCounter, 32), kResultCannotExecute},
      {"type 1", Answer(kCmd, kCounter, 1), kResultUnknownAnswerType},
      {"type 255", Answer(kCmd, kCounter, 255), kResultUnknownAnswerType},
      {"a type refusal with another counter", Answer(kCmd, 3, 18), kResultUnknownParameter},
      {"length 0", {kCmd, kCounter, 0, 0, 0}, kResultInvalidAnswer},
      {"length 529", {kCmd, kCounter, 0, 0x11, 0x02}, kResultInvalidAnswer},
      {"length 0xFFFF", {kCmd, kCounter, 0, 0xFF, 0xFF}, kResultInvalidAnswer},
      {"nothing at all", {}, kResultLinkFailure},
      {"only the first byte", {kCmd}, kResultLinkFailure},
      {"three header bytes of four", {kCmd, kCounter, 0, 10}, kResultAnswerTooShort},
      {"no parameter bytes", {kCmd, kCounter, 0, 10, 0}, kResultLinkFailure},
      {"3 of 5 parameter bytes", {kCmd, kCounter, 0, 10, 0, 1, 1, 0}, kResultAnswerTooShort},
  };
  for (const Classified& c : cases) {
    SCOPED_TRACE(c.what);
    driver.QueueDeviceBytes(c.answer);
    EXPECT_EQ(VK3cmd_ReadAnswer(), c.expected);
    EXPECT_EQ(driver.QueuedDeviceBytes(), 0u);
  }
}

TEST_F(AnswerTest, HeaderIsReadAsOneByteThenFourThenTheParameters) {
  driver.QueueDeviceBytes(Answer(kCmd, kCounter, 0, Param(3, {1, 2, 3})));
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  EXPECT_EQ(Reads(), (std::vector<uint64_t>{1, 4, 5}));
}

TEST_F(AnswerTest, ABadLengthLeavesTheRestOfTheAnswerOnTheLink) {
  driver.QueueDeviceBytes({kCmd, kCounter, 0, 0x11, 0x02, 0xAA, 0xBB});  // L = 529
  EXPECT_EQ(VK3cmd_Receive(), kResultInvalidAnswer);
  EXPECT_EQ(Reads(), (std::vector<uint64_t>{1, 4}));
  EXPECT_EQ(driver.QueuedDeviceBytes(), 2u);
}

TEST_F(AnswerTest, AClosedLinkOrAFailingReadIsALinkFailure) {
  driver.QueueDeviceBytes(Answer(kCmd, kCounter, 0));
  driver.FailCall("Read", kFtIoError);
  EXPECT_EQ(VK3cmd_ReadAnswer(), kResultLinkFailure);

  theUsbDevice.Close();
  driver.ForgetHistory();
  EXPECT_EQ(VK3cmd_ReadAnswer(), kResultLinkFailure);
  EXPECT_TRUE(driver.calls.empty());
}

// ---- notifications --------------------------------------------------------

TEST_F(AnswerTest, NotificationsInPlaceOfTheAnswer) {
  struct Case {
    uint8_t code;
    ResultCode expected;
    uint32_t holdOffMs;
    bool linkOpenAfter;
  };
  const std::vector<Case> cases = {
      {0xB7, kResultDeviceBusy, 4000, true},
      {0xAA, kResultDeviceBusy, 4000, true},
      {0x01, kResultSystemChange, 500, true},
      {0x36, kResultPoweredOff, 500, false},  // last: it closes the link
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    theChannel.HoldOffMs = 0;
    // FB code x x x, then the real answer, which is not read now
    driver.QueueDeviceBytes(Cat({Notification(c.code), Answer(kCmd, kCounter, 0)}));
    EXPECT_EQ(VK3cmd_Receive(), c.expected);
    EXPECT_EQ(theChannel.HoldOffMs, c.holdOffMs);
    EXPECT_EQ(theUsbDevice.IsOpen(), c.linkOpenAfter);
    EXPECT_EQ(driver.QueuedDeviceBytes(), 5u);
    if (c.linkOpenAfter) {
      ASSERT_EQ(VK3cmd_ReadAnswer(), kResultOk);  // drain it for the next
    }
  }
}

// ---- the parameter walk ----------------------------------------------------

TEST_F(AnswerTest, ParameterWalkRefusesWhatOverrunsTheAnswer) {
  struct Case {
    const char* what;
    Bytes params;
    ResultCode expected;
  };
  const std::vector<Case> cases = {
      {"a parameter longer than the answer", {3, 10, 0xA, 0xB}, kResultInvalidAnswer},
      {"253 with a length byte", {kParamBulkSegments, 1, 0}, kResultInvalidAnswer},
      {"254 with a length byte", {kParamBulkStream, 1, 0}, kResultInvalidAnswer},
      {"an id as the last byte", {3, 1, 0xA, 7}, kResultOk},
      {"parameters filling the answer exactly", {3, 1, 0xA, 4, 0}, kResultOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    driver.QueueDeviceBytes(Answer(kCmd, kCounter, 0, c.params));
    EXPECT_EQ(VK3cmd_Receive(), c.expected);
  }
}

TEST_F(AnswerTest, AShortAnswerHasNoParameters) {
  driver.QueueDeviceBytes({kCmd, kCounter, 0, 5, 0});
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  EXPECT_EQ(VK3cmd_FindParam(kCmd), nullptr);
  EXPECT_EQ(VK3cmd_FindParam(0), nullptr);
}

// ---- bulk data in segments -------------------------------------------------

TEST_F(AnswerTest, BulkOfOneSegmentLandsAtTheStartOfTheBulkBuffer) {
  const Bytes bulk = Counting(1000, 3);
  // L = 13: header, 252 with A = 1000, 253; then the 1000 bytes; then a stranger
  driver.QueueDeviceBytes(
      Cat({Answer(kCmd, kCounter, 0, Cat({BulkLengthParam(1000), Param(kParamBulkSegments)})),
           bulk,
           {0x77}}));
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  EXPECT_EQ(Reads(), (std::vector<uint64_t>{1, 4, 8, 1000}));
  EXPECT_EQ(BulkStart(1000), bulk);
  EXPECT_EQ(theChannel.BulkLength, 1000);
  EXPECT_TRUE(theChannel.BulkInMemory);
  EXPECT_EQ(driver.QueuedDeviceBytes(), 1u);  // nothing read past the bulk
}

TEST_F(AnswerTest, BulkOfTwoSegmentsReadsTheSecondSegmentsOwnAnswer) {
  const Bytes bulk = Counting(100000, 1);
  const Bytes first =
      Answer(kCmd, kCounter, 0, Cat({BulkLengthParam(100000), Param(kParamBulkSegments)}));
  driver.QueueDeviceBytes(Cat({first, Bytes(bulk.begin(), bulk.begin() + 65522),
                               Answer(kCmd, kCounter, 0),  // bare header of segment 2
                               Bytes(bulk.begin() + 65522, bulk.end())}));
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  //                                      first answer  65535-13  second header  the rest
  EXPECT_EQ(Reads(), (std::vector<uint64_t>{1, 4, 8, 65522, 1, 4, 34478}));
  EXPECT_EQ(BulkStart(100000), bulk);
  EXPECT_EQ(theChannel.answerFrame.Length(), 5);  // the last segment's answer frame
  EXPECT_EQ(driver.QueuedDeviceBytes(), 0u);
}

TEST_F(AnswerTest, ASecondSegmentWithTheWrongCounterEndsTheTransfer) {
  const Bytes bulk = Counting(100000);
  driver.QueueDeviceBytes(
      Cat({Answer(kCmd, kCounter, 0, Cat({BulkLengthParam(100000), Param(kParamBulkSegments)})),
           Bytes(bulk.begin(), bulk.begin() + 65522), Answer(kCmd, kCounter + 1, 0)}));
  EXPECT_EQ(VK3cmd_Receive(), kResultWrongCounter);
}

TEST_F(AnswerTest, ASegmentThatArrivesShortIsTooFewBytes) {
  driver.QueueDeviceBytes(
      Cat({Answer(kCmd, kCounter, 0, Cat({BulkLengthParam(1000), Param(kParamBulkSegments)})),
           Counting(500)}));
  EXPECT_EQ(VK3cmd_Receive(), kResultTooFewBytesReceived);

  driver.QueueDeviceBytes(
      Answer(kCmd, kCounter, 0, Cat({BulkLengthParam(1000), Param(kParamBulkSegments)})));
  EXPECT_EQ(VK3cmd_Receive(), kResultTooFewBytesReceived);  // nothing at all
}

TEST_F(AnswerTest, SegmentsWithoutAnAnnouncementReadNothing) {
  driver.QueueDeviceBytes(Cat({Answer(kCmd, kCounter, 0, Param(kParamBulkSegments)), {1, 2, 3}}));
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  EXPECT_EQ(Reads(), (std::vector<uint64_t>{1, 4, 2}));
  EXPECT_EQ(driver.QueuedDeviceBytes(), 3u);
}

TEST_F(AnswerTest, AnAnnouncementOutsideTheBulkBufferIsRefused) {
  for (int32_t announced : {-1, INT_MIN, 165201, INT_MAX}) {
    SCOPED_TRACE(announced);
    theChannel.BulkBuffer[0] = 0xC3;
    driver.QueueDeviceBytes(Cat(
        {Answer(kCmd, kCounter, 0, Cat({BulkLengthParam(announced), Param(kParamBulkSegments)})),
         Bytes(64, 0xEE)}));
    EXPECT_EQ(VK3cmd_Receive(), kResultInvalidAnswer);
    EXPECT_EQ(Reads().size(), 3u);  // the answer only: nothing read into the BulkBuffer
    EXPECT_EQ(theChannel.BulkBuffer[0], 0xC3);
    EXPECT_EQ(driver.QueuedDeviceBytes(), 64u);  // left for the drain
    uint8_t sink[64];
    theUsbDevice.Read(sink, 64);
    driver.ForgetHistory();
  }
}

TEST_F(AnswerTest, AnAnnouncementThatFillsTheBulkBufferExactlyIsTaken) {
  const Bytes bulk = Counting(kBulkCapacity, 9);
  const Bytes announce = Cat({BulkLengthParam(kBulkCapacity), Param(kParamBulkSegments)});
  const size_t first = 65535 - 13, second = 65535 - 5;
  driver.QueueDeviceBytes(
      Cat({Answer(kCmd, kCounter, 0, announce), Bytes(bulk.begin(), bulk.begin() + first),
           Answer(kCmd, kCounter, 0), Bytes(bulk.begin() + first, bulk.begin() + first + second),
           Answer(kCmd, kCounter, 0), Bytes(bulk.begin() + first + second, bulk.end())}));
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  EXPECT_EQ(BulkStart(kBulkCapacity), bulk);
}

TEST_F(AnswerTest, AnEmptyAnnouncementReadsNoBulk) {
  driver.QueueDeviceBytes(Cat(
      {Answer(kCmd, kCounter, 0, Cat({BulkLengthParam(0), Param(kParamBulkSegments)})), {0x42}}));
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  EXPECT_EQ(driver.QueuedDeviceBytes(), 1u);
}

TEST_F(AnswerTest, AnnouncementValueBytesPastTheAnswerCountAsZero) {
  // an earlier, longer answer leaves 0xEE behind in the answer frame
  driver.QueueDeviceBytes(Answer(kCmd, kCounter, 0, Param(3, Bytes(20, 0xEE))));
  ASSERT_EQ(VK3cmd_Receive(), kResultOk);
  // 252 with length byte 1 as the last parameter: one value byte inside the answer
  driver.QueueDeviceBytes(Answer(kCmd, kCounter, 0, {kParamBulkLength, 1, 0x10}));
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  EXPECT_EQ(theChannel.BulkLength, 0x10);
}

TEST_F(AnswerTest, AnnouncementAtTheVeryEndOfAFullAnswerFrame) {
  // L = 528: fillers of 255, 255 and 5 data bytes, then 252 with length byte 0
  Bytes params =
      Cat({Param(3, Bytes(255, 0xEE)), Param(4, Bytes(255, 0xEE)), Param(5, Bytes(5, 0xEE))});
  params.insert(params.end(), {kParamBulkLength, 0});
  ASSERT_EQ(params.size(), 523u);
  driver.QueueDeviceBytes(Answer(kCmd, kCounter, 0, params));
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  EXPECT_EQ(theChannel.BulkLength, 0);  // all four value bytes lie past the answer
}

// ---- streamed bulk ----------------------------------------------------------

class StreamTest : public AnswerTest {
 protected:
  // An answer announcing `announced` streamed bytes, then `arriving` of them on the link.
  void ReceiveStream(int32_t announced, const Bytes& arriving, const Bytes& after = {}) {
    driver.QueueDeviceBytes(
        Cat({Answer(kCmd, kCounter, 0, Cat({BulkLengthParam(announced), Param(kParamBulkStream)})),
             arriving, after}));
    ASSERT_EQ(VK3cmd_Receive(), kResultOk);
    theChannel.streamPosition = 0;  // as the display service does before a decode
    theChannel.streamWordCount = 0;
    driver.ForgetHistory();
  }
};

TEST_F(StreamTest, StreamedBulkIsLeftOnTheLink) {
  ReceiveStream(600, Counting(600));
  EXPECT_FALSE(theChannel.BulkInMemory);
  EXPECT_EQ(theChannel.BulkLength, 600);
  EXPECT_EQ(theChannel.streamRemaining, 600);
  EXPECT_EQ(driver.QueuedDeviceBytes(), 600u);
}

TEST_F(StreamTest, ANegativeAnnouncementStreamsNothing) {
  ReceiveStream(-5, {0x11, 0x22});
  EXPECT_EQ(NextStreamWord(), 0);
  EXPECT_TRUE(Reads().empty());
  EXPECT_EQ(driver.QueuedDeviceBytes(), 2u);
}

TEST_F(StreamTest, WordsComeInRefillsOfAtMostWhatIsLeftOfTheAnnouncement) {
  const Bytes stream = Counting(600, 1);
  ReceiveStream(600, stream, {0xF8, 0x09});  // the next answer's first bytes follow
  for (size_t w = 0; w < 300; ++w) {
    ASSERT_EQ(NextStreamWord(), stream[2 * w] | stream[2 * w + 1] << 8) << "word " << w;
  }
  EXPECT_EQ(Reads(), (std::vector<uint64_t>{512, 88}));
  // exhausted: 0 without touching the link, and the following bytes stay there
  EXPECT_EQ(NextStreamWord(), 0);
  EXPECT_EQ(NextStreamWord(), 0);
  EXPECT_EQ(Reads().size(), 2u);
  EXPECT_EQ(driver.QueuedDeviceBytes(), 2u);
}

TEST_F(StreamTest, ARefillOf511BytesServes255Words) {
  const Bytes stream = Counting(511, 5);
  ReceiveStream(511, stream);
  for (size_t w = 0; w < 255; ++w)
    ASSERT_EQ(NextStreamWord(), stream[2 * w] | stream[2 * w + 1] << 8);
  EXPECT_EQ(NextStreamWord(), 0);  // the odd last byte is dropped
  EXPECT_EQ(Reads(), (std::vector<uint64_t>{511}));
}

TEST_F(StreamTest, AStreamThatStopsArrivingIsExhaustedForGood) {
  ReceiveStream(2000, Counting(511));  // the device sends 511 of 2000 bytes
  for (int w = 0; w < 255; ++w) NextStreamWord();
  EXPECT_EQ(NextStreamWord(), 0);  // the refill gets nothing
  EXPECT_EQ(Reads(), (std::vector<uint64_t>{512, 512}));
  driver.QueueDeviceBytes({1, 2});  // too late
  EXPECT_EQ(NextStreamWord(), 0);
  EXPECT_EQ(Reads().size(), 2u);
}

// ---- memory words ---------------------------------------------------------

TEST_F(AnswerTest, MemoryWordsStopAtTheEndOfTheBulkBuffer) {
  theChannel.BulkBuffer[0] = 0x34;
  theChannel.BulkBuffer[1] = 0x12;
  theChannel.BulkBuffer[kBulkCapacity - 2] = 0xCD;
  theChannel.BulkBuffer[kBulkCapacity - 1] = 0xAB;
  theChannel.memoryPosition = 0;
  EXPECT_EQ(NextMemoryWord(), 0x1234);
  theChannel.memoryPosition = kBulkCapacity - 2;
  EXPECT_EQ(NextMemoryWord(), 0xABCD);
  EXPECT_EQ(NextMemoryWord(), 0);
  EXPECT_EQ(NextMemoryWord(), 0);
}

// ---- looking up parameters --------------------------------------------------

TEST_F(AnswerTest, FindParamSkipsWhatFollowsABulkParameterAndStopsAtIdZero) {
  struct Case {
    const char* what;
    Bytes params;
    uint8_t id;
    int offset;  // of the parameter found in the answer frame; -1 none
  };
  const std::vector<Case> cases = {
      {"second parameter", Cat({Param(1, {9, 9}), Param(3, {7})}), 3, 9},
      {"252 itself is found", Cat({BulkLengthParam(5), Param(3, {7})}), kParamBulkLength, 5},
      {"the one after 252 and the one after 253 are passed over",
       Cat({BulkLengthParam(5), Param(kParamBulkSegments), Param(3, Bytes(12, 1))}), 3, -1},
      {"the one after 252 is passed over, the next one is compared",
       Cat({BulkLengthParam(5), Param(4), Param(3, {1})}), 3, 13},
      {"id 0 ends the search", Cat({Param(0), Param(5, {1})}), 5, -1},
      {"data running past L: the search goes on after the length byte", {7, 50, 5, 0}, 5, 7},
      {"an id without its length byte", {3}, 3, -1},
      {"absent", Cat({Param(1), Param(2)}), 3, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HoldAnswer(Answer(kCmd, kCounter, 0, c.params));
    const uint8_t* found = VK3cmd_FindParam(c.id);
    if (c.offset < 0) {
      EXPECT_EQ(found, nullptr);
    } else {
      EXPECT_EQ(found, theChannel.answerFrame.bytes + c.offset);
    }
  }
}

TEST_F(AnswerTest, FoundParametersKnowWhetherTheirDataLiesInsideTheAnswer) {
  HoldAnswer(Answer(kCmd, kCounter, 0, {3, 2, 0xA, 0xB, 5, 9, 0xC}));  // 5 claims 9 bytes
  ASSERT_NE(VK3cmd_FindParam(3), nullptr);
  EXPECT_TRUE(VK3cmd_ParamInAnswer(VK3cmd_FindParam(3)));
  ASSERT_NE(VK3cmd_FindParam(5), nullptr);
  EXPECT_FALSE(VK3cmd_ParamInAnswer(VK3cmd_FindParam(5)));
}

// ---- the single-byte exchange ----------------------------------------------

TEST_F(AnswerTest, ASingleByteExchangeWantsItsOwnByteBack) {
  theChannel.commandFrame.bytes[0] = 0xFF;
  driver.QueueDeviceBytes({0xFF});
  EXPECT_EQ(VK3cmd_Receive(), kResultOk);
  EXPECT_EQ(Reads(), (std::vector<uint64_t>{1}));
  driver.QueueDeviceBytes({0x12, kCounter, 0, 5, 0});
  EXPECT_EQ(VK3cmd_Receive(), kResultInvalidAnswer);
  EXPECT_EQ(driver.QueuedDeviceBytes(), 4u);
}

}  // namespace
