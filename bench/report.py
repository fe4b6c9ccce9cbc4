"""Runs every benchmark and writes docs/performance.md with a plot.

    python3 bench/report.py BUILD_DIR [--simulation-only]

--simulation-only reruns only udmhost against ngspice and replaces those
sections of docs/performance.md.

All figures come from this one run on this machine; the comparisons are
ratios of numbers measured side by side.
"""
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))

import buck  # noqa: E402
import instructions  # noqa: E402
import oscillators  # noqa: E402
import watchers  # noqa: E402
import spicecmp  # noqa: E402

OSC_COUNTS = [int(n) for n in os.environ.get("UDM_BENCH_COUNTS", "1 10 100 1000").split()]
WATCH_COUNTS = [int(n) for n in os.environ.get("UDM_BENCH_WATCHERS", "10 100").split()]
OSC_TSTEP = "10u"
BUCK_TSTEP = "1u"
QUICK_RUN = 0.5  # CPU seconds: runs shorter than this are repeated
RUN_TIMEOUT = float(os.environ.get("UDM_BENCH_TIMEOUT", "300"))  # seconds per simulator run


def machine():
    info = {}
    for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
        key, _, value = line.partition(":")
        info[key.strip()] = value.strip()
    version = subprocess.run(["ngspice", "--version"], capture_output=True, text=True).stdout
    ng = next((l.strip("* ").split(":")[0].strip() for l in version.splitlines() if "ngspice-" in l), "ngspice")
    return {"cpu": info.get("Model name", platform.processor()), "cores": info.get("CPU(s)", "?"),
            "ngspice": ng, "load": os.getloadavg()[0]}


def google_benchmark(program):
    out = subprocess.run([program, "--benchmark_format=json", "--benchmark_min_time=0.5",
                          "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"],
                         check=True, capture_output=True, text=True).stdout
    result = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            result[b["run_name"]] = (b["cpu_time"], b["real_time"])
    return result


class Failed:
    """A run that did not complete: stopped at the time limit, or an error."""
    def __init__(self, why):
        self.why = why

    def __bool__(self):
        return False


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run_or_timeout(fn):
    """The run with `cpu`: user plus system seconds of the whole process."""
    try:
        before = children_cpu()
        run = fn()
        run.cpu = children_cpu() - before
        # Short runs are dominated by noise of the shared machine: the
        # smallest of five.
        for _ in range(4 if run.cpu < QUICK_RUN else 0):
            before = children_cpu()
            fn()
            run.cpu = min(run.cpu, children_cpu() - before)
        return run
    except subprocess.TimeoutExpired:
        return Failed(f"stopped after {RUN_TIMEOUT:.0f} s")
    except RuntimeError as e:
        last = [l for l in str(e).splitlines() if l.strip()][-1]
        return Failed(f"failed: {last.split(': ', 1)[-1][:80]}")


def oscillator_case(n, build, work):
    ours, theirs = oscillators.write_pair(n, work, os.path.join(build, "plugin", "libvcswitch.so"), OSC_TSTEP)
    udmhost = os.path.join(build, "host", "udmhost")
    udm = run_or_timeout(lambda: spicecmp.run_udmhost(udmhost, ours, os.path.join(work, f"osc{n}.csv"),
                                                       timeout=RUN_TIMEOUT))
    ng = run_or_timeout(lambda: spicecmp.run_ngspice(theirs, os.path.join(work, f"osc{n}.ngspice.dat"),
                                                     timeout=RUN_TIMEOUT))
    row = {"n": n, "udm": udm, "ng": ng}
    if n == 1 and udm:
        state = lambda c, k: c["Y0:STATE"][k]
        row["per_switching"] = per_switching(udmhost, ours, 10e-6, lambda c, k: state(c, k) != state(c, k - 1))
    for key, run in (("udm", udm), ("ng", ng)):
        if not run:
            continue
        worst, counts = 0.0, []
        for i in oscillators.sampled(n):
            if key == "udm":
                states = run.columns[f"Y{i}:STATE"]
            else:
                states = spicecmp.state_from_resistance(run.columns[f"v(c{i})"], run.columns[f"i(vs{i})"],
                                                        oscillators.RON, oscillators.ROFF)
            got = spicecmp.switching_instants(run.columns["time"], states)
            want = spicecmp.relaxation_instants(oscillators.V, oscillators.resistance(i, n), oscillators.C,
                                                oscillators.RON, oscillators.ROFF, oscillators.VTHRES,
                                                oscillators.VHYST, oscillators.TSTOP)
            counts.append((len(got), len(want)))
            worst = max([worst] + [abs(a[0] - b[0]) for a, b in zip(got, want)])
        row[key + "_error"] = worst
        row[key + "_counts"] = counts
    return row


