#include "netlist/switch_edges.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace udmhost::netlist {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The plug-in's value parser refuses magnitudes below the smallest normal
// double (other than zero): such a value goes up to the next it reads.
double readable(double v) {
    if (v == 0.0 || std::abs(v) >= std::numeric_limits<double>::min()) return v;
    return v > 0.0 ? std::numeric_limits<double>::min() : 0.0;
}

}  // namespace

PlugInEdges plugInEdges(double vt, double vh) {
    if (!std::isfinite(vt) || !std::isfinite(vh)) return {vt, vh};
    if (vh == 0.0) return {readable(std::nextafter(vt, kInfinity)), 0.0};
    // The edges as SPICE forms them, VT+VH and VT-VH in doubles, one step out.
    const double close = std::nextafter(vt + vh, kInfinity);
    const double open = std::nextafter(vt - vh, -kInfinity);
    double h = readable(std::max(close - vt, vt - open));
    // The differences round; a few steps of h put both edges outside.
    for (int step = 0; step < 64 && !(vt + h >= close && vt - h <= open); ++step) h = std::nextafter(h, kInfinity);
    return {vt, h};
}

}  // namespace udmhost::netlist
