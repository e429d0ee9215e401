// The one owner of the program-wide state: a scope starts from what a fresh
// program has, and its end leaves no link open and nothing installed that may
// be gone.
#include "services/program_state.h"

#include <gtest/gtest.h>

#include "link/usb_device.h"
#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"
#include "services/display_frame.h"
#include "tests/support/fake_driver.h"
#include "tests/support/recording_platform.h"

namespace {

// Every part of the state as a program in the middle of a session leaves it.
void DirtyEveryPart() {
  theUsbDevice.DeviceKind = kDeviceKindHandController;
  theUsbDevice.errorText[0] = 'x';
  theUsbDevice.lastStatus = kFtIoError;
  theChannel.FrameCounter = 77;
  theChannel.DescriptorTable[209][1] = 0;
  theChannel.BulkLength = 4096;
  theChannel.BulkInMemory = true;
  theChannel.streamRemaining = 512;
  theChannel.HoldOffMs = kHoldOffBusyMs;
  theChannel.WakeUpPending = false;
  theChannel.HandshakeVersion = 2;
  FrameBuffer[kDisplayPixels - 1] = 0xF800;
  ExpansionBuffer[0] = 0x1234;
  fullRefresh = false;
  NextBulkWord = NextStreamWord;
}

void ExpectFreshState() {
  EXPECT_EQ(theUsbDevice.DeviceKind, kDeviceKindAnyDescription);
  EXPECT_STREQ(theUsbDevice.errorText, "");
  EXPECT_EQ(theUsbDevice.lastStatus, 0u);
  EXPECT_FALSE(theUsbDevice.IsOpen());
  EXPECT_EQ(theChannel.FrameCounter, kCounterFirst);
  EXPECT_TRUE(theChannel.DescriptorTable.empty());
  EXPECT_EQ(theChannel.BulkLength, 0);
  EXPECT_FALSE(theChannel.BulkInMemory);
  EXPECT_EQ(theChannel.streamRemaining, 0);
  EXPECT_EQ(theChannel.HoldOffMs, 0u);
  EXPECT_TRUE(theChannel.WakeUpPending);
  EXPECT_EQ(theChannel.HandshakeVersion, -1);
  EXPECT_EQ(FrameBuffer[kDisplayPixels - 1], 0);
  EXPECT_EQ(ExpansionBuffer[0], 0);
  EXPECT_TRUE(fullRefresh);
  EXPECT_EQ(NextBulkWord, NextMemoryWord);
}

TEST(ProgramState, ResetBringsBackWhatAFreshProgramStartsWith) {
  DirtyEveryPart();
  ResetProgramState();
  ExpectFreshState();
}

TEST(ProgramState, ScopeInstallsOnAFreshStateAndEndsTheLinkWhenItGoes) {
  FakeDriver driver;
  RecordingPlatform platform;
  DirtyEveryPart();
  {
    ProgramScope program(driver, platform);
    ExpectFreshState();
    EXPECT_EQ(&TheDriver(), &driver);
    EXPECT_EQ(&ThePlatform(), &platform);

    ASSERT_GE(theUsbDevice.Poll(), 0);
    ASSERT_EQ(theUsbDevice.Open(), 0);
    driver.ForgetHistory();
  }
  EXPECT_EQ(driver.CountOf("Close"), 1);
  EXPECT_FALSE(theUsbDevice.IsOpen());
  EXPECT_NE(&TheDriver(), &driver);
  EXPECT_NE(dynamic_cast<RealPlatform*>(&ThePlatform()), nullptr);

  // What is installed now finds nothing: no later poll reaches the gone driver.
  EXPECT_EQ(theUsbDevice.Poll(), -1);
  EXPECT_EQ(driver.CountOf("CreateDeviceInfoList"), 0);
}

}  // namespace
