#include "tests/sim/sim_fixture.h"

#include "protocol/answer_frame.h"
#include "protocol/command_frame.h"
#include "protocol/link_startup.h"

void SimTest::SetUp() {
  program.emplace(sim.bridge, sim.platform);
  VK3cmd_Init();
}

void SimTest::TearDown() {
  program.reset();
}

ResultCode SimTest::Exchange(uint8_t command, std::initializer_list<SentParam> params,
                             const Bytes& appended) {
  VK3cmd_Begin(command);
  for (const SentParam& p : params) {
    VK3cmd_AddParam(p.id, p.data.empty() ? nullptr : p.data.data(),
                    static_cast<int32_t>(p.data.size()));
  }
  if (!appended.empty()) VK3cmd_AppendData(appended.data(), static_cast<uint16_t>(appended.size()));
  const ResultCode sent = VK3cmd_Send();
  if (sent != kResultOk) return sent;
  return VK3cmd_Receive();
}

Bytes SimTest::AnswerParam(uint8_t id) const {
  const uint8_t* p = VK3cmd_FindParam(id);
  if (p == nullptr || !VK3cmd_ParamInAnswer(p)) return {};
  return Bytes(p + 2, p + 2 + p[1]);
}
