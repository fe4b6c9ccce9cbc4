"""A synchronous buck converter with hysteretic control, as a udmhost and an
ngspice netlist: a high-side and a low-side switch, driven in opposite sense
by the output voltage against a reference, an LC filter with the capacitor's
series resistance, and a resistive load.

The high side closes when the output falls to VREF - VHYST and opens when it
rises to VREF + VHYST; the low side does the opposite, so exactly one of the
two conducts at a time.
"""
import os

VIN, VREF, VHYST = 12.0, 5.0, 0.02
L, C, ESR, RLOAD = 22e-6, 47e-6, 0.02, 2.5
RON, ROFF = 0.01, 1e9
TSTOP = 20e-3
RIPPLE_FROM = 15e-3  # the ripple is measured over the settled last part


def udmhost_netlist(plugin, tstep):
    return "\n".join([
        "synchronous buck converter, hysteretic control",
        f".plugin vcswitch {plugin}",
        f"VIN vin 0 {VIN}",
        f"VREF ref 0 {VREF}",
        f"YHI vin sw ref out vcswitch RON={RON} ROFF={ROFF} VTHRES=0 VHYST={VHYST} CTRL0=1",
        f"YLO sw 0 out ref vcswitch RON={RON} ROFF={ROFF} VTHRES=0 VHYST={VHYST} CTRL0=0",
        f"L1 sw out {L} IC=0",
        f"C1 out esr {C} IC=0",
        f"RESR esr 0 {ESR}",
        f"RLOAD out 0 {RLOAD}",
        f".tran {tstep} {TSTOP} 0 UIC",
        ".print tran V(out) V(sw)",
        ".end", ""])


def ngspice_netlist(tstep, data_file):
    return "\n".join([
        "synchronous buck converter, hysteretic control",
        f"VIN vin 0 {VIN}",
        f"VREF ref 0 {VREF}",
        f".model swmod SW(VT=0 VH={VHYST} RON={RON} ROFF={ROFF})",
        "SHI vin sw ref out swmod ON",
        "SLO sw 0 out ref swmod OFF",
        f"L1 sw out {L} IC=0",
        f"C1 out esr {C} IC=0",
        f"RESR esr 0 {ESR}",
        f"RLOAD out 0 {RLOAD}",
        f".tran {tstep} {TSTOP} 0 UIC",
        ".control", "set wr_singlescale", "set wr_vecnames", "run",
        f"wrdata {data_file} v(out) v(sw)", "rusage all", ".endc", ".end", ""])


def write_pair(folder, plugin, tstep):
    os.makedirs(folder, exist_ok=True)
    ours = os.path.join(folder, "buck.cir")
    theirs = os.path.join(folder, "buck.ngspice.cir")
    with open(ours, "w") as f:
        f.write(udmhost_netlist(os.path.abspath(plugin), tstep))
    with open(theirs, "w") as f:
        f.write(ngspice_netlist(tstep, "buck.ngspice.dat"))
    return ours, theirs


def ripple(times, vout):
    """Peak-to-peak output voltage over the settled part of the run."""
    settled = [v for t, v in zip(times, vout) if t >= RIPPLE_FROM]
    return max(settled) - min(settled), sum(settled) / len(settled)
