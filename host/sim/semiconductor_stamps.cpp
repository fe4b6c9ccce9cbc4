#include "sim/semiconductor_stamps.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/bjt_law.h"
#include "sim/fet_limits.h"
#include "sim/mosfet_level1.h"
#include "sim/mosfet_level3.h"
#include "sim/newton_tolerance.h"
#include "sim/vdmos_law.h"

namespace udmhost::sim {

namespace {

// Terminals in Element::nodes order: a MOSFET's, and a bipolar transistor's
// (collector, base and emitter behind their resistances, then the base outside).
enum Terminal { kDrain = 0, kGate = 1, kSource = 2, kBulk = 3, kOuterDrain = 3, kAnode = 4 };
enum BipolarTerminal { kCollector = 0, kBase = 1, kEmitter = 2, kOuterBase = 3, kSubstrate = 4 };
// A limit that moved a voltage by more than this leaves the iterate unconverged.
constexpr double kLimitedBy = 1e-9;

double voltage(const std::vector<int>& u, const double* x, int a, int b) {
    const double va = u[static_cast<size_t>(a)] >= 0 ? x[u[static_cast<size_t>(a)]] : 0.0;
    const double vb = u[static_cast<size_t>(b)] >= 0 ? x[u[static_cast<size_t>(b)]] : 0.0;
    return va - vb;
}

// SPICE's limits on a FET's gate and drain-source voltages against the last
// iterate's, taken from the side that conducts: the source's when VDS >= 0,
// else the drain's.
void limitGateAndDrainSource(double& vgs, double& vds, double oldVgs, double oldVds, double von) {
    double vgd = vgs - vds;
    if (oldVds >= 0.0) {
        vgs = limitFetGate(vgs, oldVgs, von);
        vds = limitDrainSource(vgs - vgd, oldVds);
    } else {
        vgd = limitFetGate(vgd, oldVgs - oldVds, von);
        vds = -limitDrainSource(-(vgs - vgd), -oldVds);
        vgs = vgd + vds;
    }
}

}  // namespace

void SemiconductorStamps::Linear::branch(int from, int to, int a, int b, double value, double dg, double v0) {
    g[static_cast<size_t>(from)][static_cast<size_t>(a)] += dg;
    g[static_cast<size_t>(from)][static_cast<size_t>(b)] -= dg;
    g[static_cast<size_t>(to)][static_cast<size_t>(a)] -= dg;
    g[static_cast<size_t>(to)][static_cast<size_t>(b)] += dg;
    const double equivalent = value - dg * v0;
    i[static_cast<size_t>(from)] += equivalent;
    i[static_cast<size_t>(to)] -= equivalent;
}

SemiconductorStamps::SemiconductorStamps(const Circuit& circuit) {
    for (size_t e = 0; e < circuit.elements.size(); ++e) {
        const Element& el = circuit.elements[e];
        if (el.kind != Element::Kind::Mosfet && el.kind != Element::Kind::Bipolar) continue;
        Device dev{};
        dev.element = e;
        auto charge = [&](int plus, int minus, bool meyer, double overlap) {
            Charge c;
            c.plus = plus, c.minus = minus, c.meyer = meyer, c.overlap = overlap;
            dev.charges.push_back(c);
        };
        const double vt = kThermalVoltage;
        if (el.kind == Element::Kind::Bipolar) {
            dev.bipolar = true;
            dev.q = *el.bipolar;
            for (int n : el.nodes) dev.unknowns.push_back(CircuitEquations::nodeUnknown(n));
            charge(kBase, kEmitter, false, 0.0);
            charge(kBase, kCollector, false, 0.0);
            charge(kOuterBase, kCollector, false, 0.0);
            if (el.nodes.size() > kSubstrate) charge(kSubstrate, dev.q.lateral ? kBase : kCollector, false, 0.0);
            dev.vcritSource = vt * std::log(vt / (std::sqrt(2.0) * dev.q.is));
            devices_.push_back(std::move(dev));
            continue;
        }
        dev.p = *el.mosfet;
        if (dev.p.hasBreakdown) dev.p.bv = matchedBreakdown(dev.p.is, dev.p.bv, dev.p.ibv, dev.p.nbv, circuit.options.reltol);
        for (int n : el.nodes) dev.unknowns.push_back(CircuitEquations::nodeUnknown(n));
        const MosfetParameters& p = dev.p;
        if (p.law != MosfetParameters::Law::Vdmos) {
            charge(kGate, kSource, true, p.cgso);
            charge(kGate, kDrain, true, p.cgdo);
            charge(kGate, kBulk, true, p.cgbo);
            charge(kBulk, kSource, false, 0.0);
            charge(kBulk, kDrain, false, 0.0);
            dev.vcritSource = vt * std::log(vt / (std::sqrt(2.0) * p.sourceSatCur));
            dev.vcritDrain = vt * std::log(vt / (std::sqrt(2.0) * p.drainSatCur));
        } else {
            charge(kGate, kSource, true, 0.0);
            charge(kGate, kDrain, true, 0.0);
            charge(kAnode, kOuterDrain, false, 0.0);
            dev.vcritDiode = bodyDiodeVcrit(p);
        }
        devices_.push_back(std::move(dev));
    }
}

// A dense block over each device's terminals, row by row.
void SemiconductorStamps::requestEntries(PatternBuilder& builder) {
    for (Device& dev : devices_) {
        dev.firstTicket = -1;
        for (int row : dev.unknowns)
            for (int col : dev.unknowns) {
                const int t = builder.request(row, col);
                if (dev.firstTicket < 0) dev.firstTicket = t;
            }
    }
}

void SemiconductorStamps::bindSlots(const PatternBuilder& builder) {
    for (const Device& dev : devices_) {
        const size_t first = static_cast<size_t>(dev.firstTicket), count = dev.unknowns.size() * dev.unknowns.size();
        if (slots_.size() < first + count) slots_.resize(first + count, 0);
        for (size_t k = 0; k < count; ++k) slots_[first + k] = builder.slotOf(static_cast<int>(first + k));
    }
}

void SemiconductorStamps::beginPoint() {
    for (Device& dev : devices_) {
        dev.vgs = dev.acceptedVgs, dev.vds = dev.acceptedVds, dev.vbs = dev.acceptedVbs;
        dev.vd = dev.acceptedVd, dev.von = dev.acceptedVon;
    }
}

void SemiconductorStamps::integrate(double polarity, Charge& c, double v, double q, double cap, const Discretisation& d,
                             Linear& out) {
    c.history.pending = q;
    c.pendingV = v;
    c.cap = cap;
    c.idle = cap == 0.0;
    if (d.kind == Discretisation::Kind::OperatingPoint || c.idle) return;
    const double g = d.coefficients()[0] * cap;
    out.branch(c.plus, c.minus, c.plus, c.minus, polarity * c.history.current(q, d), g, v * polarity);
}

void SemiconductorStamps::integrateMeyer(Device& dev, Charge& c, double v, const Dual& half, const Discretisation& d,
                                         const double (&bias)[3], Linear& out) {
    c.pendingHalf = half.v;
    if (d.kind == Discretisation::Kind::OperatingPoint) {
        const double cap = 2.0 * half.v + c.overlap;
        integrate(dev.p.polarity, c, v, v * cap, cap, d, out);
        return;
    }
    const double cap = half.v + c.half0 + c.overlap;
    integrate(dev.p.polarity, c, v, c.history.q[0] + (v - c.v0) * cap, cap, d, out);
    if (c.idle) return;
    // The charge's slope through its capacitance's bias: (v - v0) times the
    // half's derivative by each of vgs, vds and vbs. Kept apart from the
    // linearisation whose settling ends the iteration: these terms only
    // steer Newton's steps, they carry no current at the iterate, and on a
    // step of 1e-16 s (v - v0 a few rounding units) they are new in their
    // third digit at every iterate.
    const double k = d.coefficients()[0] * (v - c.v0), pol = dev.p.polarity;
    const double slopes[3] = {half.g, half.d, half.b};
    const int controls[3] = {kGate, kDrain, kBulk};
    for (int j = 0; j < 3; ++j)
        if (slopes[j] != 0.0)
            dev.capacitanceSlopes.branch(c.plus, c.minus, controls[j], kSource, 0.0, k * slopes[j], pol * bias[j]);
}

bool SemiconductorStamps::evaluateFourTerminal(Device& dev, const double* x, const Discretisation& d, bool limit, Linear& out) {
    const MosfetParameters& p = dev.p;
    const double pol = p.polarity;
    double vgs = pol * voltage(dev.unknowns, x, kGate, kSource);
    double vds = pol * voltage(dev.unknowns, x, kDrain, kSource);
    double vbs = pol * voltage(dev.unknowns, x, kBulk, kSource);
    const double rawVgs = vgs, rawVds = vds, rawVbs = vbs;
    bool limited = false;
    if (limit) {
        limitGateAndDrainSource(vgs, vds, dev.vgs, dev.vds, dev.von);
        bool cut = false;
        if (vds >= 0.0) {
            vbs = limitJunction(vbs, dev.vbs, kThermalVoltage, dev.vcritSource, cut);
        } else {
            const double vbd = limitJunction(vbs - vds, dev.vbs - dev.vds, kThermalVoltage, dev.vcritDrain, cut);
            vbs = vbd + vds;
        }
        limited = cut || std::abs(vgs - rawVgs) > kLimitedBy || std::abs(vds - rawVds) > kLimitedBy ||
                  std::abs(vbs - rawVbs) > kLimitedBy;
    }
    const double vbd = vbs - vds, vgd = vgs - vds, vgb = vgs - vbs;
    const ChannelCurrent ch = p.law == MosfetParameters::Law::Level3 ? level3Current(p, vgs, vds, vbs)
                                                                     : level1Current(p, vgs, vds, vbs);
    dev.vgs = vgs, dev.vds = vds, dev.vbs = vbs, dev.von = ch.von;
    // The channel: a current from drain to source controlled by vgs, vds, vbs.
    const double equivalent = ch.id - ch.dVgs * vgs - ch.dVds * vds - ch.dVbs * vbs;
    out.branch(kDrain, kSource, kGate, kSource, 0.0, ch.dVgs, 0.0);
    out.branch(kDrain, kSource, kDrain, kSource, 0.0, ch.dVds, 0.0);
    out.branch(kDrain, kSource, kBulk, kSource, pol * equivalent, ch.dVbs, 0.0);
    const JunctionCurrent js = bulkJunctionCurrent(p.sourceSatCur, vbs), jd = bulkJunctionCurrent(p.drainSatCur, vbd);
    out.branch(kBulk, kSource, kBulk, kSource, pol * js.i, js.g, pol * vbs);
    out.branch(kBulk, kDrain, kBulk, kDrain, pol * jd.i, jd.g, pol * vbd);
    // Meyer's capacitances in the orientation the channel conducts in, with
    // their slopes by that orientation's voltages taken to the terminals'.
    const bool reversed = vds < 0.0;
    const Dual actingGate{reversed ? vgd : vgs, 1.0, 0.0, 0.0}, actingDrain{reversed ? -vds : vds, 0.0, 1.0, 0.0};
    MeyerHalves h = meyerHalves(actingGate, actingGate - actingDrain, ch.actingVon, ch.actingVdsat, p.phi, p.cox);
    if (reversed) {
        std::swap(h.gs, h.gd);
        for (Dual* half : {&h.gs, &h.gd, &h.gb}) *half = {half->v, half->g, -half->g - half->d - half->b, half->b};
    }
    const double bias[3] = {vgs, vds, vbs};
    integrateMeyer(dev, dev.charges[0], vgs, h.gs, d, bias, out);
    integrateMeyer(dev, dev.charges[1], vgd, h.gd, d, bias, out);
    integrateMeyer(dev, dev.charges[2], vgb, h.gb, d, bias, out);
    const JunctionCharge qs = bulkDepletion(p, p.cbs, p.cbssw, vbs), qd = bulkDepletion(p, p.cbd, p.cbdsw, vbd);
    integrate(pol, dev.charges[3], vbs, qs.q, qs.c, d, out);
    integrate(pol, dev.charges[4], vbd, qd.q, qd.c, d, out);
    return !limited;
}

bool SemiconductorStamps::evaluateVdmos(Device& dev, const double* x, const Discretisation& d, bool limit, Linear& out) {
    const MosfetParameters& p = dev.p;
    const double pol = p.polarity;
    double vgs = pol * voltage(dev.unknowns, x, kGate, kSource);
    double vds = pol * voltage(dev.unknowns, x, kDrain, kSource);
    double vd = pol * voltage(dev.unknowns, x, kAnode, kOuterDrain);
    const double rawVgs = vgs, rawVds = vds, rawVd = vd;
    bool limited = false;
    if (limit) {
        limitGateAndDrainSource(vgs, vds, dev.vgs, dev.vds, dev.von);
        bool cut = false;
        const double vt = kThermalVoltage, vtBreakdown = p.nbv * vt;
        if (p.hasBreakdown && vd < std::min(0.0, -p.bv + 10.0 * vtBreakdown)) {
            const double beyond = limitJunction(-(vd + p.bv), -(dev.vd + p.bv), vtBreakdown, dev.vcritDiode, cut);
            vd = -(beyond + p.bv);
        } else {
            vd = limitJunction(vd, dev.vd, p.n * vt, dev.vcritDiode, cut);
        }
        limited = cut || std::abs(vgs - rawVgs) > kLimitedBy || std::abs(vds - rawVds) > kLimitedBy ||
                  std::abs(vd - rawVd) > kLimitedBy;
    }
    const double vgd = vgs - vds;
    const ChannelCurrent ch = vdmosCurrent(p, vgs, vds);
    dev.vgs = vgs, dev.vds = vds, dev.vd = vd, dev.von = ch.von;
    const double equivalent = ch.id - ch.dVgs * vgs - ch.dVds * vds;
    out.branch(kDrain, kSource, kGate, kSource, 0.0, ch.dVgs, 0.0);
    out.branch(kDrain, kSource, kDrain, kSource, pol * equivalent, ch.dVds, 0.0);
    const VdmosHalves h = vdmosHalves(p, vgd);
    const double bias[3] = {vgs, vds, 0.0};
    integrateMeyer(dev, dev.charges[0], vgs, constant(h.gs), d, bias, out);
    integrateMeyer(dev, dev.charges[1], vgd, constant(h.gd), d, bias, out);
    const DiodeState diode = bodyDiode(p, vd);
    out.branch(kAnode, kOuterDrain, kAnode, kOuterDrain, pol * diode.i, diode.g, pol * vd);
    integrate(pol, dev.charges[2], vd, diode.q, diode.c, d, out);
    return !limited;
}

bool SemiconductorStamps::evaluateBipolar(Device& dev, const double* x, const Discretisation& d, bool limit,
                                          Linear& out) {
    const BjtParameters& p = dev.q;
    const double pol = p.polarity;
    double vbe = pol * voltage(dev.unknowns, x, kBase, kEmitter);
    double vbc = pol * voltage(dev.unknowns, x, kBase, kCollector);
    const double vbx = pol * voltage(dev.unknowns, x, kOuterBase, kCollector);
    bool limited = false;
    if (limit) {
        bool cutBe = false, cutBc = false;
        vbe = limitJunction(vbe, dev.vgs, kThermalVoltage, dev.vcritSource, cutBe);
        vbc = limitJunction(vbc, dev.vds, kThermalVoltage, dev.vcritSource, cutBc);
        limited = cutBe || cutBc;
    }
    dev.vgs = vbe, dev.vds = vbc;
    const BjtState s = gummelPoon(p, vbe, vbc);
    // The transport current from collector to emitter, controlled by both junctions.
    const double equivalent = s.it - s.itBe * vbe - s.itBc * vbc;
    out.branch(kCollector, kEmitter, kBase, kEmitter, 0.0, s.itBe, 0.0);
    out.branch(kCollector, kEmitter, kBase, kCollector, pol * equivalent, s.itBc, 0.0);
    out.branch(kBase, kEmitter, kBase, kEmitter, pol * s.ibe, s.ibeBe, pol * vbe);
    out.branch(kBase, kCollector, kBase, kCollector, pol * s.ibc, s.ibcBc, pol * vbc);
    integrate(pol, dev.charges[0], vbe, s.qbe, s.cbe, d, out);
    integrate(pol, dev.charges[1], vbc, s.qbc, s.cbc, d, out);
    double qbx = 0.0, cbx = 0.0;
    externalBaseCharge(p, vbx, qbx, cbx);
    integrate(pol, dev.charges[2], vbx, qbx, cbx, d, out);
    if (dev.charges.size() > 3) {
        // A lateral transistor's substrate junction faces its base the other way.
        const double sense = p.lateral ? -pol : pol;
        const Charge& sub = dev.charges[3];
        const double vsub = sense * voltage(dev.unknowns, x, sub.plus, sub.minus);
        double q = 0.0, c = 0.0;
        substrateCharge(p, vsub, q, c);
        integrate(sense, dev.charges[3], vsub, q, c, d, out);
    }
    if (p.modulatedBase) {
        const double vbb = voltage(dev.unknowns, x, kOuterBase, kBase);
        const double gx = modulatedBaseConductance(p, s.qb, s.ibe + s.ibc);
        out.branch(kOuterBase, kBase, kOuterBase, kBase, gx * vbb, gx, vbb);
    }
    return !limited;
}

bool SemiconductorStamps::evaluate(Device& dev, const double* x, const Discretisation& d, bool limit, Linear& out) {
    if (dev.bipolar) return evaluateBipolar(dev, x, d, limit, out);
    return dev.p.law == MosfetParameters::Law::Vdmos ? evaluateVdmos(dev, x, d, limit, out)
                                                      : evaluateFourTerminal(dev, x, d, limit, out);
}

void SemiconductorStamps::beginPointAt(const double* x) {
    const Discretisation op{Discretisation::Kind::OperatingPoint, 0.0};
    for (Device& dev : devices_) {
        Linear ignored;
        evaluate(dev, x, op, false, ignored);
    }
}

bool SemiconductorStamps::evaluate(const double* x, const Discretisation& d) {
    bool unlimited = true;
    for (Device& dev : devices_) {
        dev.latest = dev.capacitanceSlopes = Linear{};
        if (!evaluate(dev, x, d, true, dev.latest)) unlimited = false;
    }
    return unlimited;
}

bool SemiconductorStamps::sameAsSolved(double reltol, double abstol) const {
    auto same = [&](double a, double b) { return withinTolerance(a, b, reltol, abstol); };
    for (const Device& dev : devices_) {
        const size_t k = dev.unknowns.size();
        for (size_t r = 0; r < k; ++r) {
            if (!same(dev.latest.i[r], dev.solved.i[r])) return false;
            for (size_t c = 0; c < k; ++c)
                if (!same(dev.latest.g[r][c], dev.solved.g[r][c])) return false;
        }
    }
    return true;
}

void SemiconductorStamps::stamp(double* values, double* rhs) {
    for (Device& dev : devices_) {
        dev.solved = dev.latest;
        const size_t k = dev.unknowns.size();
        size_t slot = static_cast<size_t>(dev.firstTicket);
        // Ground's row and column are left out, as in the plug-ins' stamps:
        // added into the spare slot, each add would wait for the one before.
        const Linear& slopes = dev.capacitanceSlopes;
        for (size_t r = 0; r < k; ++r, slot += k) {
            if (dev.unknowns[r] < 0) continue;
            for (size_t c = 0; c < k; ++c)
                if (dev.unknowns[c] >= 0) values[slots_[slot + c]] += dev.latest.g[r][c] + slopes.g[r][c];
            rhs[dev.unknowns[r]] -= dev.latest.i[r] + slopes.i[r];
        }
    }
}

void SemiconductorStamps::startFrom(const double* x) {
    const Discretisation op{Discretisation::Kind::OperatingPoint, 0.0};
    for (Device& dev : devices_) {
        Linear ignored;
        evaluate(dev, x, op, false, ignored);
        for (Charge& c : dev.charges) {
            c.history.startFrom(c.history.pending);
            c.v0 = c.pendingV;
            c.half0 = c.pendingHalf;
        }
        dev.acceptedVgs = dev.vgs, dev.acceptedVds = dev.vds, dev.acceptedVbs = dev.vbs;
        dev.acceptedVd = dev.vd, dev.acceptedVon = dev.von;
    }
    steps_[0] = steps_[1] = 0.0;
}

void SemiconductorStamps::accept(const Discretisation& d) {
    for (Device& dev : devices_) {
        for (Charge& c : dev.charges) {
            c.history.accept(d);
            if (c.idle) c.history.flow = 0.0;
            c.v0 = c.pendingV;
            c.half0 = c.pendingHalf;
        }
        dev.acceptedVgs = dev.vgs, dev.acceptedVds = dev.vds, dev.acceptedVbs = dev.vbs;
        dev.acceptedVd = dev.vd, dev.acceptedVon = dev.von;
    }
    steps_[1] = steps_[0];
    steps_[0] = d.step;
}

double SemiconductorStamps::truncationRatio(const Discretisation& d, const Options& o, bool firstOrder) const {
    Discretisation used = d;
    if (firstOrder) used.kind = Discretisation::Kind::BackwardEuler;
    double ratio = std::numeric_limits<double>::infinity();
    for (const Device& dev : devices_)
        for (const Charge& c : dev.charges) ratio = std::min(ratio, c.history.ratio(used, steps_[0], steps_[1], o));
    return ratio;
}

}  // namespace udmhost::sim
