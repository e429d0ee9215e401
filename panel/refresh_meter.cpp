#include "panel/refresh_meter.h"

#include <cstdio>

namespace {
constexpr double kUsPerSecond = 1e6;
}  // namespace

void RefreshMeter::OnRefresh(uint64_t nowUs, uint64_t bytes) {
  refreshes_.push_back({nowUs, bytes});
  while (refreshes_.size() > 1 && nowUs - refreshes_.front().us > kMeterWindowUs) {
    refreshes_.pop_front();
  }
}

RefreshReading RefreshMeter::Reading() const {
  RefreshReading reading;
  if (refreshes_.size() < 2) return reading;
  const uint64_t spanUs = refreshes_.back().us - refreshes_.front().us;
  if (spanUs == 0) return reading;
  // The rate counts the intervals between refreshes; the bytes of the first
  // one were moved before the window began.
  uint64_t bytes = 0;
  for (size_t i = 1; i < refreshes_.size(); ++i) bytes += refreshes_[i].bytes;
  const double intervals = static_cast<double>(refreshes_.size() - 1);
  const double seconds = static_cast<double>(spanUs) / kUsPerSecond;
  reading.valid = true;
  reading.refreshesPerSecond = intervals / seconds;
  reading.bytesPerRefresh = static_cast<double>(bytes) / intervals;
  reading.linkShare =
      static_cast<double>(bytes) / seconds / static_cast<double>(kLineBytesPerSecond);
  return reading;
}

std::string RefreshReadoutText(const RefreshReading& reading) {
  if (!reading.valid) return "";
  char text[96];
  std::snprintf(text, sizeof text, "%.1f refreshes/s, %.0f bytes/refresh, %.0f %% of the link",
                reading.refreshesPerSecond, reading.bytesPerRefresh, reading.linkShare * 100.0);
  return text;
}
