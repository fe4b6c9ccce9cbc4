"""Runs the SPICE examples unchanged through udmhost and ngspice and compares
switching instants and waveforms.

    spice_examples.py --udmhost PATH --plugin NAME=PATH... --work DIR EXAMPLE.cir...

Each example must run unchanged in both simulators. Waveforms are compared
at our time points, against the range the reference takes within a short
time shift, away from switching instants. The reference is a second
ngspice run of the same netlist with the step limit 100 times below ngspice's
default (its control block replaced by one that writes the vectors): ngspice
decides a switch only at its own time points, so with its default step the
instant lags by up to a step. Reference instants are where the reference's
control voltage reaches a threshold (interpolated): a switch closes at VT+VH
and opens at VT-VH. Ours come from --events.
"""
import argparse
import bisect
import csv
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))

import spicecmp  # noqa: E402
from to_ngspice import evaluate  # noqa: E402

SPAN_SLACK = 1e-3      # of the span: largest instant difference allowed
WINDOW = 1e-3          # of the span, left out of the waveform comparison around events
WAVE_TOLERANCE = 0.02  # of the waveform's peak-to-peak range
SHIFT = 1e-4           # of the span: a jump this much earlier or later is the same jump
# Circuits switched by MOSFETs have no switching events: their edges are where
# each waveform crosses the middle of its range, compared within a share of
# the period, and their waveforms within a tighter share of the range.
MOSFET_WAVE_TOLERANCE = 0.01
EDGE_SLACK = 0.01      # of the reference's period
EDGE_BAND = 0.05       # of the range: hysteresis of a crossing


def logical_lines(text):
    lines = []
    for raw in text.splitlines()[1:]:
        raw = re.split(r";|\s//|^//|\s\$\s", raw)[0].rstrip()
        stripped = raw.strip()
        if not stripped or stripped.startswith("*"):
            continue
        if stripped.startswith("+") and lines:
            lines[-1] += " " + stripped[1:]
        else:
            lines.append(stripped)
    return lines


def words(line):
    return re.sub(r"\(|\)|,", " ", line.replace("params:", " ")).split()


def assignments(ws):
    return {k.lower(): v for k, _, v in (w.partition("=") for w in ws if "=" in w)}


class Netlist:
    """What the comparison needs: switches (name as udmhost names them,
    control nodes as ngspice names them, thresholds), .tran and .print."""

    def __init__(self, text):
        # A model card's closing ')' alone on its line leaves no words.
        self.lines = [line for line in logical_lines(text) if words(line)]
        self.params, self.models, self.subckts = {}, {}, {}
        self.switches, self.prints, self.tran = [], [], None
        self.mosfets = any(line.split()[0][0] in "mM" for line in self.lines)
        top, current = [], None
        for line in self.lines:
            ws = words(line)
            head = ws[0].lower()
            if head == ".subckt":
                current = {"ports": [w.lower() for w in ws[2:] if "=" not in w], "body": []}
                self.subckts[ws[1].lower()] = current
            elif head == ".ends":
                current = None
            elif current is not None and head != ".model":
                current["body"].append(line)
            else:
                top.append(line)
        for line in top:
            ws = words(line)
            head = ws[0].lower()
            if head == ".param":
                for k, v in assignments(ws[1:]).items():
                    self.params[k] = evaluate(v, self.params)
            elif head == ".model" and ws[2].lower() == "sw":
                values = {k: evaluate(v, self.params) for k, v in assignments(ws[3:]).items()}
                self.models[ws[1].lower()] = (values.get("vt", 0.0), abs(values.get("vh", 0.0)))
            elif head == ".tran":
                self.tran = [evaluate(w, self.params) for w in ws[1:] if w.lower() != "uic"]
            elif head == ".print":
                self.prints += [w for w in re.findall(r"[vi]\([^)]*\)", line, re.IGNORECASE)]
        for line in top:
            self._element(line, "", {})

    def _element(self, line, path, nodes):
        ws = [w for w in words(line) if "=" not in w]
        name = ws[0]

        def node(n):
            n = n.lower()
            if n in ("0", "gnd"):
                return "0"
            return nodes.get(n, f"{path}.{n}" if path else n)

        if name[0] in "sS":
            ours = f"{name[0]}.{path}.{name}" if path else name
            on = len(ws) > 6 and ws[6].lower() == "on"
            self.switches.append({"name": ours.lower(), "nc": (node(ws[3]), node(ws[4])),
                                  "law": self.models[ws[5].lower()], "on": on})
        elif name[0] in "xX":
            sub = self.subckts[ws[-1].lower()]
            inner = {p: node(a) for p, a in zip(sub["ports"], ws[1:-1])}
            for body in sub["body"]:
                self._element(body, f"{path}.{name}" if path else name, inner)


