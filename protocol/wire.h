// The numbers on the wire between the program and the hand controller: the
// one place both sides take them from.
//
// Owns: the line speeds and the wake-up byte; the frame layout (capacity,
// answer header, terminator, counters); answer types and notification codes;
// the command codes with their parameter ids and data lengths; the bulk
// transfer markers; the button-event bits, the key numbers and the Esc line;
// the display geometry and the pixel stream's token format.
// Does not own: what either side does with them. The program's link start-up,
// answer reading and services (protocol/, services/) and the simulated device
// (sim/) each act on them from their own side; nothing here is logic, and
// nothing here is a buffer size of one side only.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- the serial line --------------------------------------------------------

constexpr uint32_t kWakeUpBaud = 9600;  // the device listens here until woken
constexpr uint32_t kWorkBaud = 3000000;
constexpr uint8_t kWakeUpCode = 0x00;  // sent once at 9600 baud: the device switches to 3,000,000

// ---- frames -----------------------------------------------------------------

constexpr size_t kFrameCapacity = 528;   // command and answer frames, terminator included
constexpr size_t kAnswerHeaderSize = 5;  // code, counter, type, 16-bit length
constexpr uint8_t kFrameTerminator = 0xFF;
constexpr uint8_t kCounterFirst = 1;
constexpr uint8_t kCounterLast = 239;
constexpr uint8_t kCounterUnknownCommand = 240;  // the counter of an answer to an unknown code

// Answer types (answer byte 2).
constexpr uint8_t kAnswerTypeOk = 0;
constexpr uint8_t kAnswerUnknownCommand = 16;
constexpr uint8_t kAnswerCounterMismatch = 17;
constexpr uint8_t kAnswerUnknownParameter = 18;
constexpr uint8_t kAnswerTooManyParameters = 19;
constexpr uint8_t kAnswerTooManyBytes = 20;
constexpr uint8_t kAnswerCannotExecute = 32;

// Notifications in place of an answer: marker, code, three bytes not looked at.
constexpr uint8_t kNotificationMarker = 0xFB;
constexpr size_t kNotificationSize = 5;
constexpr uint8_t kNotifyBusyA = 0xAA;
constexpr uint8_t kNotifyBusyB = 0xB7;
constexpr uint8_t kNotifySwitchedOff = 0x36;  // any other code: a system change

// ---- bulk data --------------------------------------------------------------

// Answer parameter ids with a meaning of their own.
constexpr uint8_t kParamBulkLength = 252;    // 4 bytes: BulkLength
constexpr uint8_t kParamBulkSegments = 253;  // bulk data follows in segments
constexpr uint8_t kParamBulkStream = 254;    // bulk data follows as one stream
constexpr int32_t kBulkSegmentMax = 65535;   // answer frame plus bulk bytes of one segment

// ---- information (command 248) and the handshake ----------------------------

constexpr uint8_t kCmdInformation = 248;
constexpr uint8_t kItemMode = 1;
constexpr uint8_t kItemDescriptor = 10;  // the descriptor block, as bulk data in segments
constexpr uint8_t kItemChipId = 16;
constexpr uint8_t kItem17 = 17;
constexpr uint8_t kItemText = 209;
// The mode answer's parameter id says the mode; its data are the two versions.
constexpr uint8_t kAnswerModeApp = 1;
constexpr uint8_t kAnswerModeBoot = 3;
constexpr uint8_t kModeDataLength = 4;
constexpr uint8_t kChipIdDataLength = 24;  // the chip id, then the unique id
constexpr size_t kChipIdBytes = 8;
constexpr size_t kUniqueIdBytes = 16;
constexpr uint8_t kItem17DataLength = 1;
constexpr uint8_t kTextDataLength = 32;

// ---- button events (command 174) and the Esc line ----------------------------

constexpr uint8_t kCmdButtonEvent = 174;
// Parameter id: 0x20 | 0x10 for a release | the key number.
constexpr uint8_t kButtonParamBase = 0x20;
constexpr uint8_t kButtonParamRelease = 0x10;
constexpr uint8_t kButtonKeyBits = 0x0F;

// Device key numbers.
constexpr int kKeyEsc = 0;
constexpr int kKeyEnter = 1;
constexpr int kKeyLeft = 2;
constexpr int kKeyRight = 3;
constexpr int kKeyUp = 4;
constexpr int kKeyDown = 5;
constexpr int kKeyCount = 6;

// The bridge's CBUS1 line is the device's hardware Esc key (high: pressed).
constexpr uint8_t kCbusEscLine = 0x02;

// ---- colour entries (command 253) ------------------------------------------

constexpr uint8_t kCmdColors = 253;
constexpr uint8_t kParamReadColor = 193;   // 2 bytes: the entry's index
constexpr uint8_t kParamWriteColor = 194;  // 2 bytes: the index; then the entry appended
constexpr size_t kColorIndexBytes = 2;
constexpr uint16_t kColorEntryBytes = 4;  // blue, green, red, 0

// ---- display frames (command 209) and the pixel stream ----------------------

constexpr uint8_t kCmdDisplayFrame = 209;
constexpr uint8_t kParamWholeDisplay = 1;
constexpr uint8_t kParamDisplayChanges = 2;
constexpr uint8_t kParamDisplayInfo = 3;
constexpr uint8_t kDisplayInfoLength = 12;

constexpr int kDisplayWidth = 240;
constexpr int kDisplayHeight = 320;
constexpr int kDisplayPixels = kDisplayWidth * kDisplayHeight;  // 76800, row-major RGB565

// The expanded frame: one change mask per 16 pixels (bit 15 the first), then
// the new values of the changed pixels in pixel order.
constexpr int kStreamPixelsPerMask = 16;
constexpr int kMaskCount = kDisplayPixels / kStreamPixelsPerMask;  // 4800

// Its tokens: token k has the marker (0x9180 + k * 0x0A80) mod 0x10000 in the
// top 9 bits. A word without the marker is a literal; a word with it starts a
// two-word token: [w, w] the literal w, else low bits 0x7F end the stream, or
// [marker | n - 2, v] is a run of n = 2..128 copies of v.
constexpr uint16_t kMarkerFirst = 0x9180;
constexpr uint16_t kMarkerStep = 0x0A80;
constexpr uint16_t kStreamMarkerMask = 0xFF80;
constexpr uint16_t kStreamRunBits = 0x7F;
constexpr uint16_t kStreamEndBits = 0x7F;  // low bits of the end token
constexpr size_t kStreamRunMin = 2;
constexpr size_t kStreamRunMax = 128;
