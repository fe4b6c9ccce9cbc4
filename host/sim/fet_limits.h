// SPICE's per-iteration limits on the voltages of FETs and junctions: a
// Newton update that would throw an exponential or a square law far past
// where it was linearised is cut back to a step it can be trusted over.
#pragma once

namespace udmhost::sim {

// A gate voltage `vnew` from `vold`, around the threshold `vto`.
double limitFetGate(double vnew, double vold, double vto);
// A drain-source voltage `vnew` from `vold`.
double limitDrainSource(double vnew, double vold);
// A junction voltage `vnew` from `vold` (thermal voltage vt, critical
// voltage vcrit); `limited` says whether it was cut.
double limitJunction(double vnew, double vold, double vt, double vcrit, bool& limited);

// kT/q at 27 degrees Celsius, the nominal temperature.
constexpr double kThermalVoltage = 1.38064852e-23 / 1.6021766208e-19 * 300.15;
// From every junction, as SPICE's GMIN.
constexpr double kJunctionGmin = 1e-12;

}  // namespace udmhost::sim
