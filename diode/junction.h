// The law of a junction diode with series resistance, breakdown and stored
// charge, and the voltage limiting that keeps its series-resistance solve on
// the exponential.
#pragma once

#include "junction_charge.h"

namespace udmdiode {

struct DiodeParameters {
    double saturationCurrent = 1e-14;  // IS, amperes, before AREA
    double emission = 1.0;             // N
    double seriesResistance = 0.0;     // RS, ohms, before AREA
    double breakdownVoltage = 0.0;     // BV, volts; 0: no breakdown
    double breakdownCurrent = 1e-3;    // IBV, amperes, before AREA
    double area = 1.0;
    double multiplier = 1.0;           // parallel copies
    double junctionCapacitance = 0.0;  // CJO, farads, before AREA
    double junctionPotential = 1.0;    // VJ, volts
    double grading = 0.5;              // M of the model card
    double forwardCoefficient = 0.5;   // FC
    double transitTime = 0.0;          // TT, seconds
};

// The charge's companion model under the host's integration rule: the
// current into the junction's charge q is rate * q + history, where the
// history is what the accepted points contribute. Zero rate: no charge
// current (an operating point).
struct ChargeCompanion {
    double rate = 0.0;     // 1/s
    double history = 0.0;  // amperes, per parallel copy
};

// The diode's linear model at one terminal voltage: i = conductance * v + offset.
struct Linearised {
    double junctionVoltage;  // across the junction
    double current;          // anode to cathode, at the terminal voltage the junction voltage gives
    double conductance;      // d current / d terminal voltage, GMIN included
    double offset;           // current - conductance * terminal voltage
    double charge;           // stored at the junction voltage, per parallel copy
    double chargeCurrent;    // into that charge, per parallel copy (included in current)
};

// kT/q at 300.15 K, with the constants SPICE uses (0.025852 is kT/q at 300 K).
constexpr double kThermalVoltage = 1.38064852e-23 / 1.6021766208e-19 * 300.15;
constexpr double kGmin = 1e-12;          // siemens, in parallel with every junction
constexpr double kLargestCurrent = 1e4;  // amperes: the exponential law ends here

// SPICE's junction limiting: a step of the junction voltage beyond twice the
// thermal voltage above the critical voltage is taken logarithmically, but
// from below the critical voltage it goes at least to it.
double limitJunctionVoltage(double proposed, double previous, double thermal, double critical);

// The junction's stored charge, per parallel copy, and its capacitance.
ChargeAndCapacitance storedCharge(const DiodeParameters& p, double junctionVoltage);

// No junction voltage to limit against.
inline constexpr double kUnlimited = __builtin_nan("");

// The linear model at terminal voltage `v`, a function of `v`, the charge's
// companion and `limitFrom` alone. With series resistance the junction
// voltage is solved by limited steps from `previousJunctionVoltage` (the
// plug-in passes that of the last accepted step), which only speeds the
// solve. A junction voltage more than twice the thermal voltage above
// `limitFrom` (the last Newton iterate's) and above the critical voltage is
// limited as SPICE limits it (from below, to the critical voltage at least),
// and the model passes through the limited point; a converged iterate is
// never limited, so a converged point always meets the diode's law. A wild iterate beyond that is tamed by the
// straight continuation of the exponential beyond kLargestCurrent.
Linearised linearise(const DiodeParameters& p, double v, double previousJunctionVoltage,
                     const ChargeCompanion& companion = {}, double limitFrom = kUnlimited);

}  // namespace udmdiode
