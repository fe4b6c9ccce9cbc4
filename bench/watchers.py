"""One relaxation oscillator watched by N switches, as a udmhost and an ngspice netlist.

The oscillator of bench/oscillators.py (its switch across its capacitor);
watcher i has its own RC load, switched to ground by a switch whose control is
the oscillator's capacitor, each at its own threshold. The watchers read the
oscillator without driving it: one-way coupling, so udmhost integrates the
oscillator and every watcher each on its own steps. `whole=True` prints a
difference across the parts, which keeps the circuit in one piece, to measure
what the split saves.
"""
import math
import os

from oscillators import C, RON, ROFF, TSTOP, V, VHYST, VTHRES, ngspice_run

R = 1000.0
WATCH_HYST = 0.05
WATCH_RON = 10.0


def threshold(i, n):
    return 2.1 + 0.8 * i / n


def load_capacitance(i):
    return 0.1e-6 * (1.0 + 0.1 * i)


def sampled(n, count=4):
    if n <= count:
        return list(range(n))
    return sorted({round(k * (n - 1) / (count - 1)) for k in range(count)})


def udmhost_netlist(n, plugin, tstep, whole=False):
    lines = [f"oscillator watched by {n} switches", f".plugin vcswitch {plugin}", f"V1 vin 0 {V}",
             f"R1 vin cap {R}", f"C1 cap 0 {C} IC=0",
             f"Y1 cap 0 cap 0 vcswitch RON={RON} ROFF={ROFF} VTHRES={VTHRES} VHYST={VHYST} CTRL0=0"]
    for i in range(n):
        lines += [f"RW{i} vin w{i} {R}", f"CW{i} w{i} 0 {load_capacitance(i)!r} IC=0",
                  f"YW{i} w{i} 0 cap 0 vcswitch RON={WATCH_RON} ROFF={ROFF} VTHRES={threshold(i, n)!r} "
                  f"VHYST={WATCH_HYST} CTRL0=0"]
    prints = "V(cap) Y1:STATE " + " ".join(f"V(w{i}) YW{i}:STATE" for i in sampled(n))
    if whole:
        prints += " V(cap,w0)"
    lines += [f".tran {tstep} {TSTOP} 0 UIC", f".print tran {prints}", ".end", ""]
    return "\n".join(lines)


def ngspice_netlist(n, tstep, data_file):
    lines = [f"oscillator watched by {n} switches", f"V1 vin 0 {V}", f"R1 vin cap {R}", f"C1 cap 0 {C} IC=0",
             f".model swo SW(VT={VTHRES} VH={VHYST} RON={RON} ROFF={ROFF})", "S1 cap 0 cap 0 swo OFF"]
    for i in range(n):
        # A 0 V source in series with each switch: its current gives the state.
        lines += [f".model sw{i} SW(VT={threshold(i, n)!r} VH={WATCH_HYST} RON={WATCH_RON} ROFF={ROFF})",
                  f"RW{i} vin w{i} {R}", f"CW{i} w{i} 0 {load_capacitance(i)!r} IC=0",
                  f"SW{i} w{i} s{i} cap 0 sw{i} OFF", f"VS{i} s{i} 0 0"]
    vectors = "v(cap) " + " ".join(f"v(w{i}) i(vs{i})" for i in sampled(n))
    return "\n".join(lines + ngspice_run(tstep, data_file, vectors))


def write_set(n, folder, plugin, tstep):
    """The split and the whole udmhost netlist and the ngspice one."""
    os.makedirs(folder, exist_ok=True)
    paths = tuple(os.path.join(folder, f"watch{n}{suffix}") for suffix in (".cir", ".whole.cir", ".ngspice.cir"))
    with open(paths[0], "w") as f:
        f.write(udmhost_netlist(n, os.path.abspath(plugin), tstep))
    with open(paths[1], "w") as f:
        f.write(udmhost_netlist(n, os.path.abspath(plugin), tstep, whole=True))
    with open(paths[2], "w") as f:
        f.write(ngspice_netlist(n, tstep, f"watch{n}.ngspice.dat"))
    return paths


def watcher_instants(i, n, oscillator_instants):
    """When watcher i closes (the capacitor rising through its upper level) and opens (falling
    through its lower one), from the oscillator's own instants (closing at 3 V, opening at 2 V)."""
    vc, tc = V * ROFF / (R + ROFF), R * ROFF / (R + ROFF) * C
    vd, td = V * RON / (R + RON), R * RON / (R + RON) * C
    hi, lo = threshold(i, n) + WATCH_HYST, threshold(i, n) - WATCH_HYST
    out = [(tc * math.log(vc / (vc - hi)), 1)]
    for k, (t, state) in enumerate(oscillator_instants):
        if state == 1:  # discharging from VTHRES + VHYST
            out.append((t + td * math.log((VTHRES + VHYST - vd) / (lo - vd)), 0))
        else:  # charging from VTHRES - VHYST
            out.append((t + tc * math.log((vc - (VTHRES - VHYST)) / (vc - hi)), 1))
    return [e for e in out if e[0] <= TSTOP]
