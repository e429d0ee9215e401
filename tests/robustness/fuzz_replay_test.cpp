// The fuzz targets' inputs replayed in the normal suite: every seed of
// fuzz/corpus/<target>/ and every input a fuzzer ever crashed on, kept in
// fuzz/regressions/<target>/, runs through its target's conversation with all
// of the target's checks (a failed check aborts the test program).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/conversations.h"

namespace {

struct FuzzTarget {
  const char* name;
  void (*run)(const uint8_t* data, size_t size);
};

void PrintTo(const FuzzTarget& target, std::ostream* out) {
  *out << target.name;
}

const FuzzTarget kTargets[] = {
    {"fuzz_command_exchange", FuzzCommandExchange},
    {"fuzz_descriptor_table", FuzzDescriptorTable},
    {"fuzz_display_frame", FuzzDisplayFrame},
    {"fuzz_device_info", FuzzDeviceInfo},
    {"fuzz_color_read", FuzzColorRead},
};

std::vector<std::filesystem::path> InputsOf(const char* target) {
  std::vector<std::filesystem::path> inputs;
  for (const char* folder : {"corpus", "regressions"}) {
    const std::filesystem::path dir = std::filesystem::path(VESK3_FUZZ_DIR) / folder / target;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
  }
  return inputs;
}

class FuzzReplay : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzReplay, EverySeedAndRegressionInputPassesTheTargetsChecks) {
  const std::vector<std::filesystem::path> inputs = InputsOf(GetParam().name);
  ASSERT_FALSE(inputs.empty()) << "no seeds for " << GetParam().name;
  for (const std::filesystem::path& path : inputs) {
    SCOPED_TRACE(path.string());
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    GetParam().run(bytes.data(), bytes.size());
  }
}

INSTANTIATE_TEST_SUITE_P(AllTargets, FuzzReplay, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