def watchers_case(n, build, work):
    """udmhost split along the one-way coupling, the same kept whole, and ngspice."""
    split, whole, theirs = watchers.write_set(n, work, os.path.join(build, "plugin", "libvcswitch.so"), OSC_TSTEP)
    udmhost = os.path.join(build, "host", "udmhost")
    row = {"n": n}
    for key, netlist in (("udm", split), ("whole", whole)):
        row[key] = run_or_timeout(lambda: spicecmp.run_udmhost(udmhost, netlist, netlist + ".csv",
                                                               timeout=RUN_TIMEOUT))
    row["ng"] = run_or_timeout(lambda: spicecmp.run_ngspice(theirs, os.path.join(work, f"watch{n}.ngspice.dat"),
                                                            timeout=RUN_TIMEOUT))
    oscillator = spicecmp.relaxation_instants(oscillators.V, watchers.R, oscillators.C, oscillators.RON,
                                              oscillators.ROFF, oscillators.VTHRES, oscillators.VHYST,
                                              oscillators.TSTOP)
    for key in ("udm", "whole", "ng"):
        run = row[key]
        if not run:
            continue
        worst, bad = 0.0, []
        for i in watchers.sampled(n):
            if key == "ng":
                states = spicecmp.state_from_resistance(run.columns[f"v(w{i})"], run.columns[f"i(vs{i})"],
                                                        watchers.WATCH_RON, oscillators.ROFF)
            else:
                states = run.columns[f"YW{i}:STATE"]
            got = spicecmp.switching_instants(run.columns["time"], states)
            want = watchers.watcher_instants(i, n, oscillator)
            if len(got) != len(want):
                bad.append(f"{len(got)}/{len(want)}")
            worst = max([worst] + [abs(a[0] - b[0]) for a, b in zip(got, want)])
        row[key + "_error"], row[key + "_counts"] = worst, bad
    return row


def watchers_section(rows):
    L = ["", "## udmhost against ngspice: one oscillator watched by N switches", "",
         "The oscillator above (R 1 kOhm); watcher i has its own load (1 kOhm from the supply, "
         "0.1 uF x (1 + 0.1 i) to ground, IC 0) switched to ground (RON 10 Ohm) by a switch whose control "
         f"is the oscillator's capacitor, closing at 2.1 + 0.8 i/N + {watchers.WATCH_HYST} V and opening "
         f"{2 * watchers.WATCH_HYST:g} V lower. The watchers read the oscillator without driving it, so "
         "udmhost integrates the oscillator and each watcher on its own steps, reading the capacitor's "
         "trajectory; \"whole\" is the same netlist kept in one piece (it prints a difference across the "
         "parts). Error: largest |simulated - analytic| instant of the printed watchers (4).", "",
         "| N | udmhost CPU [s] | whole CPU [s] | ngspice CPU [s] | accepted udm / whole / ng | "
         "instant error udm [s] | whole [s] | ngspice [s] | event counts off |",
         "|---:|---:|---:|---:|---:|---:|---:|---:|---|"]
    for r in rows:
        u, w, g = r["udm"], r["whole"], r["ng"]
        off = "; ".join(f"{k}: {', '.join(r[k + '_counts'][:3])}" for k in ("udm", "whole", "ng")
                        if r.get(k + "_counts"))
        L.append(f"| {r['n']} | {cpu(u)} | {cpu(w)} | {cpu(g)} | {fmt(u and u.accepted, 'd')} / "
                 f"{fmt(w and w.accepted, 'd')} / {fmt(g and g.accepted, 'd')} | {fmt(r.get('udm_error'), '.2e')} | "
                 f"{fmt(r.get('whole_error'), '.2e')} | {fmt(r.get('ng_error'), '.2e')} | {off or 'none'} |")
    return L


