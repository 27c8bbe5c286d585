// When a scan that cannot tell how far it got reports its progress again:
// once per interval, so the caller hears of it often enough to stay
// responsive and rarely enough not to slow the scan.
#pragma once

#include <chrono>

namespace sorvane {

class ReportClock {
  public:
    explicit ReportClock(std::chrono::milliseconds interval) : interval_(interval) {}

    // Starts the interval afresh, at a report made now.
    void Restart() { last_ = std::chrono::steady_clock::now(); }
    // True, and the interval starts afresh, once the interval has passed.
    bool Due() {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < interval_) return false;
        last_ = now;
        return true;
    }

  private:
    std::chrono::milliseconds interval_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

}  // namespace sorvane
