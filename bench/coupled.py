"""Circuits whose switches all lie in one strongly connected part: N relaxation
oscillators coupled by 10 kOhm in a ring. Writes the udmhost and the ngspice
netlist, runs both and a tight udmhost reference, and prints CPU seconds, the
counts of udmhost's report, the switching instants against the reference and
the growth exponent.

    python3 bench/coupled.py BUILD_DIR N [N ...]
"""
import collections
import csv
import math
import os
import re
import resource
import subprocess
import sys
import tempfile

import oscillators as osc

COUPLING = 10e3
TSTEP = 20e-6
REFERENCE_OPTIONS = ".options reltol=1e-8 eventtol=1e-13"
# A closed switch carries amperes, an open one nanoamperes.
CLOSED_CURRENT = 1e-3
# The instants' target against the tight reference [s].
INSTANT_TOLERANCE = 1e-5


def ring_lines(n):
    return [f"RK{i} c{i} c{(i + 1) % n} {COUPLING!r}" for i in range(n)]


def with_ring(text, n, options=None):
    lines = text.split("\n")
    at = next(i for i, line in enumerate(lines) if line.startswith(".tran"))
    return "\n".join(lines[:at] + ring_lines(n) + ([options] if options else []) + lines[at:])


def cpu_seconds(command, folder, ok=(0,), done=None):
    """CPU seconds of one run and its output; ngspice in batch mode may end with 1 after a complete run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = subprocess.run(command, cwd=folder, capture_output=True, text=True)
    if result.returncode not in ok or (done and done not in result.stdout + result.stderr):
        raise RuntimeError(f"{command[0]} failed:\n{(result.stdout + result.stderr)[-2000:]}")
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), result.stdout + result.stderr


def udmhost_counts(report):
    """Accepted and rejected points, Newton iterations, switching events and the parts integrated
    each on its own steps, from udmhost's report."""
    accepted, rejected = map(int, re.search(r"(\d+) accepted, (\d+) rejected", report).groups())
    newton = int(re.search(r"Newton iterations:\s+(\d+)", report).group(1))
    parts = re.search(r"circuit parts:\s+(\d+)", report)
    return (accepted, rejected, newton, int(re.search(r"switching events:\s+(\d+)", report).group(1)),
            int(parts.group(1)) if parts else 1)


def event_times(path):
    """Per switch, the instants of its changes of state, from udmhost's --events file."""
    times = collections.defaultdict(list)
    with open(path) as f:
        for row in csv.DictReader(f):
            times[row["element"]].append(float(row["time"]))
    return times


def ngspice_event_times(path, n):
    """Per sampled switch, the first row of ngspice's output at which its state changed."""
    times = collections.defaultdict(list)
    with open(path) as f:
        names = f.readline().split()
        rows = [[float(v) for v in line.split()] for line in f if line.strip()]
    t = names.index("time")
    for i in osc.sampled(n):
        k = names.index(f"i(vs{i})")
        closed = [abs(r[k]) > CLOSED_CURRENT for r in rows]
        times[f"Y{i}"] = [rows[j][t] for j in range(1, len(rows)) if closed[j] != closed[j - 1]]
    return times


def instant_error(run, ref):
    """Largest |k-th instant - reference's k-th| over the switches of `run`, and how many differ in count."""
    worst, off = 0.0, 0
    for name, got in run.items():
        want = ref.get(name, [])
        # One instant more that lies within the tolerance of the stop time
        # fell on the other side of it in the other run: not a switching missed.
        longer = got if len(got) > len(want) else want
        at_stop = abs(len(got) - len(want)) == 1 and osc.TSTOP - longer[-1] < INSTANT_TOLERANCE
        off += len(got) != len(want) and not at_stop
        worst = max([worst] + [abs(a - b) for a, b in zip(got, want)])
    return worst, off


def run(build, n, folder):
    plugin = os.path.abspath(os.path.join(build, "plugin", "libvcswitch.so"))
    udmhost = os.path.abspath(os.path.join(build, "host", "udmhost"))
    text = osc.udmhost_netlist(n, plugin, TSTEP)
    files = {"ours": f"ring{n}.cir", "ref": f"ring{n}.reference.cir", "theirs": f"ring{n}.ngspice.cir"}
    for key, netlist in (("ours", with_ring(text, n)), ("ref", with_ring(text, n, REFERENCE_OPTIONS)),
                         ("theirs", with_ring(osc.ngspice_netlist(n, TSTEP, f"ring{n}.ngspice.dat"), n))):
        with open(os.path.join(folder, files[key]), "w") as f:
            f.write(netlist)
    ours_cpu, report = cpu_seconds([udmhost, "run", files["ours"], "-o", f"ring{n}.csv", "--events", f"ring{n}.events.csv"], folder)
    theirs_cpu, _ = cpu_seconds(["ngspice", "-b", files["theirs"]], folder, (0, 1), "Transient analysis time")
    cpu_seconds([udmhost, "run", files["ref"], "-o", f"ring{n}.ref.csv", "--events", f"ring{n}.ref.events.csv"], folder)
    ref = event_times(os.path.join(folder, f"ring{n}.ref.events.csv"))
    ours = instant_error(event_times(os.path.join(folder, f"ring{n}.events.csv")), ref)
    theirs = instant_error(ngspice_event_times(os.path.join(folder, f"ring{n}.ngspice.dat"), n), ref)
    return ours_cpu, theirs_cpu, udmhost_counts(report), ours, theirs


def main():
    build = sys.argv[1]
    sizes = [int(a) for a in sys.argv[2:]] or [64]
    rows = []
    with tempfile.TemporaryDirectory() as folder:
        for n in sizes:
            ours, theirs, (accepted, rejected, newton, events, parts), (err, off), (ng_err, ng_off) = run(build, n, folder)
            rows.append((n, ours, theirs))
            # Beyond the points the largest step (TSTEP) takes anyway in each part, per switching event.
            extra = accepted - parts * osc.TSTOP / TSTEP
            print(f"ring N={n}: udmhost {ours:.2f} s, ngspice {theirs:.2f} s; udmhost {parts} parts, {accepted} accepted, "
                  f"{rejected} rejected, {newton} Newton iterations, {events} events, {extra / events:.2f} points and "
                  f"{(extra + rejected) / events:.2f} solves per event; largest instant error udmhost {err:.1e} s "
                  f"({off} switches with another count beyond one at the stop), ngspice {ng_err:.1e} s ({ng_off} of the sampled)", flush=True)
    for (n0, a0, b0), (n1, a1, b1) in zip(rows, rows[1:]):
        k = math.log(n1 / n0)
        print(f"growth N={n0}..{n1}: udmhost N^{math.log(a1 / a0) / k:.2f}, ngspice N^{math.log(b1 / b0) / k:.2f}")


if __name__ == "__main__":
    main()
