// Two values the same to within the Newton tolerances: reltol of the larger
// magnitude plus an absolute part (abstol for currents and conductances,
// vntol for voltages).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace udmhost::sim {

inline bool withinTolerance(double a, double b, double reltol, double absolute) {
    return std::abs(a - b) <= reltol * std::max(std::abs(a), std::abs(b)) + absolute;
}

// Every one of n values of a the same as b's to within the tolerances.
inline bool allWithinTolerance(const double* a, const double* b, std::size_t n, double reltol, double absolute) {
    for (std::size_t k = 0; k < n; ++k)
        if (!withinTolerance(a[k], b[k], reltol, absolute)) return false;
    return true;
}

}  // namespace udmhost::sim
