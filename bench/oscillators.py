"""N independent RC relaxation oscillators, as a udmhost and an ngspice netlist.

Oscillator i charges C from V through R_i and is discharged by a switch across
C; the R_i differ slightly so that the oscillators do not switch together.
Only a sample of the oscillators is printed, so that writing the waveforms
does not dominate the run time of either simulator.
"""
import os

V, C, RON, ROFF, VTHRES, VHYST = 5.0, 1e-6, 1.0, 1e9, 2.5, 0.5
TSTOP = 20e-3


def resistance(i, n):
    return 1000.0 * (1.0 + 0.1 * i / n)


def sampled(n, count=10):
    """Indices of the printed oscillators: up to `count`, spread over all."""
    if n <= count:
        return list(range(n))
    return sorted({round(k * (n - 1) / (count - 1)) for k in range(count)})


def udmhost_netlist(n, plugin, tstep):
    lines = [f"{n} relaxation oscillators", f".plugin vcswitch {plugin}", f"V1 vin 0 {V}"]
    for i in range(n):
        lines += [f"R{i} vin c{i} {resistance(i, n)!r}",
                  f"C{i} c{i} 0 {C} IC=0",
                  f"Y{i} c{i} 0 c{i} 0 vcswitch RON={RON} ROFF={ROFF} VTHRES={VTHRES} VHYST={VHYST} CTRL0=0"]
    prints = " ".join(f"V(c{i}) Y{i}:STATE" for i in sampled(n))
    lines += [f".tran {tstep} {TSTOP} 0 UIC", f".print tran {prints}", ".end", ""]
    return "\n".join(lines)


def ngspice_netlist(n, tstep, data_file):
    """Each switch has a 0 V source in series, whose current gives its state."""
    lines = [f"{n} relaxation oscillators", f"V1 vin 0 {V}",
             f".model swmod SW(VT={VTHRES} VH={VHYST} RON={RON} ROFF={ROFF})"]
    for i in range(n):
        lines += [f"R{i} vin c{i} {resistance(i, n)!r}",
                  f"C{i} c{i} 0 {C} IC=0",
                  f"S{i} c{i} s{i} c{i} 0 swmod OFF",
                  f"VS{i} s{i} 0 0"]
    vectors = " ".join(f"v(c{i}) i(vs{i})" for i in sampled(n))
    return "\n".join(lines + ngspice_run(tstep, data_file, vectors))


def ngspice_run(tstep, data_file, vectors):
    """The .tran line and the control block that runs it, writes `vectors` and reports the counts."""
    return [f".tran {tstep} {TSTOP} 0 UIC",
            ".control", "set wr_singlescale", "set wr_vecnames", "run",
            f"wrdata {data_file} {vectors}", "rusage all", ".endc", ".end", ""]


def write_pair(n, folder, plugin, tstep):
    os.makedirs(folder, exist_ok=True)
    ours = os.path.join(folder, f"osc{n}.cir")
    theirs = os.path.join(folder, f"osc{n}.ngspice.cir")
    with open(ours, "w") as f:
        f.write(udmhost_netlist(n, os.path.abspath(plugin), tstep))
    with open(theirs, "w") as f:
        f.write(ngspice_netlist(n, tstep, f"osc{n}.ngspice.dat"))
    return ours, theirs
