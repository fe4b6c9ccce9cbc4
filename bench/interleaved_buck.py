"""N-phase interleaved buck converter with freewheeling diodes into one
output capacitor, as a udmhost and an ngspice netlist, and the bench that runs
both at several N beside a tight udmhost reference.

Phase i: a high-side switch from the input to its switch node, a diode from
ground to that node, the node's capacitance to ground, an inductor (slightly different per phase, so that the
phases drift apart and interleave) and a sense resistor into the common
output. Each phase is current-controlled with hysteresis: its switch closes
when its inductor current falls to IMID - IRIPPLE/2 and opens when it rises to
IMID + IRIPPLE/2; the control is the voltage across the sense resistor. Every
switch and every diode meets every other through the output node, so the
whole converter is one strongly connected part.

    python3 bench/interleaved_buck.py BUILD_DIR N [N ...]

Prints, per N, the CPU seconds of udmhost and ngspice (whole processes), the
switching instants' largest error against a udmhost reference at
reltol 1e-8 and eventtol 1e-13, and the growth exponents between sizes.
UDM_BENCH_TIMEOUT (seconds, default 600) bounds each simulator run; a run
stopped there is reported as such. UDM_IBUCK_TSTOP sets the simulated span
(default 1m).
"""
import math
import os
import resource
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import spicecmp  # noqa: E402

VIN = 12.0
L, RSENSE, C, ESR = 100e-6, 0.01, 100e-6, 0.01
CSW = 1e-9                        # switch-node capacitance of each phase [F]
IMID, IRIPPLE = 1.0, 0.2          # per phase [A]
VOUT = 5.0                        # the load is chosen for this output at IMID per phase
RON, ROFF = 0.01, 1e9
TSTEP = "1u"
TSTOP = os.environ.get("UDM_IBUCK_TSTOP", "1m")
SAMPLED = 4                       # phases whose instants are compared
REFERENCE_OPTIONS = ".options reltol=1e-8 eventtol=1e-13"
TIMEOUT = float(os.environ.get("UDM_BENCH_TIMEOUT", "600"))


def inductance(i, n):
    return L * (1.0 + 0.2 * i / n)


def sampled(n):
    return sorted({round(k * (n - 1) / max(SAMPLED - 1, 1)) for k in range(min(SAMPLED, n))})


def _common(n):
    """Input, phases' passive parts, output capacitor and load; the switches
    and diodes are each simulator's own."""
    lines = [f"VIN vin 0 {VIN}"]
    for i in range(n):
        # Start in the middle of the band, alternately rising and falling.
        lines += [f"CSW{i} sw{i} 0 {CSW!r}",
                  f"L{i} sw{i} a{i} {inductance(i, n)!r} IC={IMID}",
                  f"RS{i} a{i} out {RSENSE}"]
    lines += [f"C1 out esr {C * n!r} IC={VOUT}",
              f"RESR esr 0 {ESR}",
              f"RLOAD out 0 {VOUT / (n * IMID)!r}"]
    return lines


def udmhost_netlist(n, switch_plugin):
    # v = V(out) - V(a) = -RSENSE * i: closes at v >= -RSENSE (IMID - IRIPPLE/2).
    vthres, vhyst = -RSENSE * IMID, RSENSE * IRIPPLE / 2
    lines = [f"{n}-phase interleaved buck", f".plugin vcswitch {switch_plugin}",
             ".model dmod D(IS=1e-14 N=1)"]
    lines += _common(n)
    for i in range(n):
        lines += [f"Y{i} vin sw{i} out a{i} vcswitch RON={RON} ROFF={ROFF} VTHRES={vthres!r} VHYST={vhyst!r} "
                  f"CTRL0={i % 2}",
                  f"D{i} 0 sw{i} dmod"]
    prints = " ".join(f"V(sw{i})" for i in sampled(n))
    lines += [f".tran {TSTEP} {TSTOP} 0 UIC", f".print tran V(out) {prints}", ".end", ""]
    return "\n".join(lines)


def ngspice_netlist(n, data_file):
    vthres, vhyst = -RSENSE * IMID, RSENSE * IRIPPLE / 2
    lines = [f"{n}-phase interleaved buck", ".model dmod D(IS=1e-14 N=1)",
             f".model swmod SW(VT={vthres!r} VH={vhyst!r} RON={RON} ROFF={ROFF})"]
    lines += _common(n)
    for i in range(n):
        lines += [f"S{i} vin sw{i} out a{i} swmod {'ON' if i % 2 else 'OFF'}", f"D{i} 0 sw{i} dmod"]
    vectors = ["v(out)"] + [f"v(sw{i})" for i in sampled(n)]
    lines += [f".tran {TSTEP} {TSTOP} 0 UIC", spicecmp.ngspice_control(vectors, data_file), ".end", ""]
    return "\n".join(lines)


