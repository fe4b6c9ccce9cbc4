// The parameters of one bipolar transistor instance as the simulator uses
// them: its .model card (Gummel-Poon) with SPICE's defaults, the area and
// the parallel count already folded in.
#pragma once

namespace udmhost {

struct BjtParameters {
    double polarity = 1.0;  // +1 NPN, -1 PNP
    // Transport: saturation current, ideal betas and emission coefficients.
    double is = 1e-16, bf = 100.0, br = 1.0, nf = 1.0, nr = 1.0;
    // Non-ideal base currents of each junction.
    double ise = 0.0, ne = 1.5, isc = 0.0, nc = 2.0;
    // Early voltages (as their inverses, 0 for none) and the knees of high injection.
    double invVaf = 0.0, invVar = 0.0, invIkf = 0.0, invIkr = 0.0;
    // Depletion charges: zero-bias capacitance, potential, grading; the
    // share of the collector junction's at the internal base (XCJC).
    double cje = 0.0, vje = 0.75, mje = 0.33;
    double cjc = 0.0, vjc = 0.75, mjc = 0.33, xcjc = 1.0;
    double fc = 0.5;
    // Diffusion charges: transit times and the forward one's bias dependence.
    double tf = 0.0, xtf = 0.0, invVtf = 0.0, itf = 0.0, tr = 0.0;
    // A base resistance that falls from RB towards RBM as the current grows
    // (with IRB: the current where it is half way; without: as 1/qb), in
    // the transistor itself rather than a resistor; only where RBM < RB.
    bool modulatedBase = false;
    double rb = 0.0, rbm = 0.0, irb = 0.0;
    // The substrate junction's depletion charge (no current), from the
    // substrate to the collector, or to the base of a lateral transistor.
    double cjs = 0.0, vjs = 0.75, mjs = 0.0;
    bool lateral = false;
};

}  // namespace udmhost
