// A progress bar on the terminal for runs that take a while, and the
// summary printed after a run.
#pragma once

#include <chrono>
#include <iosfwd>

#include "sim/simulator.h"

namespace udmhost {

class ProgressBar {
public:
    // Draws on `out` only when `enabled` (the stream is a terminal) and
    // only once the run has taken more than a second.
    ProgressBar(std::ostream& out, bool enabled);
    void update(double fraction);
    void finish();  // clears the bar

private:
    std::ostream& out_;
    bool enabled_;
    bool shown_ = false;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

void printSummary(std::ostream& out, const RunStats& stats, size_t rows);

}  // namespace udmhost
