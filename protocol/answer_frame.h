// Answer frames: reading and classifying the device's answer to the command
// just sent, notifications in its place, and the bulk data it announces.
//
// Owns: VK3cmd_ReadAnswer, VK3cmd_Receive (parameter walk, segmented bulk into
// the BulkBuffer, streamed bulk left on the link), VK3cmd_FindParam and the two
// word readers. Nothing is read or written outside the answer frame, the
// BulkBuffer or the stream stage, whatever the device sends.
// Does not own: what an answer parameter means (services/).
#pragma once

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
