#include "tests/support/core_fixture.h"

#include <stdexcept>

#include "protocol/command_channel.h"
#include "protocol/link_startup.h"

namespace {

Bytes Le16(uint16_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
}

Bytes Le32(int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

const Bytes kWakeUpByte = {0x00};
const Bytes kModeRequest = {0xF8, 0x01, 0x01, 0xFF};
const Bytes kDescriptorRequest = {0xF8, 0x02, 0x0A, 0xFF};

Bytes DescriptorBlock(const std::vector<DescriptorEntry>& entries) {
  Bytes block = {static_cast<uint8_t>(entries.size())};
  for (const DescriptorEntry& e : entries) {
    block.push_back(e.command);
    block.push_back(static_cast<uint8_t>(e.params.size()));
    for (auto [id, length] : e.params) {
      block.push_back(id);
      block.push_back(length);
    }
  }
  return block;
}

Bytes StandardDescriptorBlock() {
  DescriptorEntry buttons{174, {}};
  for (uint8_t key = 0; key < 6; ++key) {
    buttons.params.push_back({static_cast<uint8_t>(0x20 | key), 0});  // press
    buttons.params.push_back({static_cast<uint8_t>(0x30 | key), 0});  // release
  }
  return DescriptorBlock({
      buttons,
      {209, {{1, 0}, {2, 0}}},
      {248, {{1, 0}, {10, 0}, {16, 0}, {17, 0}, {209, 0}}},
      {253, {{193, 2}, {194, 2}}},
  });
}

Bytes Answer(uint8_t command, uint8_t counter, uint8_t type, const Bytes& params) {
  const auto length = static_cast<uint16_t>(kAnswerHeaderSize + params.size());
  return Join(Join({command, counter, type}, Le16(length)), params);
}

Bytes Param(uint8_t id, const Bytes& data) {
  if (data.size() > 255) throw std::length_error("an answer parameter carries at most 255 bytes");
  return Join({id, static_cast<uint8_t>(data.size())}, data);
}

Bytes BulkLengthParam(int32_t length) {
  return Param(kParamBulkLength, Le32(length));
}

Bytes Notification(uint8_t code) {
  return {kNotificationMarker, code, 0x00, 0x00, 0x00};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Counting(size_t n, uint8_t first) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(first + i);
  return out;
}

Bytes ModeAnswer(uint16_t version, uint16_t secondVersion, uint8_t mode) {
  // F8 01 00 0B 00, then the mode parameter: id 1 (APP) or 3 (BOOT), length 4, two versions
  return Answer(0xF8, 0x01, 0x00, Join(Join({mode, 0x04}, Le16(version)), Le16(secondVersion)));
}

Bytes DescriptorAnswer(int32_t announced) {
  // F8 02 00 0F 00, parameter 10 (empty), 252 with the block length, 253 (block follows)
  return Answer(0xF8, 0x02, 0x00,
                Join(Join(Param(10), BulkLengthParam(announced)), Param(kParamBulkSegments)));
}

void CoreTest::SetUp() {
  program.emplace(driver, platform);
  VK3cmd_Init();  // as the window does when it is initialised
}

void CoreTest::TearDown() {
  program.reset();
}

void CoreTest::ExpectWakeUp() {
  driver.Expect(kWakeUpByte, {});
}

void CoreTest::ExpectHandshake(const Bytes& block, const Bytes& modeAnswer) {
  driver.Expect(kModeRequest, modeAnswer);
  driver.Expect(kDescriptorRequest,
                Join(DescriptorAnswer(static_cast<int32_t>(block.size())), block));
}

void CoreTest::ExpectStartUp(const Bytes& block) {
  ExpectWakeUp();
  ExpectHandshake(block);
}

void CoreTest::StartLink(const Bytes& block) {
  if (theChannel.WakeUpPending) ExpectWakeUp();
  ExpectHandshake(block);
  ASSERT_EQ(VK3cmd_EnsureOpen(), kResultOk) << driver.Mismatches();
  ASSERT_EQ(driver.Mismatches(), "");
  driver.ForgetHistory();
  platform.Forget();
}
