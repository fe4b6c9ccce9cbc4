// The vertical power MOSFET as SPICE simulators commonly read `.model NAME
// VDMOS`: a square-law channel with mobility reduction (THETA), a triode
// scale (MTRIODE) and a smooth weak-inversion onset, a gate-drain
// capacitance that swings between CGDMIN and CGDMAX, a constant CGS, and a
// body diode from source to drain with depletion and diffusion charge and
// breakdown. Voltages in the N-channel sense.
#pragma once

#include "netlist/mosfet_parameters.h"
#include "sim/mosfet_level1.h"

namespace udmhost::sim {

// Either sign of vds.
ChannelCurrent vdmosCurrent(const MosfetParameters& p, double vgs, double vds);

// Half of each gate capacitance at the gate-drain voltage vgd (the other
// half is the previous time point's).
struct VdmosHalves {
    double gs = 0.0, gd = 0.0;
};
VdmosHalves vdmosHalves(const MosfetParameters& p, double vgd);

// The body diode at forward voltage vd (anode at the source).
struct DiodeState {
    double i = 0.0, g = 0.0;   // GMIN included
    double q = 0.0, c = 0.0;   // depletion and diffusion charge
};
DiodeState bodyDiode(const MosfetParameters& p, double vd);
// Its critical voltage for the junction limit.
double bodyDiodeVcrit(const MosfetParameters& p);
// The breakdown knee at which the reverse current reaches IBV.
double matchedBreakdown(double is, double bv, double ibv, double nbv, double reltol);

}  // namespace udmhost::sim
