// The refresh meter: how fast the mirror runs, from what the refreshes
// already moved (it sends nothing to the device).
//
// Owns: the refreshes of the last two seconds (when each was shown and the
// bytes the link moved for it), the rate, the bytes per refresh, the share of
// the line's capacity, and the readout text. Does not own: the clock or the
// byte count (the caller passes both) or where the readout is shown.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "protocol/link_startup.h"

// The line's capacity at the working baud rate, 10 bits a byte.
constexpr uint64_t kLineBytesPerSecond = kWorkBaud / 10;
// The span the rate is measured over.
constexpr uint64_t kMeterWindowUs = 2000000;

struct RefreshReading {
  bool valid = false;  // two refreshes at least inside the window
  double refreshesPerSecond = 0;
  double bytesPerRefresh = 0;
  double linkShare = 0;  // of kLineBytesPerSecond, 0 .. 1 and more
};

class RefreshMeter {
 public:
  // A frame was shown at nowUs; its refresh moved `bytes` over the link.
  void OnRefresh(uint64_t nowUs, uint64_t bytes);
  // Forgets every refresh (the mirror stopped).
  void Clear() { refreshes_.clear(); }

  RefreshReading Reading() const;

 private:
  struct Refresh {
    uint64_t us;
    uint64_t bytes;
  };
  std::deque<Refresh> refreshes_;
};

// "13.2 refreshes/s, 5120 bytes/refresh, 23 % of the link"; "" when not valid.
std::string RefreshReadoutText(const RefreshReading& reading);