def side_changes(times, vsw):
    """Times of the rows at which a switch node changes side (its switch closing or opening)."""
    high = [v > VIN / 2 for v in vsw]
    return [times[k] for k in range(1, len(times)) if high[k] != high[k - 1]]


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def timed(fn):
    """(run, CPU seconds) or (the reason it did not complete, None)."""
    before = children_cpu()
    try:
        run = fn()
    except subprocess.TimeoutExpired:
        return f"stopped after {TIMEOUT:.0f} s", None
    except RuntimeError as e:
        return "failed: " + str(e).splitlines()[0][:100], None
    return run, children_cpu() - before


def instant_error(run, ref, n, prefix):
    """Largest |k-th change - reference's k-th change| over the sampled phases, and the counts."""
    worst, counts = 0.0, []
    for i in sampled(n):
        got = side_changes(run.columns["time"], run.columns[f"{prefix}(sw{i})"])
        want = side_changes(ref.columns["time"], ref.columns[f"V(sw{i})"])
        counts.append((len(got), len(want)))
        worst = max([worst] + [abs(a - b) for a, b in zip(got, want)])
    return worst, counts


def case(build, n, folder):
    switch = os.path.abspath(os.path.join(build, "plugin", "libvcswitch.so"))
    udmhost = os.path.abspath(os.path.join(build, "host", "udmhost"))
    ours = os.path.join(folder, f"ibuck{n}.cir")
    fine = os.path.join(folder, f"ibuck{n}.reference.cir")
    theirs = os.path.join(folder, f"ibuck{n}.ngspice.cir")
    text = udmhost_netlist(n, switch)
    with open(ours, "w") as f:
        f.write(text)
    with open(fine, "w") as f:
        f.write(text.replace("\n.tran", "\n" + REFERENCE_OPTIONS + "\n.tran"))
    with open(theirs, "w") as f:
        f.write(ngspice_netlist(n, f"ibuck{n}.ngspice.dat"))
    udm, udm_cpu = timed(lambda: spicecmp.run_udmhost(udmhost, ours, ours + ".csv", timeout=TIMEOUT))
    ng, ng_cpu = timed(lambda: spicecmp.run_ngspice(theirs, os.path.join(folder, f"ibuck{n}.ngspice.dat"),
                                                    timeout=TIMEOUT))
    ref, _ = timed(lambda: spicecmp.run_udmhost(udmhost, fine, fine + ".csv", timeout=TIMEOUT))
    row = {"n": n, "udm": udm, "udm_cpu": udm_cpu, "ng": ng, "ng_cpu": ng_cpu, "ref": ref}
    for key, run, prefix in (("udm", udm, "V"), ("ng", ng, "v")):
        if udm_cpu is not None and ref is not None and not isinstance(ref, str) and not isinstance(run, str):
            row[key + "_error"], row[key + "_counts"] = instant_error(run, ref, n, prefix)
    return row


def fmt_cpu(cpu, run):
    return f"{cpu:.2f} s" if cpu is not None else str(run)


def growth(rows, key):
    out = []
    for a, b in zip(rows, rows[1:]):
        if a[key] and b[key]:
            out.append(f"N={a['n']}..{b['n']}: N^{math.log(b[key] / a[key]) / math.log(b['n'] / a['n']):.2f}")
    return ", ".join(out) or "-"


def main():
    build = sys.argv[1]
    sizes = [int(a) for a in sys.argv[2:]] or [16, 64]
    rows = []
    with tempfile.TemporaryDirectory() as folder:
        for n in sizes:
            row = case(build, n, folder)
            rows.append(row)
            udm, ng = row["udm"], row["ng"]
            bypass = ""
            if not isinstance(udm, str):
                bypass = next((l.strip() for l in udm.log.splitlines() if l.startswith("evaluations:")), "")
            print(f"interleaved buck N={n}: CPU udmhost {fmt_cpu(row['udm_cpu'], udm)}, "
                  f"ngspice {fmt_cpu(row['ng_cpu'], ng)}; instant error udmhost "
                  f"{row.get('udm_error', float('nan')):.2e} s, ngspice {row.get('ng_error', float('nan')):.2e} s; "
                  f"changes (run/reference) udmhost {row.get('udm_counts')}, ngspice {row.get('ng_counts')}; "
                  f"{bypass}", flush=True)
    print(f"growth udmhost {growth(rows, 'udm_cpu')}; ngspice {growth(rows, 'ng_cpu')}")


if __name__ == "__main__":
    main()