# The buck's reference instants: udmhost with tolerances far below the defaults.
BUCK_REFERENCE_OPTIONS = ".options reltol=1e-8 eventtol=1e-13"


def per_switching(udmhost, netlist, largest_step, changed):
    """Accepted points each switching point costs: those since the switching point before it,
    less the steps of largest_step that interval takes anyway; from a run that writes every
    accepted point. `changed(columns, k)`: row k is a switching point. Sorted."""
    every = netlist.replace(".cir", ".every.cir")
    with open(netlist) as f, open(every, "w") as g:
        g.write(f.read().replace("\n.tran", "\n.options points=all\n.tran"))
    run = spicecmp.run_udmhost(udmhost, every, every + ".csv", timeout=RUN_TIMEOUT)
    t, costs, last = run.columns["time"], [], 0
    for k in range(1, len(t)):
        if changed(run.columns, k):
            costs.append(k - last - (t[k] - t[last]) / largest_step)
            last = k
    return sorted(costs)


def cost_sentence(costs, what):
    if not costs:
        return []
    quartiles = statistics.quantiles(costs, n=4, method="inclusive") if len(costs) > 1 else costs * 3
    return ["", f"Counted per {what} instead (from a run writing every accepted point: the points since the one "
                f"before, less the largest steps of that interval): median {statistics.median(costs):.1f}, mean "
                f"{statistics.fmean(costs):.1f}, quartiles {quartiles[0]:.1f} and {quartiles[2]:.1f} over "
                f"{len(costs)}."]


def high_side_instants(times, vsw):
    """Times of the rows at which the switch node changes side (high side closing or opening)."""
    high = [v > buck.VIN / 2 for v in vsw]
    return [times[k] for k in range(1, len(times)) if high[k] != high[k - 1]]


def buck_case(build, work):
    ours, theirs = buck.write_pair(work, os.path.join(build, "plugin", "libvcswitch.so"), BUCK_TSTEP)
    udmhost = os.path.join(build, "host", "udmhost")
    fine = os.path.join(work, "buck_reference.cir")
    with open(ours) as f, open(fine, "w") as g:
        g.write(f.read().replace("\n.tran", "\n" + BUCK_REFERENCE_OPTIONS + "\n.tran"))
    ref = run_or_timeout(lambda: spicecmp.run_udmhost(udmhost, fine, os.path.join(work, "buck_reference.csv"),
                                                       timeout=RUN_TIMEOUT))
    udm = run_or_timeout(lambda: spicecmp.run_udmhost(udmhost, ours, os.path.join(work, "buck.csv"),
                                                       timeout=RUN_TIMEOUT))
    ng = run_or_timeout(lambda: spicecmp.run_ngspice(theirs, os.path.join(work, "buck.ngspice.dat"),
                                                     timeout=RUN_TIMEOUT))
    result = {"udm": udm, "ng": ng, "ref": ref}
    if udm:
        high = lambda c, k: c["V(sw)"][k] > buck.VIN / 2
        result["per_switching"] = per_switching(udmhost, ours, 1e-6, lambda c, k: high(c, k) != high(c, k - 1))
    if ref:
        want = high_side_instants(ref.columns["time"], ref.columns["V(sw)"])
        result["ref_count"] = len(want)
        for key, run, vsw in (("udm", udm, "V(sw)"), ("ng", ng, "v(sw)")):
            if run:
                got = high_side_instants(run.columns["time"], run.columns[vsw])
                paired = list(zip(got, want))
                result[key + "_count"] = len(got)
                result[key + "_error"] = max(abs(a - b) for a, b in paired) if paired else None
    if udm:
        result["udm_ripple"] = buck.ripple(udm.columns["time"], udm.columns["V(out)"])
    if ng:
        result["ng_ripple"] = buck.ripple(ng.columns["time"], ng.columns["v(out)"])
    return result


