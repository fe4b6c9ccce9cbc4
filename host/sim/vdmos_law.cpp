#include "sim/vdmos_law.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "junction_charge.h"
#include "sim/fet_limits.h"

namespace udmhost::sim {

ChannelCurrent vdmosCurrent(const MosfetParameters& p, double vgs, double vds) {
    const double mode = vds >= 0.0 ? 1.0 : -1.0;
    // The gate voltage to the terminal acting as source.
    const double vg = mode > 0.0 ? vgs : vgs - vds;
    const double dVgDvds = mode > 0.0 ? 0.0 : -1.0;
    const double overdrive = vg - p.vto;
    // The overdrive goes over smoothly into weak inversion: slope*ln(1+e^(x/slope)).
    double vgst = 0.0, dVgst = 0.0;
    if (p.ksubthres > 0.0) {
        const double x = (overdrive - p.subshift) / p.ksubthres;
        vgst = p.ksubthres * (x > 0.0 ? x + std::log1p(std::exp(-x)) : std::log1p(std::exp(x)));
        dVgst = x > 0.0 ? 1.0 / (1.0 + std::exp(-x)) : std::exp(x) / (1.0 + std::exp(x));
    } else if (overdrive > 0.0) {
        vgst = overdrive;
        dVgst = 1.0;
    }
    // As the simulators that read these cards: the mobility reduction sees
    // vgs and the length modulation vds as the terminals give them, in
    // either mode; only the triode voltage follows the mode.
    const double t0 = 1.0 + p.lambda * vds, t1 = 1.0 + p.theta * vgs;
    const double betap = p.beta * t0 / t1;
    const double dBetaDvgs = -p.beta * p.theta * t0 / (t1 * t1), dBetaDvds = p.beta * p.lambda / t1;
    const double vdss = vds * p.mtriode * mode;
    double cdrain = 0.0, dVgstPart = 0.0, dVdssPart = 0.0, dBetaPart = 0.0;
    if (vgst <= vdss) {
        cdrain = 0.5 * betap * vgst * vgst;
        dVgstPart = betap * vgst;
        dBetaPart = 0.5 * vgst * vgst;
    } else {
        cdrain = betap * vdss * (vgst - 0.5 * vdss);
        dVgstPart = betap * vdss;
        dVdssPart = betap * (vgst - vdss);
        dBetaPart = vdss * (vgst - 0.5 * vdss);
    }
    ChannelCurrent out;
    out.id = mode * cdrain;
    out.dVgs = mode * (dVgstPart * dVgst + dBetaPart * dBetaDvgs);
    out.dVds = mode * (dVgstPart * dVgst * dVgDvds + dVdssPart * p.mtriode * mode + dBetaPart * dBetaDvds);
    out.von = p.vto;
    out.vdsat = std::max(overdrive, 0.0);
    return out;
}

VdmosHalves vdmosHalves(const MosfetParameters& p, double vgd) {
    const double s = (p.cgdmax - p.cgdmin) / (1.0 + std::numbers::pi / 2.0);
    const double y = p.cgdmax - s;
    VdmosHalves h;
    h.gd = 0.5 * (s * (vgd > 0.0 ? std::tanh(p.a * vgd) : std::atan(p.a * vgd)) + y);
    h.gs = 0.5 * p.cgs;
    return h;
}

DiodeState bodyDiode(const MosfetParameters& p, double vd) {
    const double vte = p.n * kThermalVoltage;
    DiodeState out;
    double i = 0.0, g = 0.0;
    if (vd >= -3.0 * vte) {
        const double e = std::exp(vd / vte);
        i = p.is * (e - 1.0);
        g = p.is * e / vte;
    } else if (!p.hasBreakdown || vd >= -p.bv) {
        const double arg = 3.0 * vte / (vd * std::numbers::e), arg3 = arg * arg * arg;
        i = -p.is * (1.0 + arg3);
        g = p.is * 3.0 * arg3 / vd;
    } else {
        const double vtBreakdown = p.nbv * kThermalVoltage;
        const double e = std::exp(-(p.bv + vd) / vtBreakdown);
        i = -p.is * e;
        g = p.is * e / vtBreakdown;
    }
    out.i = i + kJunctionGmin * vd;
    out.g = g + kJunctionGmin;
    const udmdiode::ChargeAndCapacitance depletion = udmdiode::depletionCharge(p.cjo, p.vj, p.m, p.diodeFc, vd);
    out.q = depletion.charge;
    out.c = depletion.capacitance;
    out.q += p.tt * i;
    out.c += p.tt * g;
    return out;
}

double bodyDiodeVcrit(const MosfetParameters& p) {
    const double vte = p.n * kThermalVoltage;
    return vte * std::log(vte / (std::numbers::sqrt2 * p.is));
}

double matchedBreakdown(double is, double bv, double ibv, double nbv, double reltol) {
    const double vt = kThermalVoltage, vtb = nbv * kThermalVoltage;
    bv = std::abs(bv);
    if (ibv < is * bv / vt) return bv;
    double knee = bv - vtb * std::log(1.0 + ibv / is);
    for (int iteration = 0; iteration < 25; ++iteration) {
        knee = bv - vtb * std::log(ibv / is + 1.0 - knee / vt);
        const double current = is * (std::exp((bv - knee) / vtb) - 1.0 + knee / vt);
        if (std::abs(current - ibv) <= reltol * ibv) break;
    }
    return knee;
}

}  // namespace udmhost::sim
