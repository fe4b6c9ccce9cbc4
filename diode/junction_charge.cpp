#include "junction_charge.h"

#include <algorithm>
#include <cmath>

namespace udmdiode {

ChargeAndCapacitance depletionCharge(double zeroBias, double potential, double grading, double forward, double v) {
    if (zeroBias == 0.0) return {0.0, 0.0};
    const double m = std::clamp(grading, 0.0, kLargestGrading);
    const double fc = std::clamp(forward, 0.0, kLargestForwardCoefficient);
    const double vj = potential, corner = fc * vj;
    if (v < corner) {
        // C = CJO (1 - v/VJ)^-M, and its integral from 0.
        const double arg = 1.0 - v / vj;
        const double power = std::pow(arg, -m);
        return {vj * zeroBias * (1.0 - arg * power) / (1.0 - m), zeroBias * power};
    }
    // Beyond the corner the capacitance goes on along its tangent there:
    // C = CJO / (1-FC)^(1+M) * (1 - FC (1+M) + M v / VJ), continuous in
    // value and slope at v = FC VJ, and the charge its integral.
    const double atCorner = vj * (1.0 - std::pow(1.0 - fc, 1.0 - m)) / (1.0 - m);
    const double scale = zeroBias / std::pow(1.0 - fc, 1.0 + m);
    const double constant = 1.0 - fc * (1.0 + m);
    const double charge =
        zeroBias * atCorner + scale * (constant * (v - corner) + m / (2.0 * vj) * (v * v - corner * corner));
    return {charge, scale * (constant + m * v / vj)};
}

}  // namespace udmdiode
