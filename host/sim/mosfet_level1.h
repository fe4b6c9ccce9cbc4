// The level-1 (Shichman-Hodges) MOSFET: drain current with body effect and
// channel-length modulation, Meyer's gate capacitances and the depletion
// charge of the bulk junctions. Voltages and currents are in the N-channel
// sense (a P-channel device's are negated before and after).
#pragma once

#include "sim/dual_number.h"

#include "netlist/mosfet_parameters.h"

namespace udmhost::sim {

// A drain current and its partial derivatives.
struct ChannelCurrent {
    double id = 0.0;                    // from drain to source
    double dVgs = 0.0, dVds = 0.0, dVbs = 0.0;
    double von = 0.0;                   // threshold at this bulk bias
    double vdsat = 0.0;
    // The same two with their derivatives by the voltages of the acting
    // orientation (gate, drain and bulk to the terminal acting as source).
    Dual actingVon, actingVdsat;
};

// Either sign of vds: with vds < 0 the source and drain change roles.
ChannelCurrent level1Current(const MosfetParameters& p, double vgs, double vds, double vbs);

// Half of the bias-dependent part of Meyer's gate capacitances (the other
// half is the previous time point's), in the device's own orientation:
// `vgs` and `vgd` of the terminal acting as source and drain. Each comes
// with its derivatives by the acting gate, drain and bulk voltages: near
// saturation a half moves fast with the bias, and a charge linearised
// without that slope sends Newton's iterates round a cycle.
struct MeyerHalves {
    Dual gs, gd, gb;
};
MeyerHalves meyerHalves(const Dual& vgs, const Dual& vgd, const Dual& von, Dual vdsat, double phi, double cox);

// Depletion charge and capacitance of a bulk junction at forward voltage v.
struct JunctionCharge {
    double q = 0.0, c = 0.0;
};
JunctionCharge bulkDepletion(const MosfetParameters& p, double bottom, double sidewall, double v);

// Current and conductance of a bulk junction (saturation current `is`), GMIN included.
struct JunctionCurrent {
    double i = 0.0, g = 0.0;
};
JunctionCurrent bulkJunctionCurrent(double is, double v);

}  // namespace udmhost::sim
