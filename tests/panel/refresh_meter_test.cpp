// The refresh meter: the rate over the last two seconds, the bytes per
// refresh and the share of the line, from the refreshes' own times and bytes.
#include "panel/refresh_meter.h"

#include <gtest/gtest.h>

namespace {

TEST(RefreshMeter, ReadsTheRefreshesOfTheLastTwoSeconds) {
  struct Case {
    const char* what;
    uint64_t periodUs;
    uint64_t bytes;
    int refreshes;
    double rate;
    double share;
  };
  const Case cases[] = {
      {"the window's period", 76000, 6000, 40, 1e6 / 76000, 6000 * (1e6 / 76000) / 300000},
      {"a link at its limit", 100000, 30000, 5, 10, 1.0},
      {"a slow device, past the window", 500000, 1000, 20, 2, 1000 * 2 / 300000.0},
  };
  for (const Case& c : cases) {
    RefreshMeter meter;
    for (int i = 0; i < c.refreshes; ++i) meter.OnRefresh(1000000 + i * c.periodUs, c.bytes);
    const RefreshReading reading = meter.Reading();
    ASSERT_TRUE(reading.valid) << c.what;
    EXPECT_NEAR(reading.refreshesPerSecond, c.rate, 1e-9) << c.what;
    EXPECT_NEAR(reading.bytesPerRefresh, static_cast<double>(c.bytes), 1e-9) << c.what;
    EXPECT_NEAR(reading.linkShare, c.share, 1e-9) << c.what;
  }
}

TEST(RefreshMeter, OlderRefreshesLeaveTheWindow) {
  RefreshMeter meter;
  // Fast and heavy first, then two seconds and more of slow and light.
  for (int i = 0; i < 10; ++i) meter.OnRefresh(static_cast<uint64_t>(i) * 10000, 90000);
  for (int i = 1; i <= 6; ++i) meter.OnRefresh(90000 + static_cast<uint64_t>(i) * 500000, 500);
  const RefreshReading reading = meter.Reading();
  EXPECT_NEAR(reading.refreshesPerSecond, 2.0, 1e-9);
  EXPECT_NEAR(reading.bytesPerRefresh, 500, 1e-9);
}

TEST(RefreshMeter, HasNoReadingBeforeTwoRefreshesOrAfterClear) {
  RefreshMeter meter;
  EXPECT_FALSE(meter.Reading().valid);
  EXPECT_EQ(RefreshReadoutText(meter.Reading()), "");
  meter.OnRefresh(5, 100);
  EXPECT_FALSE(meter.Reading().valid);
  meter.OnRefresh(5, 100);  // no time between: no rate
  EXPECT_FALSE(meter.Reading().valid);
  meter.Clear();
  EXPECT_FALSE(meter.Reading().valid);
  meter.OnRefresh(0, 100);  // before the window: its bytes are not counted
  meter.OnRefresh(100000, 6000);
  EXPECT_EQ(RefreshReadoutText(meter.Reading()),
            "10.0 refreshes/s, 6000 bytes/refresh, 20 % of the link");
}

}  // namespace
