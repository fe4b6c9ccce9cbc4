"""Circuits whose switches all lie in one strongly connected part: N relaxation
oscillators coupled by 10 kOhm in a ring. Writes the udmhost and the ngspice
netlist, runs both and prints CPU seconds and the growth exponent.

    python3 bench/coupled.py BUILD_DIR N [N ...]
"""
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


def ring_lines(n):
    return [f"RK{i} c{i} c{(i + 1) % n} {COUPLING!r}" for i in range(n)]


def with_ring(text, n):
    lines = text.split("\n")
    at = next(i for i, line in enumerate(lines) if line.startswith(".tran"))
    return "\n".join(lines[:at] + ring_lines(n) + lines[at:])


def cpu_seconds(command, folder, ok=(0,), done=None):
    """CPU seconds of one run and its output; ngspice in batch mode may end with 1 after a complete run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = subprocess.run(command, cwd=folder, capture_output=True, text=True)
    if result.returncode not in ok or (done and done not in result.stdout + result.stderr):
        raise RuntimeError(f"{command[0]} failed:\n{(result.stdout + result.stderr)[-2000:]}")
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), result.stdout + result.stderr


def udmhost_counts(report):
    """Accepted and rejected points and switching events from udmhost's report."""
    accepted, rejected = map(int, re.search(r"(\d+) accepted, (\d+) rejected", report).groups())
    return accepted, rejected, int(re.search(r"switching events:\s+(\d+)", report).group(1))


def run(build, n, folder):
    plugin = os.path.abspath(os.path.join(build, "plugin", "libvcswitch.so"))
    ours = os.path.join(folder, f"ring{n}.cir")
    theirs = os.path.join(folder, f"ring{n}.ngspice.cir")
    with open(ours, "w") as f:
        f.write(with_ring(osc.udmhost_netlist(n, plugin, TSTEP), n))
    with open(theirs, "w") as f:
        f.write(with_ring(osc.ngspice_netlist(n, TSTEP, f"ring{n}.ngspice.dat"), n))
    udmhost = os.path.abspath(os.path.join(build, "host", "udmhost"))
    ours_cpu, report = cpu_seconds([udmhost, "run", ours, "-o", f"ring{n}.csv"], folder)
    theirs_cpu, _ = cpu_seconds(["ngspice", "-b", theirs], folder, (0, 1), "Transient analysis time")
    return ours_cpu, theirs_cpu, udmhost_counts(report)


def main():
    build = sys.argv[1]
    sizes = [int(a) for a in sys.argv[2:]] or [64]
    rows = []
    with tempfile.TemporaryDirectory() as folder:
        for n in sizes:
            ours, theirs, (accepted, rejected, events) = run(build, n, folder)
            rows.append((n, ours, theirs))
            # Beyond the points the largest step (TSTEP) takes anyway, per switching event.
            extra = accepted - osc.TSTOP / TSTEP
            print(f"ring N={n}: udmhost {ours:.2f} s, ngspice {theirs:.2f} s; udmhost {accepted} accepted, "
                  f"{rejected} rejected, {events} events, {extra / events:.2f} points and "
                  f"{(extra + rejected) / events:.2f} solves per event", flush=True)
    for (n0, a0, b0), (n1, a1, b1) in zip(rows, rows[1:]):
        k = math.log(n1 / n0)
        print(f"growth N={n0}..{n1}: udmhost N^{math.log(a1 / a0) / k:.2f}, ngspice N^{math.log(b1 / b0) / k:.2f}")


if __name__ == "__main__":
    main()