def crossings(times, values, low, high):
    """(time, rising) where the waveform passes from below low to above high
    or back, at the interpolated middle."""
    mid, out, state = 0.5 * (low + high), [], None
    for k in range(1, len(times)):
        v0, v1 = values[k - 1], values[k]
        if state is None:
            state = v0 > mid
        if (not state and v1 > high) or (state and v1 < low):
            j = k
            while j > 0 and (values[j - 1] > mid) != state:
                j -= 1
            a, b = values[j - 1], values[j]
            f = (mid - a) / (b - a) if b != a else 0.0
            out.append((times[j - 1] + f * (times[j] - times[j - 1]), not state))
            state = not state
    return out


def compare_edges(ours_t, ours_v, ref_t, ref_v):
    """Largest difference of the mid-range crossing instants and the
    reference's period, or a failure text."""
    low, high = min(ref_v), max(ref_v)
    band = EDGE_BAND * (high - low)
    mine = crossings(ours_t, ours_v, 0.5 * (low + high) - band, 0.5 * (low + high) + band)
    theirs = crossings(ref_t, ref_v, 0.5 * (low + high) - band, 0.5 * (low + high) + band)
    rises = [t for t, up in theirs if up]
    gaps = sorted(b - a for a, b in zip(rises, rises[1:]))
    period = gaps[len(gaps) // 2] if gaps else ref_t[-1] - ref_t[0]
    if [up for _, up in mine] != [up for _, up in theirs]:
        return None, period, f"{len(mine)} edges, reference {len(theirs)}", mine + theirs
    worst = max((abs(a - b) for (a, _), (b, _) in zip(mine, theirs)), default=0.0)
    return worst, period, None, mine + theirs


def band_distance(times, values, t, v, shift):
    """How far v lies outside the range the reference takes within t +- shift:
    a steep edge (a diode turning off) a few nanoseconds apart is no error."""
    lo_k = bisect.bisect_left(times, t - shift)
    hi_k = bisect.bisect_right(times, t + shift)
    around = values[lo_k:hi_k] + [spicecmp.interpolate(times, values, x) for x in (t - shift, t + shift)]
    low, high = min(around), max(around)
    return 0.0 if low <= v <= high else min(abs(v - low), abs(v - high))


def reference_text(text, net, data, vectors=None, divisor=100, floor=0.0):
    """The netlist with a control block writing vectors and, unless divisor
    is None, the step limit ngspice's default divided by it (not below floor)."""
    step, stop = net.tran[0], net.tran[1]
    start = net.tran[2] if len(net.tran) > 2 else 0.0
    if vectors is None:
        vectors = [p.lower() for p in net.prints]
        for sw in net.switches:
            vectors += [f"v({n})" for n in sw["nc"] if n != "0" and f"v({n})" not in vectors]
    body = re.sub(r"(?ims)^\.control\b.*?^\.endc\b.*?$", "", text)
    if divisor is not None:
        tmax = max(min(step, (stop - start) / 50) / divisor, floor)
        fine = f".tran {step!r} {stop!r} {start!r} {tmax!r}"
        body = re.sub(r"(?im)^\.tran\b.*$",
                      lambda m: fine + (" uic" if re.search(r"(?i)\buic\b", m.group(0)) else ""), body)
    body = re.sub(r"(?im)^\.end\s*$", "", body)
    return body + "\n" + spicecmp.ngspice_control(vectors, data) + "\n.end\n"


def reference_events(net, columns):
    """(time, switch, state) where the reference's control voltages pass the thresholds."""
    events = []
    t = columns["time"]
    for sw in net.switches:
        a, b = sw["nc"]
        va = columns[f"v({a})"] if a != "0" else [0.0] * len(t)
        vb = columns[f"v({b})"] if b != "0" else [0.0] * len(t)
        v = [x - y for x, y in zip(va, vb)]
        vt, vh = sw["law"]
        state = sw["on"] or v[0] > vt + vh
        for k in range(1, len(t)):
            level = vt - vh if state else vt + vh
            # A switch that acts on its own control voltage turns it back at
            # the time point where it passes, so the accepted waveform may
            # stop short of the threshold: reaching it within a sample's
            # change counts.
            eps = 1e-5 * max(1.0, abs(level)) + 2.0 * abs(v[k] - v[k - 1])
            toward = -1.0 if state else 1.0
            turns = k + 1 < len(t) and (v[k + 1] - v[k]) * toward < 0.0 and (v[k] - v[k - 1]) * toward > 0.0
            passed = (v[k] < level if state else v[k] > level) or (turns and abs(v[k] - level) < eps)
            if passed:
                f = (level - v[k - 1]) / (v[k] - v[k - 1]) if v[k] != v[k - 1] else 1.0
                f = min(max(f, 0.0), 1.0)
                events.append((t[k - 1] + f * (t[k] - t[k - 1]), sw["name"], not state))
                state = not state
    return sorted(events)


def our_events(path, switches):
    names = {sw["name"] for sw in switches}
    with open(path) as f:
        return [(float(r["time"]), r["element"].lower(), r["state"] == "1") for r in csv.DictReader(f)
                if r["element"].lower() in names]


def check(example, args):
    name = os.path.splitext(os.path.basename(example))[0]
    text = open(example).read()
    net = Netlist(text)
    work = args.work
    # Unchanged in ngspice: the example itself must complete.
    log = subprocess.run(["ngspice", "-b", os.path.abspath(example)], cwd=work, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, timeout=600).stdout
    failures, report = [], []
    if "Transient analysis time" not in log and "transient" not in log.lower():
        failures.append("ngspice did not run the example unchanged")
    ref_net = os.path.join(work, name + ".reference.cir")
    data = name + ".reference.dat"
    with open(ref_net, "w") as f:
        f.write(reference_text(text, net, data))
    theirs = spicecmp.run_ngspice(ref_net, os.path.join(work, data), timeout=900)
    csv_file, events_file = os.path.join(work, name + ".csv"), os.path.join(work, name + ".events.csv")
    cmd = [args.udmhost, "run", os.path.abspath(example), "-o", csv_file, "--events", events_file]
    for plugin in args.plugin:
        cmd += ["--plugin", plugin]
    subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    ours = spicecmp.Run(spicecmp.read_csv(csv_file), 0.0)
    span = net.tran[1]

    mine, other = our_events(events_file, net.switches), reference_events(net, theirs.columns)
    if [(s, n) for _, s, n in mine] != [(s, n) for _, s, n in other]:
        failures.append(f"switching differs: udmhost {len(mine)} events, reference {len(other)}; first "
                        f"udmhost {mine[:3]}, reference {other[:3]}")
        worst = None
    else:
        worst = max((abs(a[0] - b[0]) for a, b in zip(mine, other)), default=0.0)
        if worst > SPAN_SLACK * span:
            failures.append(f"instants differ by up to {worst:.3g} s, more than {SPAN_SLACK * span:.3g} s")
    report.append(f"{len(mine)} switching events, largest instant difference "
                  f"{'-' if worst is None else f'{worst:.3g} s'}")
    events = [t for t, _, _ in mine] + [t for t, _, _ in other]
    wave_tolerance = MOSFET_WAVE_TOLERANCE if net.mosfets else WAVE_TOLERANCE
    if net.mosfets:
        for column in ours.columns:
            if column == "time" or column.lower() not in theirs.columns:
                continue
            worst, period, failure, edges = compare_edges(ours.columns["time"], ours.columns[column],
                                                          theirs.columns["time"], theirs.columns[column.lower()])
            events += [t for t, _ in edges]
            if failure:
                failures.append(f"{column}: {failure}")
                continue
            report.append(f"{column}: {len(edges) // 2} edges, largest instant difference {worst:.3g} s "
                          f"({worst / period:.2%} of the period {period:.3g} s)")
            if worst > EDGE_SLACK * period:
                failures.append(f"{column}: edges differ by {worst:.3g} s, more than {EDGE_SLACK:.0%} of the period")
    for column in ours.columns:
        if column == "time" or column.lower() not in theirs.columns:
            continue
        t_ng, v_ng = theirs.columns["time"], theirs.columns[column.lower()]
        points = [(t, v) for t, v in zip(ours.columns["time"][1:], ours.columns[column][1:])
                  if not any(abs(t - e) <= WINDOW * span for e in events)]
        if not points:
            continue
        values = [v for _, v in points]
        tolerance = wave_tolerance * max(max(values) - min(values), 1e-6 / wave_tolerance)
        diff = max(band_distance(t_ng, v_ng, t, v, SHIFT * span) for t, v in points)
        report.append(f"{column}: largest difference {diff:.3g} (tolerance {tolerance:.3g})")
        if diff > tolerance:
            failures.append(f"{column}: differs by {diff:.3g}, more than {tolerance:.3g}")
    return name, report, failures


def command_line(inputs):
    """--udmhost, --plugin (repeatable), --work (created) and the netlists, named `inputs`."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--udmhost", required=True)
    parser.add_argument("--plugin", action="append", default=[])
    parser.add_argument("--work", required=True)
    parser.add_argument(inputs, nargs="+")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    return args


def run_each(netlists, check, status=lambda name, failures: "FAILED" if failures else "agrees with ngspice"):
    """Prints what check(netlist) -> (name, report, failures) found for each; 1 if any failed."""
    failed = False
    for netlist in netlists:
        name, report, failures = check(netlist)
        print(f"== {name}: {status(name, failures)}")
        for line in report + [f"FAIL {f}" for f in failures]:
            print("   " + line)
        failed = failed or bool(failures)
    return 1 if failed else 0


def main():
    args = command_line("examples")
    return run_each(args.examples, lambda example: check(example, args))


if __name__ == "__main__":
    sys.exit(main())
