// The voltage of a node as one block of a circuit computed it, read by the
// blocks downstream of it as a source: its accepted points, and the corners
// (switchings, source breakpoints) where its slope jumps.
#pragma once

#include <deque>
#include <vector>

#include "netlist/circuit.h"

namespace udmhost::sim {

class NodeTrajectory : public TimeSignal {
public:
    // Points come in time order; `corner`: the slope may jump here.
    void record(double t, double v, bool corner);
    void markCorner();  // the latest point is a corner after all
    // A first point known better than the block that computes the node will
    // have it there (its start under UIC solves only the sources): a later
    // point at the same time does not replace it.
    void seed(double t, double v);

    // Quadratic through three neighbouring points on the same side of every
    // corner (linear where there are only two); held beyond the ends, or,
    // once extrapolated(), continued past the last point along the same
    // kind of curve through the last points (held after a corner).
    double at(double t) const override;
    void extrapolated() { extrapolate_ = true; }

    // The first corner after `t`, or infinity.
    double firstCornerAfter(double t) const;

    // Times of the points in (from, to], and of the corners among them.
    void appendTimes(double from, double to, std::vector<double>& out) const;
    void appendCorners(double from, double to, std::vector<double>& out) const;
    // Forgets what lies before `t`, keeping the points an interpolation at
    // `t` or later still needs.
    void forgetBefore(double t);

    size_t size() const { return points_.size(); }
    double lastTime() const { return points_.empty() ? 0.0 : points_.back().t; }

private:
    struct Point {
        double t, v;
        bool corner;
    };
    double extrapolation(double t) const;
    // Of the parabola through a, b (a before b) and c, before a or after b.
    static double secondDifference(const Point& a, const Point& b, const Point& c);
    std::deque<Point> points_;
    bool extrapolate_ = false, seeded_ = false;
};

}  // namespace udmhost::sim
