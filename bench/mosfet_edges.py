"""Time points per MOSFET switching edge in udmhost and in ngspice, on the
MOSFET examples as they stand (their own .tran, each simulator's default
step limit).

An edge is a crossing of the middle of the switch node's range; its points
are the accepted points within WINDOW of the period either side of it.
Also: accepted and rejected points and Newton iterations of the whole run.

    python3 bench/mosfet_edges.py BUILD_DIR [EXAMPLE ...]
"""
import bisect
import os
import re
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, os.path.join(ROOT, "tests", "crosscheck"))

import spicecmp  # noqa: E402
from spice_examples import crossings  # noqa: E402

# example: (switch node, period)
EXAMPLES = {"sync_buck": ("v(sw)", 4e-6), "boost_mosfet": ("v(sw)", 10e-6)}
WINDOW = 0.01  # of the period, either side of an edge's mid-range crossing


def without_control(text):
    return re.sub(r"(?ims)^\.control\b.*?^\.endc\b.*?$", "", text)


def edge_points(times, values, period):
    low, high = min(values), max(values)
    band = 0.05 * (high - low)
    mid = 0.5 * (low + high)
    edges = crossings(times, values, mid - band, mid + band)
    counts = [bisect.bisect_right(times, t + WINDOW * period) - bisect.bisect_left(times, t - WINDOW * period)
              for t, _ in edges]
    return edges, counts


def summary(counts):
    if not counts:
        return "no edges"
    ordered = sorted(counts)
    return f"{len(counts)} edges, points per edge median {ordered[len(ordered) // 2]}, max {ordered[-1]}"


def measure(name, build, work):
    node, period = EXAMPLES[name]
    text = without_control(open(os.path.join(ROOT, "examples", "spice", name + ".cir")).read())
    text = re.sub(r"(?im)^\.meas\b.*$", "", text)
    ours_path = os.path.join(work, name + ".cir")
    with open(ours_path, "w") as f:
        f.write(re.sub(r"(?im)^\.end\s*$", ".options points=all\n.end", text))
    udmhost = os.path.join(build, "host", "udmhost")
    ours = spicecmp.run_udmhost(udmhost, ours_path, os.path.join(work, name + ".csv"))
    theirs_path = os.path.join(work, name + ".ngspice.cir")
    data = name + ".ngspice.dat"
    with open(theirs_path, "w") as f:
        f.write(re.sub(r"(?im)^\.end\s*$", "", text) + spicecmp.ngspice_control([node], data) + "\n.end\n")
    theirs = spicecmp.run_ngspice(theirs_path, os.path.join(work, data))
    column = next(c for c in ours.columns if c.lower() == node)
    for label, run, values in (("udmhost", ours, ours.columns[column]), ("ngspice", theirs, theirs.columns[node])):
        _, counts = edge_points(run.columns["time"], values, period)
        print(f"{name} {label}: {run.accepted} accepted, {run.rejected} rejected, {run.newton} Newton iterations; "
              f"{summary(counts)} (within {WINDOW:.0%} of the period)")


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/release")
    names = sys.argv[2:] or list(EXAMPLES)
    with tempfile.TemporaryDirectory() as work:
        for name in names:
            measure(name, build, work)


if __name__ == "__main__":
    main()
