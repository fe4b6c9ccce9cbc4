// The Gummel-Poon bipolar transistor: transport current with the Early
// effect and high injection through the base charge qb, the junctions' ideal
// and leakage base currents, and the depletion and diffusion charges.
// Voltages and currents in the NPN sense (a PNP's are negated before and after).
#pragma once

#include "netlist/bjt_parameters.h"

namespace udmhost::sim {

struct BjtState {
    // Currents at vbe, vbc and their derivatives by each (be, bc):
    double it = 0.0, itBe = 0.0, itBc = 0.0;      // transport, collector to emitter
    double ibe = 0.0, ibeBe = 0.0;                // base to emitter, GMIN included
    double ibc = 0.0, ibcBc = 0.0;                // base to collector, GMIN included
    // Charges of the base-emitter and base-collector junctions and their
    // capacitances by their own voltages (the diffusion charge's dependence
    // on the other junction through qb is left out of the Jacobian).
    double qbe = 0.0, cbe = 0.0, qbc = 0.0, cbc = 0.0;
    double qb = 1.0;  // the normalised base charge
};

// `vbx`: the external base to the collector, across the collector
// junction's share (1 - XCJC) outside the base resistance.
BjtState gummelPoon(const BjtParameters& p, double vbe, double vbc);
// That share's depletion charge.
void externalBaseCharge(const BjtParameters& p, double vbx, double& q, double& c);
// The substrate junction's charge at `vsub` (substrate to its collector or
// base, in the NPN sense), SPICE's: no linear extension forward.
void substrateCharge(const BjtParameters& p, double vsub, double& q, double& c);
// The conductance of a modulated base resistance, SPICE's (its dependence on
// the bias is left out of the Jacobian, as there); `baseCurrent` the ideal
// and leakage base currents.
double modulatedBaseConductance(const BjtParameters& p, double qb, double baseCurrent);

}  // namespace udmhost::sim
