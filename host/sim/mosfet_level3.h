// The level-3 MOSFET: SPICE's semi-empirical short-channel law, with the
// threshold lowered by the drain (ETA) and by short and narrow channels
// (XJ, DELTA), mobility reduced by the gate field (THETA), velocity
// saturation (VMAX), the pinched-off length in saturation (KAPPA) and weak
// inversion (NFS). Its gate capacitances and bulk junctions are level 1's.
#pragma once

#include "netlist/mosfet_parameters.h"
#include "sim/mosfet_level1.h"

namespace udmhost::sim {

// Either sign of vds: with vds < 0 the source and drain change roles. The
// derivatives are exact (forward differentiation of the law itself).
ChannelCurrent level3Current(const MosfetParameters& p, double vgs, double vds, double vbs);

}  // namespace udmhost::sim
