// The parameters of one MOSFET instance as the simulator uses them: read
// from its .model card and its element line, with SPICE's defaults applied
// and the instance's size (L, W, M) already folded in.
#pragma once

namespace udmhost {

struct MosfetParameters {
    enum class Law { Level1, Level3, Vdmos };
    Law law = Law::Level1;
    double polarity = 1.0;  // +1 N-channel, -1 P-channel

    // Drain current, both laws.
    double vto = 0.0;       // threshold voltage at zero bulk bias (volts)
    double beta = 2e-5;     // KP*W/L*M (level 1) or KP*M (VDMOS), A/V^2
    double lambda = 0.0;    // channel-length modulation, 1/V
    // Level 1: body effect.
    double gamma = 0.0;     // sqrt(V)
    double phi = 0.6;       // surface potential, V
    // VDMOS and level 3: mobility reduction by the gate field, 1/V.
    double theta = 0.0;
    // VDMOS: triode scaling, weak inversion smoothing.
    double mtriode = 1.0;
    double ksubthres = 0.1;  // V
    double subshift = 0.0;   // V

    // Level 3 (the semi-empirical short-channel law), the geometry folded in.
    struct Level3 {
        double vbi = 0.0;        // VTO less the body term at zero bulk bias, V
        double eta = 0.0;        // static feedback: the threshold falls by eta per volt of vds
        double kappa = 0.2;      // saturation field factor
        double vmax = 0.0;       // carriers' drift velocity limit, m/s (0: none)
        double u0 = 600.0;       // surface mobility, cm^2/Vs
        double fastStates = 0.0; // q NFS over the oxide capacitance per area, V (0: no weak inversion)
        double junctionDepth = 0.0, lateralDiffusion = 0.0;  // XJ, LD, m
        double depletionWidth = 0.0;  // coefficient of the depletion layer's width, m/sqrt(V) (0 without NSUB)
        double alpha = 0.0;           // its square, for the pinched-off length (0 without NSUB)
        double narrow = 0.0;          // narrow-width factor over the effective width
        double length = 1e-4;         // effective channel length, m
    } level3;

    // Level 1 and 3 gate capacitances: overlaps (farads) and the oxide's.
    double cgso = 0.0, cgdo = 0.0, cgbo = 0.0, cox = 0.0;
    // Level 1 and 3 bulk junctions: saturation currents, zero-bias bottom and
    // sidewall depletion capacitances, potential, grading, forward coefficient.
    double drainSatCur = 1e-14, sourceSatCur = 1e-14;
    double cbd = 0.0, cbdsw = 0.0, cbs = 0.0, cbssw = 0.0;
    double pb = 0.8, mj = 0.5, mjsw = 0.5, fc = 0.5;

    // VDMOS gate capacitances: the gate-drain one between CGDMIN and CGDMAX
    // with steepness A; CGS constant.
    double cgdmin = 0.0, cgdmax = 0.0, a = 1.0, cgs = 0.0;
    // VDMOS body diode, from source to drain.
    double is = 1e-14, n = 1.0, cjo = 0.0, vj = 0.8, m = 0.5, tt = 0.0;
    double diodeFc = 0.5;
    bool hasBreakdown = false;
    double bv = 1e30, ibv = 1e-10;  // bv: the breakdown knee once matched to IBV
    double nbv = 1.0;               // emission coefficient of the breakdown
};

}  // namespace udmhost
