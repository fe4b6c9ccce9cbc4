// The ways to an operating point that SPICE users rely on when Newton from
// the first guess does not converge: gmin stepping (a conductance from every
// node to ground, lowered step by step to the one the point keeps, each
// solve starting from the last one's solution) and then source stepping
// (every independent source raised from zero to its value). Each step's size
// follows how hard its solve was, and a failed step is retried closer to the
// last one that converged.
#pragma once

#include <functional>
#include <optional>
#include <vector>

namespace udmhost::sim {

class OperatingPointSearch {
public:
    using Point = std::vector<double>;
    struct Solution {
        Point point;
        int iterations;  // that Newton took
    };
    // Newton from `from` with `gmin` from every node to ground, the
    // independent sources at `sourceFactor` of their values and at most
    // `iterations` iterations: the solution, or none.
    using Solve =
        std::function<std::optional<Solution>(double gmin, double sourceFactor, int iterations, const Point& from)>;

    // `gmin`: what the point keeps; `stepIterations`: for each step.
    OperatingPointSearch(Solve solve, double gmin, int stepIterations)
        : solve_(std::move(solve)), gmin_(gmin), stepIterations_(stepIterations) {}

    enum class Way { GminStepping, SourceStepping };
    struct Found {
        Point point;
        Way way;
    };
    // The solution at `gmin` with every source at its value, by gmin
    // stepping or else by source stepping, each from `guess`; or none. The
    // last solve is the one that found it.
    std::optional<Found> run(const Point& guess);

private:
    std::optional<Point> gminStepping(const Point& guess);
    std::optional<Point> sourceStepping(const Point& guess);

    Solve solve_;
    double gmin_;
    int stepIterations_;
};

}  // namespace udmhost::sim
