#include "output/row_sampler.h"

#include <cmath>

namespace udmhost {

namespace {
// Grid points this close to an accepted point (relative to the grid step)
// are that point: interpolating would only repeat it.
constexpr double kSameTime = 1e-9;
// Of the grid step: a step this short that ends on a switching is the one
// across the located instant.
constexpr double kSwitchingSliver = 1e-3;
}  // namespace

RowSampler::RowSampler(double gridStep, double start, double stop, bool everyPoint,
                       RowStore& rows)
    : gridStep_(gridStep), start_(start), stop_(stop), everyPoint_(everyPoint), rows_(rows) {}

double RowSampler::gridRows(double gridStep, double start, double stop) {
    return std::floor(stop / gridStep) - std::ceil(start / gridStep) + 2.0;
}

void RowSampler::emit(const std::vector<double>& row, RowKind kind) {
    if (row.front() < start_) return;
    rows_.append(row);
    if (kinds_ != nullptr) kinds_->push_back(kind);
}

void RowSampler::add(const std::vector<double>& row, bool switched) {
    const double time = row.front();
    const RowKind kind = switched ? RowKind::Switching : RowKind::Printed;
    if (everyPoint_) {
        emit(row, kind);
        return;
    }
    const double same = kSameTime * gridStep_;
    if (previous_.empty()) {
        emit(row);
        previous_ = row;
        while (gridTime() <= time + same) ++nextGrid_;
        return;
    }
    const double before = previous_.front(), span = time - before;
    std::vector<double> between(row.size());
    while (gridTime() < time - same && gridTime() < stop_) {
        const double g = gridTime();
        if (g > before) {
            // The short step across a switching: the grid point in it still
            // sees the state before. A long step that ends on a switching
            // (aimed at it) is interpolated like any other: holding the
            // value before would stop every waveform for the whole step.
            const bool across = switched && span <= kSwitchingSliver * gridStep_;
            const double w = across || !(span > 0.0) ? 0.0 : (g - before) / span;
            for (size_t k = 0; k < row.size(); ++k) between[k] = previous_[k] + w * (row[k] - previous_[k]);
            between.front() = g;
            emit(between);
        }
        ++nextGrid_;
    }
    const bool onGrid = std::abs(gridTime() - time) <= same;
    if (onGrid) ++nextGrid_;
    if (switched || onGrid || time >= stop_) emit(row, kind);
    else if (kinds_ != nullptr && unprinted_) emit(row, RowKind::Unprinted);
    previous_ = row;
}

}  // namespace udmhost
