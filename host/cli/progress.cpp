#include "cli/progress.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>

namespace udmhost {

ProgressBar::ProgressBar(std::ostream& out, bool enabled)
    : out_(out), enabled_(enabled), start_(std::chrono::steady_clock::now()), lastDraw_(start_) {}

void ProgressBar::update(double fraction) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < std::chrono::seconds(1)) return;
    if (shown_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    const double clamped = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    const int percent = static_cast<int>(clamped * 100.0);
    if (shown_ && percent == lastPercent_) return;
    constexpr int kWidth = 40;
    const int filled = static_cast<int>(clamped * kWidth);
    out_ << "\r[" << std::string(static_cast<size_t>(filled), '#') << std::string(static_cast<size_t>(kWidth - filled), '.')
         << "] " << percent << "%" << std::flush;
    shown_ = true;
    lastPercent_ = percent;
    lastDraw_ = now;
}

void ProgressBar::finish() {
    if (shown_) out_ << "\r" << std::string(50, ' ') << "\r" << std::flush;
    shown_ = false;
}

void printSummary(std::ostream& out, const RunStats& stats, size_t rows) {
    out << "time points:        " << stats.accepted << " accepted, " << stats.rejected << " rejected\n"
        << "Newton iterations:  " << stats.newtonIterations << "\n"
        << "switching events:   " << stats.events << "\n";
    if (stats.evaluations > 0)
        out << "evaluations:        " << stats.evaluations << " in Newton iterations, " << stats.bypassed
            << " of them bypassed; " << stats.watchEvaluations << " predicting and locating switchings\n";
    out << "factorisations:     " << stats.factorisations << "\n";
    if (stats.parts > 1)
        out << "circuit parts:      " << stats.parts << ", each on its own time steps (" << stats.fewestPartPoints
            << " to " << stats.mostPartPoints << " accepted points)\n";
    out << "rows written:       " << rows << "\n"
        << "wall time:          " << stats.wallSeconds << " s\n";
}

}  // namespace udmhost
