#include "sim/mosfet_level1.h"

#include <algorithm>
#include <cmath>

#include "junction_charge.h"
#include "sim/fet_limits.h"

namespace udmhost::sim {

namespace {

constexpr double kMaxExponent = 709.0;
// Meyer's model takes a saturation voltage below this as this.
constexpr double kMinSaturation = 0.025;

}  // namespace

ChannelCurrent level1Current(const MosfetParameters& p, double vgs, double vds, double vbs) {
    // In reverse the drain acts as the source: the law is evaluated on the
    // voltages to it and its current negated.
    const bool reversed = vds < 0.0;
    const double vg = reversed ? vgs - vds : vgs;   // gate to acting source
    const double vb = reversed ? vbs - vds : vbs;   // bulk to acting source
    const double vd = reversed ? -vds : vds;
    double sarg = 0.0, dSarg = 0.0;  // sqrt(phi - vb), smoothly continued for vb > 0
    if (vb <= 0.0) {
        sarg = std::sqrt(p.phi - vb);
        dSarg = -0.5 / sarg;
    } else {
        const double root = std::sqrt(p.phi);
        sarg = root - vb / (2.0 * root);
        dSarg = -0.5 / root;
        if (sarg < 0.0) sarg = dSarg = 0.0;
    }
    ChannelCurrent out;
    out.von = p.vto - p.gamma * std::sqrt(p.phi) + p.gamma * sarg;
    const double vgst = vg - out.von;
    const double dVgstDvb = -p.gamma * dSarg;
    out.vdsat = std::max(vgst, 0.0);
    out.actingVon = {out.von, 0.0, 0.0, -dVgstDvb};
    if (vgst > 0.0) out.actingVdsat = {vgst, 1.0, 0.0, dVgstDvb};
    double id = 0.0, gm = 0.0, gds = 0.0;  // in the acting orientation
    if (vgst > 0.0) {
        const double betap = p.beta * (1.0 + p.lambda * vd);
        if (vgst <= vd) {
            id = 0.5 * betap * vgst * vgst;
            gm = betap * vgst;
            gds = 0.5 * p.lambda * p.beta * vgst * vgst;
        } else {
            id = betap * vd * (vgst - 0.5 * vd);
            gm = betap * vd;
            gds = betap * (vgst - vd) + p.lambda * p.beta * vd * (vgst - 0.5 * vd);
        }
    }
    const double gmb = gm * dVgstDvb;
    if (!reversed) {
        out.id = id;
        out.dVgs = gm;
        out.dVds = gds;
        out.dVbs = gmb;
    } else {
        // id(vgs - vds, vbs - vds, -vds), negated.
        out.id = -id;
        out.dVgs = -gm;
        out.dVbs = -gmb;
        out.dVds = gm + gmb + gds;
    }
    return out;
}

MeyerHalves meyerHalves(const Dual& vgs, const Dual& vgd, const Dual& von, Dual vdsat, double phi, double cox) {
    MeyerHalves h;
    const Dual vgst = vgs - von;
    if (vdsat.v < kMinSaturation) vdsat = constant(kMinSaturation);
    const Dual vds = vgs - vgd;
    if (vgst.v <= -phi) {
        h.gb = constant(cox / 2.0);
    } else if (vgst.v <= -phi / 2.0) {
        h.gb = (-cox / (2.0 * phi)) * vgst;
    } else if (vgst.v <= 0.0) {
        h.gb = (-cox / (2.0 * phi)) * vgst;
        h.gs = (cox / (1.5 * phi)) * vgst + cox / 3.0;
        if (vds.v < vdsat.v) {
            const Dual dif = 2.0 * vdsat - vds, dif1 = vdsat - vds, dif2 = dif * dif;
            h.gd = h.gs * (1.0 - vdsat * vdsat / dif2);
            h.gs = h.gs * (1.0 - dif1 * dif1 / dif2);
        }
    } else if (vdsat.v <= vds.v) {
        h.gs = constant(cox / 3.0);
    } else {
        const Dual dif = 2.0 * vdsat - vds, dif1 = vdsat - vds, dif2 = dif * dif;
        h.gd = (cox / 3.0) * (1.0 - vdsat * vdsat / dif2);
        h.gs = (cox / 3.0) * (1.0 - dif1 * dif1 / dif2);
    }
    return h;
}

JunctionCharge bulkDepletion(const MosfetParameters& p, double bottom, double sidewall, double v) {
    // The bottom and the sidewall are two junctions of one potential in parallel.
    const udmdiode::ChargeAndCapacitance b = udmdiode::depletionCharge(bottom, p.pb, p.mj, p.fc, v);
    const udmdiode::ChargeAndCapacitance s = udmdiode::depletionCharge(sidewall, p.pb, p.mjsw, p.fc, v);
    JunctionCharge out;
    out.q = b.charge + s.charge;
    out.c = b.capacitance + s.capacitance;
    return out;
}

JunctionCurrent bulkJunctionCurrent(double is, double v) {
    const double vt = kThermalVoltage;
    if (v <= -3.0 * vt) return {kJunctionGmin * v - is, kJunctionGmin};
    const double e = std::exp(std::min(kMaxExponent, v / vt));
    return {is * (e - 1.0) + kJunctionGmin * v, is * e / vt + kJunctionGmin};
}

}  // namespace udmhost::sim
