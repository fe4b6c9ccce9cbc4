#include "sim/charge_history.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace udmhost::sim {

namespace {

constexpr double kChargeResolution = 16.0 * std::numeric_limits<double>::epsilon();
// Of h d2 (first order) and h^2 d3 (second order), d2 and d3 the second and
// third divided differences of the charge.
constexpr double kFirstOrderError = 0.5, kTrapezoidalError = 1.0 / 12.0, kGearError = 2.0 / 9.0;

}  // namespace

double ChargeHistory::ratio(const Discretisation& d, double h1, double h2, const Options& o) const {
    const double h = d.step;
    const double infinity = std::numeric_limits<double>::infinity();
    if (!(h > 0.0 && h1 > 0.0)) return infinity;
    const bool secondOrder = d.kind != Discretisation::Kind::BackwardEuler;
    if (secondOrder && !(h2 > 0.0)) return infinity;
    const double d1a = (pending - q[0]) / h, d1b = (q[0] - q[1]) / h1;
    const double d2a = (d1a - d1b) / (h + h1);
    // SPICE's error coefficients for device charges, which it applies to the
    // divided differences themselves rather than to the derivatives they
    // stand for: the measure its overestimate factor trtol is set against.
    // A device's charge on the true local error would take its smooth
    // switching edges in some 2.5 times SPICE's points for the same trtol.
    double error = 0.0;
    if (secondOrder) {
        const double d1c = (q[1] - q[2]) / h2;
        const double d3 = (d2a - (d1b - d1c) / (h1 + h2)) / (h + h1 + h2);
        error = std::abs(h * h * d3 * (d.kind == Discretisation::Kind::Gear ? kGearError : kTrapezoidalError));
    } else {
        error = std::abs(h * d2a * kFirstOrderError);
    }
    if (!(error > 0.0)) return infinity;
    const double qMax = std::max({std::abs(pending), std::abs(q[0]), std::abs(q[1])});
    const double currentTolerance = o.reltol * std::max(std::abs(current(pending, d)), std::abs(flow)) + o.abstol;
    const double chargeTolerance = o.reltol * std::max(qMax, o.chgtol) / h;
    const double allowed = o.trtol * std::max(currentTolerance, chargeTolerance) + kChargeResolution * qMax / h;
    return secondOrder ? std::sqrt(allowed / error) : allowed / error;
}

}  // namespace udmhost::sim
