// Result codes: the stored table and the lookup the message boxes use.
#include "protocol/result_codes.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(ResultTableTest, HoldsTheThirtyEntriesInTheirStoredOrder) {
  const std::vector<std::pair<ResultCode, std::string>> stored = {
      {0, "OK"},
      {1, "Can not open device"},
      {2, "Device is not opened"},
      {9, "Error in communication (FT230)"},
      {10, "Invalid VK3 command code"},
      {11, "VK3 command is too long"},
      {30, "Invalid answer got for VK3 command"},
      {31, "Wrong answer ID received for VK3 command"},
      {32, "Wrong counter value received for VK3 command"},
      {33, "Unknown answer type received for VK3 command"},
      {34, "Too short answer for VK3 command"},
      {50, "VK3 cmd. counter value mismatch"},
      {51, "Unknown parameter"},
      {52, "Too many parameters"},
      {53, "Too many bytes sent"},
      {54, "Too few bytes received"},
      {55, "Too many bytes received"},
      {56, "Unknown answer parameter"},
      {57, "No answer parameter got"},
      {58, "Bad length of a parameter in the answer"},
      {35, "Failed to read protocol version at initialization"},  // not sorted
      {66, "Can't execute command on device"},
      {100, "Update has been done but fw. byte count mismatch was detected"},
      {101, "Internal fault in Update procedure"},
      {102, "Update is prohibited"},
      {103, "Wrong key given in Update procedure"},
      {104, "Update has failed"},
      {105, "Wrong User Key provided in Update procedure"},
      {106, "Failed to start Camera for updating"},
      {107, "No space for firmware"},
  };
  ASSERT_EQ(kResultTableSize, 30);
  for (int i = 0; i < kResultTableSize; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ResultTable[i].code, stored[i].first);
    EXPECT_STREQ(ResultTable[i].text, stored[i].second.c_str());
    // a table code gets the stored constant itself
    EXPECT_EQ(ResultText(stored[i].first), ResultTable[i].text);
  }
}

TEST(ResultTextTest, CodesOutsideTheTableGetTheFallbackText) {
  EXPECT_STREQ(ResultText(12), "(unknown error code: 12)");
  EXPECT_STREQ(ResultText(13), "(unknown error code: 13)");
  EXPECT_STREQ(ResultText(-1), "(unknown error code: -1)");
  EXPECT_STREQ(ResultText(INT_MIN), "(unknown error code: -2147483648)");
}

TEST(ResultTextTest, FallbackTextsShareOneBuffer) {
  const char* first = ResultText(12);
  const char* second = ResultText(-1);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "(unknown error code: -1)");
  ResultText(0);  // a table code leaves the buffer alone
  EXPECT_STREQ(first, "(unknown error code: -1)");
}

}  // namespace
