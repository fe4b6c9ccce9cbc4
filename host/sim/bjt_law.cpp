#include "sim/bjt_law.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "junction_charge.h"
#include "sim/dual_number.h"
#include "sim/fet_limits.h"

namespace udmhost::sim {

namespace {

// A junction's current s (exp(v / nvt) - 1), continued below -3 n vt by
// SPICE's cubic tail towards -s, which keeps it smooth and bounded.
Dual junction(double s, double n, const Dual& v) {
    if (s == 0.0) return Dual{};
    const double nvt = n * kThermalVoltage;
    if (v.v >= -3.0 * nvt) return s * (exp(v / nvt) - 1.0);
    const Dual a = (3.0 * nvt / std::numbers::e) / v;
    return -1.0 * s * (1.0 + a * a * a);
}

}  // namespace

BjtState gummelPoon(const BjtParameters& p, double vbe, double vbc) {
    // Partials: g by vbe, d by vbc.
    const Dual be{vbe, 1.0, 0.0, 0.0}, bc{vbc, 0.0, 1.0, 0.0};
    const Dual forward = junction(p.is, p.nf, be), reverse = junction(p.is, p.nr, bc);
    const Dual leakBe = junction(p.ise, p.ne, be) + kJunctionGmin * be;
    const Dual leakBc = junction(p.isc, p.nc, bc) + kJunctionGmin * bc;
    // The normalised base charge: Early effect, then high injection.
    const Dual q1 = 1.0 / (1.0 - p.invVaf * bc - p.invVar * be);
    Dual qb = q1;
    if (p.invIkf != 0.0 || p.invIkr != 0.0) {
        const Dual q2 = p.invIkf * forward + p.invIkr * reverse;
        const Dual arg = 1.0 + 4.0 * q2;
        qb = arg.v > 0.0 ? q1 * (1.0 + sqrt(arg)) / 2.0 : q1;
    }
    const Dual transport = (forward - reverse) / qb;
    const Dual baseEmitter = forward / p.bf + leakBe, baseCollector = reverse / p.br + leakBc;
    BjtState s;
    s.it = transport.v, s.itBe = transport.g, s.itBc = transport.d;
    s.ibe = baseEmitter.v, s.ibeBe = baseEmitter.g;
    s.ibc = baseCollector.v, s.ibcBc = baseCollector.d;
    // The forward diffusion charge, with TF's rise at high current (XTF,
    // ITF) and with the collector junction's bias (VTF).
    Dual diffusion = p.tf * forward;
    if (p.tf != 0.0 && vbe > 0.0) {
        Dual factor = constant(p.xtf);
        if (p.xtf != 0.0) {
            if (p.invVtf != 0.0) factor = factor * exp(p.invVtf * bc);
            if (p.itf != 0.0) {
                const Dual share = forward / (forward + p.itf);
                factor = factor * share * share;
            }
        }
        diffusion = p.tf * forward * (1.0 + factor) / qb;
    }
    const udmdiode::ChargeAndCapacitance depletionBe = udmdiode::depletionCharge(p.cje, p.vje, p.mje, p.fc, vbe);
    const udmdiode::ChargeAndCapacitance depletionBc =
        udmdiode::depletionCharge(p.cjc * p.xcjc, p.vjc, p.mjc, p.fc, vbc);
    s.qbe = diffusion.v + depletionBe.charge;
    s.cbe = diffusion.g + depletionBe.capacitance;
    s.qbc = p.tr * reverse.v + depletionBc.charge;
    s.cbc = p.tr * reverse.d + depletionBc.capacitance;
    s.qb = qb.v;
    return s;
}

void externalBaseCharge(const BjtParameters& p, double vbx, double& q, double& c) {
    const udmdiode::ChargeAndCapacitance d =
        udmdiode::depletionCharge(p.cjc * (1.0 - p.xcjc), p.vjc, p.mjc, p.fc, vbx);
    q = d.charge;
    c = d.capacitance;
}

void substrateCharge(const BjtParameters& p, double vsub, double& q, double& c) {
    if (vsub < 0.0) {
        const double arg = 1.0 - vsub / p.vjs, sarg = std::exp(-p.mjs * std::log(arg));
        q = p.vjs * p.cjs * (1.0 - arg * sarg) / (1.0 - p.mjs);
        c = p.cjs * sarg;
    } else {
        q = vsub * p.cjs * (1.0 + p.mjs * vsub / (2.0 * p.vjs));
        c = p.cjs * (1.0 + p.mjs * vsub / p.vjs);
    }
}

double modulatedBaseConductance(const BjtParameters& p, double qb, double baseCurrent) {
    const double excess = p.rb - p.rbm;
    double r = p.rbm + excess / qb;
    if (p.irb != 0.0) {
        // The current crowding of a base that the current pinches.
        const double share = std::max(baseCurrent / p.irb, 1e-9);
        const double z = (-1.0 + std::sqrt(1.0 + 14.59025 * share)) / 2.4317 / std::sqrt(share);
        const double tz = std::tan(z);
        r = p.rbm + 3.0 * excess * (tz - z) / z / tz / tz;
    }
    return r != 0.0 ? 1.0 / r : 0.0;
}

}  // namespace udmhost::sim
