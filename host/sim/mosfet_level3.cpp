#include "sim/mosfet_level3.h"

#include <algorithm>
#include <cmath>

#include "sim/dual_number.h"
#include "sim/fet_limits.h"

namespace udmhost::sim {

namespace {

// The fit of the junction's cylindrical corner in the short-channel factor.
constexpr double kCorner0 = 0.0631353, kCorner1 = 0.8013292, kCorner2 = -0.01110777;

// The law in the acting orientation: vd >= 0.
struct Acting {
    Dual id, von, vdsat;
};

Acting acting(const MosfetParameters& p, const Dual& vg, const Dual& vd, const Dual& vb) {
    const MosfetParameters::Level3& q = p.level3;
    const double vt = kThermalVoltage, length = q.length;
    // sqrt(phi - vb), continued smoothly for a forward-biased bulk.
    Dual phibs, sqphbs;
    if (vb.v <= 0.0) {
        phibs = p.phi - vb;
        sqphbs = sqrt(phibs);
    } else {
        const double sqphis = std::sqrt(p.phi);
        sqphbs = sqphis / (1.0 + vb / (2.0 * p.phi));
        phibs = sqphbs * sqphbs;
    }
    // Short channel: the source and drain junctions take part of the bulk charge.
    Dual fshort = constant(1.0);
    if (q.junctionDepth != 0.0 && q.depletionWidth != 0.0) {
        const Dual wponxj = q.depletionWidth * sqphbs / q.junctionDepth;
        const double djonxj = q.lateralDiffusion / q.junctionDepth;
        const Dual arga = kCorner0 + kCorner1 * wponxj + kCorner2 * wponxj * wponxj + djonxj;
        const Dual argc = wponxj / (1.0 + wponxj);
        const Dual argb = sqrt(1.0 - argc * argc);
        fshort = 1.0 - (q.junctionDepth / length) * (arga * argb - djonxj);
    }
    const Dual gammas = p.gamma * fshort;
    const Dual fbody = gammas / (4.0 * sqphbs) + q.narrow;
    const Dual qbonco = gammas * sqphbs + q.narrow * phibs;
    const Dual vth = q.vbi - q.eta * vd + qbonco;
    Dual von = vth, xn = constant(1.0);
    if (q.fastStates != 0.0) {
        xn = 1.0 + q.fastStates + qbonco / (2.0 * phibs);
        von = vth + vt * xn;
    } else if (vg.v <= von.v) {
        return {Dual{}, von, Dual{}};  // cut off
    }
    const Dual vgsx = greater(vg, von);
    const Dual fgate = 1.0 / (1.0 + p.theta * (vgsx - vth));
    // Saturation voltage, lowered by velocity saturation.
    Dual vdsat = (vgsx - vth) / (1.0 + fbody);
    Dual vdsc;
    if (q.vmax > 0.0) {
        vdsc = length * q.vmax / (q.u0 * 1e-4 * fgate);
        const Dual arga = vdsat;
        vdsat = arga + vdsc - sqrt(arga * arga + vdsc * vdsc);
    }
    const bool saturated = vd.v > vdsat.v;
    const Dual vdsx = lesser(vd, vdsat);
    Dual id = p.beta * fgate * (vgsx - vth - 0.5 * (1.0 + fbody) * vdsx) * vdsx;
    Dual fdrain = constant(1.0);
    if (q.vmax > 0.0) {
        fdrain = 1.0 / (1.0 + vdsx / vdsc);
        id = id * fdrain;
    }
    // Channel-length modulation: the pinched-off length delxl.
    Dual delxl;
    bool modulated = true;
    if (!saturated) {
        if (q.vmax > 0.0 || q.alpha == 0.0 || vdsat.v == 0.0) {
            modulated = false;
        } else {
            // Its onset within the linear region, as the fourth power of vds/vdsat.
            Dual ratio = vd / vdsat;
            ratio = ratio * ratio;
            delxl = sqrt(q.kappa * q.alpha * vdsat / 8.0) * ratio * ratio;
        }
    } else if (q.alpha == 0.0) {
        modulated = false;
    } else if (q.vmax <= 0.0) {
        delxl = sqrt(q.kappa * q.alpha * (vd - vdsat + vdsat / 8.0));
    } else {
        // The field at the pinch-off point from the current's sensitivity
        // to the saturation drop.
        const Dual cdsat = id;
        Dual gdsat = cdsat * (1.0 - fdrain) / vdsc;
        if (gdsat.v < 1e-12) gdsat = constant(1e-12);
        const Dual emax = q.kappa * cdsat / (length * gdsat);
        const Dual arga = 0.5 * q.alpha * emax;
        const Dual argb = sqrt(arga * arga + q.kappa * q.alpha * (vd - vdsat));
        delxl = argb - arga;
    }
    if (modulated) {
        // Punch-through: the pinched-off part approaches the whole length.
        if (delxl.v > 0.5 * length) delxl = length - length * length / (4.0 * delxl);
        id = id / (1.0 - delxl / length);
    }
    if (vg.v < von.v) id = id * exp((vg - von) / (vt * xn));  // weak inversion
    return {id, von, vdsat};
}

}  // namespace

ChannelCurrent level3Current(const MosfetParameters& p, double vgs, double vds, double vbs) {
    const bool reversed = vds < 0.0;
    const Dual vg{reversed ? vgs - vds : vgs, 1.0, 0.0, 0.0};
    const Dual vd{reversed ? -vds : vds, 0.0, 1.0, 0.0};
    const Dual vb{reversed ? vbs - vds : vbs, 0.0, 0.0, 1.0};
    const Acting a = acting(p, vg, vd, vb);
    ChannelCurrent out;
    out.von = a.von.v;
    out.vdsat = a.vdsat.v;
    out.actingVon = a.von;
    out.actingVdsat = a.vdsat;
    if (!reversed) {
        out.id = a.id.v;
        out.dVgs = a.id.g;
        out.dVds = a.id.d;
        out.dVbs = a.id.b;
    } else {
        // id(vgs - vds, -vds, vbs - vds), negated.
        out.id = -a.id.v;
        out.dVgs = -a.id.g;
        out.dVbs = -a.id.b;
        out.dVds = a.id.g + a.id.d + a.id.b;
    }
    return out;
}

}  // namespace udmhost::sim
