// The share of a scan's time the two-piece searches of its deleted files may
// take: each search gets at most a second, and all of them together no more
// than the rest of the scan has taken (at least two seconds), so a card full
// of fragmented files never doubles a scan's time. A copy of one file the
// person chose runs its search without a deadline, so it finds the order the
// scan found.
#pragma once

#include <algorithm>
#include <chrono>

#include "carving/fragment_search.h"

namespace sorvane {

// How long the searches of one scan may take: each at most `perSearch`, all
// of them together no more than the rest of the scan or `atLeast`. A test
// whose answer must not depend on the machine's speed (a sanitizer build, a
// machine busy with other work) lifts them for as long as it runs.
struct FragmentSearchTime {
    std::chrono::steady_clock::duration perSearch = std::chrono::seconds(1);
    std::chrono::steady_clock::duration atLeast = std::chrono::seconds(2);
};
inline FragmentSearchTime& FragmentSearchTimeShare() {
    static FragmentSearchTime share;
    return share;
}

class FragmentSearchBudget {
  public:
    using Clock = std::chrono::steady_clock;

    // The scan starts now and no search has run yet.
    void Restart() {
        started_ = Clock::now();
        spent_ = Clock::duration::zero();
    }

    // Runs `search(limits)` with the deadline the budget leaves it and counts
    // the time it took against the scan.
    template <typename Search>
    auto Run(Search&& search) {
        const Clock::time_point now = Clock::now();
        FragmentSearchLimits limits;
        limits.deadline = now + std::clamp<Clock::duration>(Left(now), Clock::duration::zero(),
                                                            FragmentSearchTimeShare().perSearch);
        auto result = search(limits);
        spent_ += Clock::now() - now;
        return result;
    }

    // True when the searches have taken their whole share.
    bool Exhausted() const { return Left(Clock::now()) <= Clock::duration::zero(); }

  private:
    Clock::duration Left(Clock::time_point now) const {
        const Clock::duration scanOnly = (now - started_) - spent_;
        return std::max<Clock::duration>(FragmentSearchTimeShare().atLeast, scanOnly) - spent_;
    }

    Clock::time_point started_ = Clock::now();
    Clock::duration spent_{};
};

}  // namespace sorvane
