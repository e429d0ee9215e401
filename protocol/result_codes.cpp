#include "protocol/result_codes.h"

#include <cstdio>

const ResultEntry ResultTable[kResultTableSize] = {
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
    {35, "Failed to read protocol version at initialization"},
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

namespace {
constexpr size_t kCodeTextSize = 64;
char codeTextBuffer[kCodeTextSize];
}  // namespace

const char* ResultText(ResultCode code) {
  for (const ResultEntry& entry : ResultTable) {
    if (entry.code == code) return entry.text;
  }
  std::snprintf(codeTextBuffer, sizeof codeTextBuffer, "(unknown error code: %d)", code);
  return codeTextBuffer;
}
