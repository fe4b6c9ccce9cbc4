#include "sim/node_trajectory.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace udmhost::sim {

void NodeTrajectory::record(double t, double v, bool corner) {
    // A point at the time of the last one replaces it (a switching accepted
    // on top of the point before it): the later value is the one that holds.
    const bool seeded = std::exchange(seeded_, false);
    if (!points_.empty() && points_.back().t == t) {
        if (seeded) return;
        points_.back().v = v;
        points_.back().corner = points_.back().corner || corner;
        return;
    }
    points_.push_back({t, v, corner});
}

void NodeTrajectory::seed(double t, double v) {
    points_.assign(1, {t, v, false});
    seeded_ = true;
}

void NodeTrajectory::markCorner() {
    if (!points_.empty()) points_.back().corner = true;
}

double NodeTrajectory::at(double t) const {
    if (points_.empty()) return 0.0;
    if (t <= points_.front().t) return points_.front().v;
    if (t >= points_.back().t) return extrapolate_ ? extrapolation(t) : points_.back().v;
    // [i, i + 1] holds t.
    const auto after = std::upper_bound(points_.begin(), points_.end(), t,
                                        [](double x, const Point& p) { return x < p.t; });
    const auto i = static_cast<size_t>(after - points_.begin()) - 1;
    const Point& a = points_[i];
    const Point& b = points_[i + 1];
    // The third point: before a unless a is a corner, else after b unless b is.
    const Point* c = nullptr;
    if (i > 0 && !a.corner) c = &points_[i - 1];
    else if (i + 2 < points_.size() && !b.corner) c = &points_[i + 2];
    const double linear = a.v + (b.v - a.v) * (t - a.t) / (b.t - a.t);
    if (c == nullptr) return linear;
    // Newton form: the linear part plus the second divided difference.
    return linear + secondDifference(a, b, *c) * (t - a.t) * (t - b.t);
}

double NodeTrajectory::secondDifference(const Point& a, const Point& b, const Point& c) {
    const double ab = (b.v - a.v) / (b.t - a.t);
    return c.t < a.t ? (ab - (a.v - c.v) / (a.t - c.t)) / (b.t - c.t) : ((c.v - b.v) / (c.t - b.t) - ab) / (c.t - a.t);
}

double NodeTrajectory::extrapolation(double t) const {
    // A block coupled both ways reads its neighbour a little ahead of the
    // neighbour's last point, never beyond the step the neighbour plans
    // from there, over which its own error control vouches for the curve.
    const size_t n = points_.size();
    const Point& b = points_[n - 1];
    if (n < 2 || b.corner || t <= b.t) return b.v;
    const Point& a = points_[n - 2];
    const double ab = (b.v - a.v) / (b.t - a.t);
    const double linear = b.v + ab * (t - b.t);
    if (n < 3 || a.corner) return linear;
    return linear + secondDifference(a, b, points_[n - 3]) * (t - a.t) * (t - b.t);
}

double NodeTrajectory::firstCornerAfter(double t) const {
    double first = std::numeric_limits<double>::infinity();
    for (auto p = points_.rbegin(); p != points_.rend() && p->t > t; ++p)
        if (p->corner) first = p->t;
    return first;
}

void NodeTrajectory::appendTimes(double from, double to, std::vector<double>& out) const {
    for (const Point& p : points_)
        if (p.t > from && p.t <= to) out.push_back(p.t);
}

void NodeTrajectory::appendCorners(double from, double to, std::vector<double>& out) const {
    for (const Point& p : points_)
        if (p.corner && p.t > from && p.t <= to) out.push_back(p.t);
}

void NodeTrajectory::forgetBefore(double t) {
    // Two points before the first at or after t stay: the interval that
    // holds t and the third point of its parabola.
    size_t keep = 0;
    while (keep < points_.size() && points_[keep].t < t) ++keep;
    const size_t drop = keep > 2 ? keep - 2 : 0;
    points_.erase(points_.begin(), points_.begin() + static_cast<std::ptrdiff_t>(drop));
}

}  // namespace udmhost::sim
