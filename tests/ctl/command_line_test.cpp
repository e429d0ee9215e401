// vesk3ctl's command line: what each command takes, and the wrong ones.
#include "ctl/command_line.h"

#include <gtest/gtest.h>

#include "services/buttons.h"

namespace {

TEST(CommandLine, TakesEachCommandsArguments) {
  ParseResult p = ParseCommandLine({"press", "down", "enter", "--hold", "600", "--gap", "0"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.line.command, Command::Press);
  EXPECT_EQ(p.line.keys, (std::vector<int>{kKeyDown, kKeyEnter}));
  EXPECT_EQ(p.line.holdMs, 600u);
  EXPECT_EQ(p.line.gapMs, 0u);

  p = ParseCommandLine({"tap", "esc", "up", "left", "right"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.line.command, Command::Press);
  EXPECT_EQ(p.line.keys, (std::vector<int>{kKeyEsc, kKeyUp, kKeyLeft, kKeyRight}));

  // Global options stand before or after the command.
  p = ParseCommandLine({"screenshot", "a.png", "--sim", "--scale", "4", "--serial", "VK1", "-q"});
  ASSERT_EQ(p.error, "");
  EXPECT_TRUE(p.line.sim);
  EXPECT_EQ(p.line.serial, "VK1");
  EXPECT_EQ(p.line.verbosity, Verbosity::Quiet);
  EXPECT_EQ(p.line.file, "a.png");
  EXPECT_EQ(p.line.scale, 4);

  p = ParseCommandLine(
      {"-v", "expect", "r.png", "--region", "10,20,30,40", "--tolerance", "8", "--timeout", "2.5"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.line.verbosity, Verbosity::Verbose);
  EXPECT_TRUE(p.line.hasRegion);
  EXPECT_EQ(p.line.region.x, 10);
  EXPECT_EQ(p.line.region.height, 40);
  EXPECT_EQ(p.line.tolerance, 8);
  EXPECT_DOUBLE_EQ(p.line.timeoutS, 2.5);

  p = ParseCommandLine({"record", "out.mkv", "--frames", "12"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.line.frames, 12u);
  p = ParseCommandLine({"info", "--help"});
  EXPECT_EQ(p.error, "");
  EXPECT_TRUE(p.line.help);
  EXPECT_EQ(p.line.command, Command::Info);
}

TEST(CommandLine, RefusesWrongUsage) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"frobnicate"},
      {"--bogus", "info"},
      {"info", "extra"},
      {"info", "--scale", "2"},
      {"screenshot"},
      {"screenshot", "a.png", "b.png"},
      {"screenshot", "a.png", "--scale", "0"},
      {"screenshot", "a.png", "--scale", "17"},
      {"screenshot", "a.png", "--scale"},
      {"press"},
      {"press", "space"},
      {"press", "up", "--hold", "-5"},
      {"press", "up", "--hold", "1e3"},
      {"record", "out.mkv"},
      {"record", "out.mkv", "--seconds", "1", "--frames", "3"},
      {"record", "--seconds", "1"},
      {"record", "out.mkv", "--seconds", "0"},
      {"record", "out.mkv", "--seconds", "nan"},
      {"watch", "--frames", "3"},
      {"expect"},
      {"expect", "r.png", "--region", "0,0,241,10"},
      {"expect", "r.png", "--region", "0,0,0,10"},
      {"expect", "r.png", "--region", "1,2,3"},
      {"expect", "r.png", "--tolerance", "256"},
      {"expect", "r.png", "--timeout", "-1"},
      {"--serial"},
  };
  for (const auto& args : wrong) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_NE(ParseCommandLine(args).error, "") << joined;
  }
}

TEST(CommandLine, EveryCommandHasItsHelpAndUsage) {
  for (Command c : {Command::List, Command::Info, Command::Screenshot, Command::Press,
                    Command::PushEsc, Command::Record, Command::Watch, Command::Expect}) {
    EXPECT_NE(UsageText(c).find("usage: vesk3ctl"), std::string::npos);
    EXPECT_GT(HelpText(c).size(), UsageText(c).size());
  }
  EXPECT_NE(HelpText(Command::None).find("push-esc"), std::string::npos);
}

}  // namespace
