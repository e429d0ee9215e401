// Result codes: the numbering every layer reports its outcome in, and their texts.
//
// Owns: ResultCode, the stored table of codes and texts, ResultText.
// Does not own: which operation returns which code (each operation says so).
#pragma once

#include <cstdint>

using ResultCode = int32_t;

// Codes the program acts on by number.
constexpr ResultCode kResultOk = 0;
constexpr ResultCode kResultCannotOpen = 1;
constexpr ResultCode kResultLinkFailure = 9;
constexpr ResultCode kResultInvalidCommand = 10;
constexpr ResultCode kResultDeviceBusy = 12;    // notification: next command waits 4000 ms
constexpr ResultCode kResultPoweredOff = 13;    // notification: the link has been closed
constexpr ResultCode kResultSystemChange = 14;  // notification: any other system change
constexpr ResultCode kResultInvalidAnswer = 30;
constexpr ResultCode kResultWrongAnswerId = 31;
constexpr ResultCode kResultWrongCounter = 32;
constexpr ResultCode kResultUnknownAnswerType = 33;
constexpr ResultCode kResultAnswerTooShort = 34;
constexpr ResultCode kResultHandshakeFailed = 35;
constexpr ResultCode kResultDeviceCounterMismatch = 50;
constexpr ResultCode kResultUnknownParameter = 51;
constexpr ResultCode kResultTooManyParameters = 52;
constexpr ResultCode kResultTooManyBytesSent = 53;
constexpr ResultCode kResultTooFewBytesReceived = 54;
constexpr ResultCode kResultNoAnswerParameter = 57;
constexpr ResultCode kResultBadParameterLength = 58;
constexpr ResultCode kResultCannotExecute = 66;

struct ResultEntry {
  ResultCode code;
  const char* text;
};

constexpr int kResultTableSize = 30;
extern const ResultEntry ResultTable[kResultTableSize];

// The text of a code: the table's constant, or "(unknown error code: %d)"
// formatted into one shared 64-byte buffer that the next unknown code overwrites.
const char* ResultText(ResultCode code);