def plot(rows, png, work):
    data = os.path.join(work, "scaling.dat")
    with open(data, "w") as f:
        for r in rows:
            u = r["udm"].cpu if r["udm"] else "NaN"
            g = r["ng"].cpu if r["ng"] else "NaN"
            f.write(f"{r['n']} {u} {g}\n")
    script = f"""
set terminal pngcairo size 800,520 noenhanced
set output '{png}'
set title 'N independent relaxation oscillators, 20 ms: CPU time'
set logscale xy
set xlabel 'N (oscillators)'
set ylabel 'CPU time [s] (user + system)'
set key top left
set grid
plot '{data}' using 1:2 with linespoints lw 2 pt 7 title 'udmhost', \\
     '{data}' using 1:3 with linespoints lw 2 pt 5 title 'ngspice'
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True, stdout=subprocess.DEVNULL)


def fmt(x, spec=".3g", missing="-"):
    return missing if x is None or isinstance(x, Failed) else format(x, spec)


def wall(run):
    return run.why if isinstance(run, Failed) else f"{run.wall:.3g}"


def cpu(run):
    return run.why if isinstance(run, Failed) else f"{run.cpu:.3g}"


def per_event(run, floor=0):
    """Accepted points beyond `floor` (the points the largest step alone takes) and full solves
    (accepted plus rejected trials, beyond the floor) per switching event."""
    events = run.extra.get("events") if run else None
    if not events:
        return "-", "-"
    return f"{(run.accepted - floor) / events:.1f}", f"{(run.accepted + run.rejected - floor) / events:.1f}"


def step_floor(tstep, stop, blocks=1):
    """Points the default largest step, min(TSTEP, TSTOP/50), takes over the run in each block."""
    return blocks * round(stop / min(tstep, stop / 50))


def simulation_sections(rows, bk, png_name, watch=()):
    L = ["## udmhost against ngspice: N relaxation oscillators", "",
         f"Oscillator i: {oscillators.V:g} V through R_i = 1 kOhm x (1 + 0.1 i/N) charging {oscillators.C:g} F "
         f"from 0 V (UIC); the switch across the capacitor, VTHRES {oscillators.VTHRES}, VHYST "
         f"{oscillators.VHYST}, RON {oscillators.RON:g} Ohm, ROFF {oscillators.ROFF:g} Ohm; "
         f"`.tran {OSC_TSTEP} 20m 0 UIC` for both (ngspice: `S` switch, `SW` model, initial state OFF), "
         "default tolerances for both.",
         "CPU: user plus system seconds of the whole process (reading, simulating, writing the rows);",
         f"the smallest of five runs where one takes under {QUICK_RUN} s.",
         "Switching error: largest |simulated - analytic| instant over the printed oscillators (up to 10,",
         "spread over all N), pairing the k-th simulated event with the k-th analytic one; event counts",
         "that differ from the analytic count are listed. Per event: udmhost's accepted points and full",
         "solves (accepted plus rejected trials) beyond the 2000 points per oscillator that the largest step",
         "(TSTEP, 10 us) takes anyway, divided by its switching events: what each switching costs.", "",
         "| N | udmhost CPU [s] | ngspice CPU [s] | ratio udm/ng | accepted udm / ng | rejected udm / ng | "
         "points / event | solves / event | switching error udm [s] | ngspice [s] | accuracy ratio ng/udm | "
         "events (sim/analytic) |",
         "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|"]
    for r in rows:
        u, g = r["udm"], r["ng"]
        ratio = f"{u.cpu / g.cpu:.2f}" if u and g else "-"
        acc = (f"{r['ng_error'] / r['udm_error']:.0f}" if u and g and r.get("udm_error") else "-")
        mism = []
        for key, who in (("udm_counts", "udm"), ("ng_counts", "ng")):
            bad = [c for c in r.get(key, []) if c[0] != c[1]]
            if bad:
                mism.append(f"{who}: " + ", ".join(f"{a}/{b}" for a, b in bad[:3]))
        points, solves = per_event(u, step_floor(10e-6, oscillators.TSTOP, r["n"]))
        L.append(f"| {r['n']} | {cpu(u)} | {cpu(g)} | {ratio} | {fmt(u and u.accepted, 'd')} / "
                 f"{fmt(g and g.accepted, 'd')} | {fmt(u and u.rejected, 'd')} / {fmt(g and g.rejected, 'd')} | "
                 f"{points} | {solves} | {fmt(r.get('udm_error'), '.2e')} | "
                 f"{fmt(r.get('ng_error'), '.2e')} | {acc} | {'; '.join(mism) or 'all match'} |")
    single = [r for r in rows if r.get("per_switching")]
    if single:
        L += cost_sentence(single[0]["per_switching"], "switching of the single oscillator")
    L += ["", f"![CPU time against N]({png_name})", ""]
    big = rows[-1]
    if big["udm"] and big["ng"]:
        met = big["udm"].cpu <= big["ng"].cpu and big.get("udm_error") is not None and big["udm_error"] <= 1e-5
        L.append(f"Target at N = {big['n']} (udmhost CPU at or below ngspice's, largest instant error at most "
                 f"1e-5 s): **{'met' if met else 'missed'}**.")
    else:
        L.append(f"Target at N = {big['n']}: **missed** (udmhost {cpu(big['udm'])}, ngspice {cpu(big['ng'])}).")

    L += ["", "## udmhost against ngspice: synchronous buck converter", "",
          f"{buck.VIN:g} V in, reference {buck.VREF:g} V, hysteresis +-{buck.VHYST:g} V; high-side and low-side "
          f"switch (RON {buck.RON:g} Ohm, ROFF {buck.ROFF:g} Ohm) driven in opposite sense by the output; "
          f"L {buck.L:g} H, C {buck.C:g} F with {buck.ESR:g} Ohm series resistance, load {buck.RLOAD:g} Ohm; "
          f"`.tran {BUCK_TSTEP} 20m 0 UIC`. Ripple: peak-to-peak output from {buck.RIPPLE_FROM * 1e3:g} ms on.",
          f"Instant error: largest difference of the k-th change of the switch node's side from the k-th of a",
          f"reference run of udmhost with `{BUCK_REFERENCE_OPTIONS}` "
          f"({bk.get('ref_count', '-')} changes, CPU {cpu(bk['ref'])} s).", "",
          "Per event as for the oscillators, beyond the 20000 points of the largest step (1 us).", "",
          "| | CPU [s] | accepted | rejected | points / event | solves / event | changes | instant error [s] | "
          "ripple [mV] | mean output [V] |",
          "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for key, who in (("udm", "udmhost"), ("ng", "ngspice")):
        run = bk[key]
        if not run:
            L.append(f"| {who} | {cpu(run)} | - | - | - | - | - | - | - | - |")
            continue
        rip, mean = bk[key + "_ripple"]
        points, solves = per_event(run, step_floor(1e-6, buck.TSTOP)) if key == "udm" else ("-", "-")
        L.append(f"| {who} | {run.cpu:.3g} | {fmt(run.accepted, 'd')} | {fmt(run.rejected, 'd')} | {points} | "
                 f"{solves} | {bk.get(key + '_count', '-')} | {fmt(bk.get(key + '_error'), '.2e')} | "
                 f"{rip * 1e3:.1f} | {mean:.4f} |")
    if bk["udm"] and bk["ng"]:
        faster = bk["udm"].cpu <= bk["ng"].cpu
        closer = bk.get("udm_error") and bk.get("ng_error") and bk["ng_error"] >= 100 * bk["udm_error"]
        L += ["", f"CPU ratio udmhost / ngspice: **{bk['udm'].cpu / bk['ng'].cpu:.2f}**; instants "
              f"{fmt(bk.get('ng_error') and bk.get('udm_error') and bk['ng_error'] / bk['udm_error'], '.0f')} "
              f"times closer to the reference (target: CPU at most ngspice's with instants at least 100 times "
              f"closer: {'met' if faster and closer else 'missed'})."]
    L += cost_sentence(bk.get("per_switching"), "switching point of udmhost (two events each)")
    if watch:
        L += watchers_section(watch)
    L += ["", "Step and iteration counts are each simulator's own report.", ""]
    # What the figures come from, what was tried and how to read them: kept
    # by hand beside this script, included as it stands.
    with open(os.path.join(HERE, "performance_notes.md")) as f:
        L += f.read().rstrip("\n").split("\n") + [""]
    return L


def write_report(path, m_start, m_end, instr, gbench, plat, rows, bk, png_name, watch=()):
    L = []
    L += ["# Performance", "",
          "Written by `bench/run.sh`; every figure below comes from one run on one machine, so compare",
          "ratios within a table rather than absolute times across runs.", "",
          f"Machine: {m_start['cpu']}, {m_start['cores']} cores; {m_start['ngspice']}.",
          f"Load average (1 min) when the run began: {m_start['load']:.2f}, when it ended: {m_end['load']:.2f}.",
          "The cores are shared, so wall times carry noise; instruction counts under callgrind do not.", ""]

    frame, evaluate = instr["frame"][0], instr["evaluate"][0]
    L += ["## The plug-in: one UDMMain call", "",
          "Through the exported `UDMMain` with real handles from the platform layer. Instructions per call",
          "are counted under callgrind (run with N and 2N calls, difference / N); times are the median CPU",
          "time of three Google Benchmark repetitions.", "",
          "| call | instructions | CPU time [ns] | instructions / mode 0 |",
          "|---|---:|---:|---:|"]
    names = [("frame", "BM_Mode0_Frame", "mode 0, the bare frame (2 locks, 2 unlocks)"),
             ("evaluate", "BM_Mode3_Evaluate", "mode 3, numeric parameters"),
             ("evaluate-expr", "BM_Mode3_EvaluateTwoExpressions", "mode 3, two expression parameters"),
             ("output", "BM_Mode6_OutputValue", "mode 6, output value")]
    for kind, bench, label in names:
        t = gbench.get(bench, (None, None))[0]
        L.append(f"| {label} | {instr[kind][0]:.0f} | {fmt(t, '.1f')} | {instr[kind][0] / frame:.2f} |")
    L += ["", f"Targets: mode 3 at most 2.5 times mode 0: **{evaluate / frame:.2f}**, "
          f"{'met' if evaluate / frame <= 2.5 else 'missed'}; mode 3 under 150 instructions: "
          f"**{evaluate:.0f}**, {'met' if evaluate < 150 else 'missed'}.", "",
          "Where the instructions of one numeric mode-3 call go (self counts per function, per call):", "",
          "| function | instructions |", "|---|---:|"]
    for name, count in instr["evaluate"][1]:
        label = "the driver's calling loop" if name == "main" else f"`{name.split('(')[0]}`"
        L.append(f"| {label} | {count:.0f} |")
    per_fn = dict(instr["evaluate"][1])
    locks = per_fn.get("GlobalLock", 0) + per_fn.get("GlobalUnlock", 0)
    L += ["", f"The four lock/unlock pairs of a mode-3 call (instance, component, vector and matrix block) take "
          f"{locks:.0f} of its {evaluate:.0f} instructions; the rest is the frame's dispatch and the evaluation."]
    lock, deref = instr["lock-pair"][0], instr["deref"][0]
    t_lock = plat.get("BM_LockUnlockPair", (None,))[0]
    t_deref = plat.get("BM_PointerDereference", (None,))[0]
    t_many = plat.get("BM_LockUnlockPairManyBlocks/4000", (None,))[0]
    L += ["", "## The platform layer: lock and unlock", "",
          "| operation | instructions | CPU time [ns] |", "|---|---:|---:|",
          f"| read through a plain pointer | {deref:.0f} | {fmt(t_deref, '.2f')} |",
          f"| `GlobalLock` + read + `GlobalUnlock`, one handle | {lock:.0f} | {fmt(t_lock, '.2f')} |",
          f"| the same, cycling through 4000 handles | - | {fmt(t_many, '.2f')} |", ""]
    if t_lock and t_deref:
        L.append(f"A lock/unlock pair costs {lock / deref:.1f} times the instructions of a plain dereference "
                 f"and {t_lock / t_deref:.0f} times its time: the two atomic read-modify-writes on the lock "
                 "count dominate the time, not the instruction count.")
    L += [""] + simulation_sections(rows, bk, png_name, watch)
    with open(path, "w") as f:
        f.write("\n".join(L))


def simulation_only(build, docs, work, m_start, started):
    """Reruns only udmhost against ngspice and replaces those sections of docs/performance.md."""
    rows = []
    for n in OSC_COUNTS:
        print(f"{n} oscillators ...", flush=True)
        rows.append(oscillator_case(n, build, work))
    print("buck converter ...", flush=True)
    bk = buck_case(build, work)
    watch = []
    for n in WATCH_COUNTS:
        print(f"oscillator watched by {n} ...", flush=True)
        watch.append(watchers_case(n, build, work))
    png = "performance_oscillators.png"
    plot(rows, os.path.join(docs, png), work)
    path = os.path.join(docs, "performance.md")
    with open(path) as f:
        head = f.read().split("## udmhost against ngspice")[0].rstrip("\n").split("\n")
    m_end = machine()
    note = [f"The udmhost-against-ngspice sections below come from a later run of "
            f"`bench/report.py --simulation-only` alone on the same machine ({m_start['cpu']}, "
            f"{m_start['cores']} cores; load average {m_start['load']:.2f} at its start, {m_end['load']:.2f} "
            "at its end); the sections above are from the last full run.", ""]
    with open(path + ".tmp", "w") as f:
        f.write("\n".join([l for l in head if not l.startswith("The udmhost-against-ngspice sections")] + [""] +
                           note + simulation_sections(rows, bk, png, watch)))
    os.replace(path + ".tmp", path)
    print(f"docs/performance.md updated in {time.perf_counter() - started:.0f} s")


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    build = os.path.abspath(args[0] if args else os.path.join(ROOT, "build", "release"))
    docs = os.path.join(ROOT, "docs")
    os.makedirs(docs, exist_ok=True)
    work = os.path.join(build, "bench-work")
    os.makedirs(work, exist_ok=True)
    m_start = machine()
    started = time.perf_counter()
    if "--simulation-only" in sys.argv:
        simulation_only(build, docs, work, m_start, started)
        return
    print("instruction counts under callgrind ...", flush=True)
    instr = instructions.measure(build)
    print("Google Benchmark ...", flush=True)
    gbench = google_benchmark(os.path.join(build, "bench", "udmmain_bench"))
    plat = google_benchmark(os.path.join(build, "bench", "platform_lock_bench"))
    rows = []
    for n in OSC_COUNTS:
        print(f"{n} oscillators ...", flush=True)
        rows.append(oscillator_case(n, build, work))
    print("buck converter ...", flush=True)
    bk = buck_case(build, work)
    watch = []
    for n in WATCH_COUNTS:
        print(f"oscillator watched by {n} ...", flush=True)
        watch.append(watchers_case(n, build, work))
    png = "performance_oscillators.png"
    plot(rows, os.path.join(docs, png), work)
    write_report(os.path.join(docs, "performance.md"), m_start, machine(), instr, gbench, plat, rows, bk, png,
                 watch)
    print(f"docs/performance.md written in {time.perf_counter() - started:.0f} s")


if __name__ == "__main__":
    main()
