// SPICE's switch comparisons expressed in the switch plug-in's parameters.
#pragma once

namespace udmhost::netlist {

// The plug-in's threshold and hysteresis: it closes at a control >= their
// sum and opens at a control <= their difference.
struct PlugInEdges {
    double threshold;
    double hysteresis;
};

// The plug-in parameters under which a switch of SPICE's VT and VH (VH >= 0)
// changes state where SPICE's does. SPICE closes above VT+VH, opens below
// VT-VH and holds its state on the edges themselves: each edge moves outward
// by the least the plug-in's sums allow (one double, sometimes two). Without hysteresis SPICE's band shrinks to VT itself, where
// the switch takes the state opposite to the side the control came from; a
// two-state law cannot follow that, so VT counts as below: the edge moves
// one double up and a control resting on VT keeps the switch open.
PlugInEdges plugInEdges(double vt, double vh);

}  // namespace udmhost::netlist
