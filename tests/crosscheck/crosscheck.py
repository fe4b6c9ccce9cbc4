"""Runs each example netlist through udmhost and its translation through
ngspice, and compares the switching instants and the printed waveforms.

    crosscheck.py --udmhost PATH --plugin PATH --work DIR EXAMPLE.cir...

Switching instants: both simulators must switch the same number of times in
the same order, and each of our instants must lie within ngspice's own time
resolution of its instant. ngspice decides a switch's state only at its time
points, so its instant is the first time point after the control voltage
crossed; the true crossing lies within the step that ends there. The
tolerance is that step plus a small share of the simulated span for the
difference of the two integrations.

Waveforms: every printed voltage and current that both give, compared at our
time points (ngspice interpolated linearly), away from the switching instants
where a timing difference within the tolerance shows as a large jump.
"""
import argparse
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))

import spicecmp  # noqa: E402
import to_ngspice  # noqa: E402

# ngspice decides a switch only at its time points, and where the switch
# ends a discharge much faster than its step it overshoots the threshold; in
# the relaxation oscillator (1 us discharge through RON against 1 us steps)
# that shifts every later cycle, so it is compared over its first cycle with
# ngspice's step limited to resolve the discharge.
OVERRIDES = {"relaxation_oscillator": {"stop": "1.2m", "ngspice_tmax": "10n"}}

SPAN_SLACK = 1e-3     # of the simulated span, added to ngspice's step at an event
WINDOW = 0.01         # of the span, left out of the waveform comparison around events
WAVE_TOLERANCE = 0.02 # of the waveform's peak-to-peak range (or 1e-6 absolute)


def with_plugin(text, plugin):
    return re.sub(r"(?im)^(\.plugin\s+\S+\s+).*$", lambda m: m.group(1) + plugin, text)


def ngspice_state(columns, sw):
    return spicecmp.state_from_resistance(to_ngspice.switch_voltage(columns, sw),
                                          columns[f"i({sw.sense})"], sw.ron, sw.roff)


def with_tran(text, stop=None, tmax=None):
    """The .tran line with another stop time and, for ngspice, a step limit."""
    def rewrite(m):
        words = m.group(0).split()
        uic = [w for w in words[1:] if w.lower() == "uic"]
        values = [w for w in words[1:] if w.lower() != "uic"]
        if stop:
            values[1] = stop
        if tmax:
            values += ["0"] * (3 - len(values)) if len(values) < 3 else []
            values = values[:3] + [tmax]
        return " ".join([words[0]] + values + uic)
    return re.sub(r"(?im)^\.tran\b.*$", rewrite, text)


def tran_stop(text):
    m = re.search(r"(?im)^\.tran\s+\S+\s+(\S+)", text)
    return to_ngspice.evaluate(m.group(1), {})


def compare_events(ours, theirs, ng_times, span):
    problems, worst = [], 0.0
    if [s for _, s in ours] != [s for _, s in theirs]:
        return [f"events differ: udmhost {fmt_events(ours)}; ngspice {fmt_events(theirs)}"], None
    for (t_us, _), (t_ng, _) in zip(ours, theirs):
        k = ng_times.index(t_ng)
        step = t_ng - ng_times[k - 1] if k > 0 else 0.0
        tolerance = step + SPAN_SLACK * span
        worst = max(worst, abs(t_us - t_ng))
        if abs(t_us - t_ng) > tolerance:
            problems.append(f"instant {t_us:.9g} s against ngspice {t_ng:.9g} s (tolerance {tolerance:.3g} s)")
    return problems, worst


def fmt_events(events):
    return ", ".join(f"{'closes' if s else 'opens'} at {t:.6g}" for t, s in events[:6]) or "none"


def compare_waveform(name, ours, theirs, events, span):
    """Largest difference and its tolerance, from the second row on (our row
    at the start time is written before the first evaluation)."""
    t_ng, v_ng = theirs["time"], theirs[name.lower()]
    points = [(t, v) for t, v in zip(ours["time"][1:], ours[name][1:])
              if not any(abs(t - e) <= WINDOW * span for e in events)]
    values = [v for _, v in points]
    scale = max(max(values) - min(values), 1e-6 / WAVE_TOLERANCE)
    worst = max(abs(v - spicecmp.interpolate(t_ng, v_ng, t)) for t, v in points)
    return worst, WAVE_TOLERANCE * scale


def check(example, args):
    name = os.path.splitext(os.path.basename(example))[0]
    override = OVERRIDES.get(name, {})
    text = with_plugin(open(example).read(), os.path.abspath(args.plugin))
    text = with_tran(text, stop=override.get("stop"))
    ours_net = os.path.join(args.work, name + ".cir")
    theirs_net = os.path.join(args.work, name + ".ngspice.cir")
    data = name + ".ngspice.dat"
    with open(ours_net, "w") as f:
        f.write(text)
    netlist, switches, _ = to_ngspice.translate(with_tran(text, tmax=override.get("ngspice_tmax")), data)
    with open(theirs_net, "w") as f:
        f.write(netlist)
    ours = spicecmp.run_udmhost(args.udmhost, ours_net, os.path.join(args.work, name + ".csv"), timeout=300)
    theirs = spicecmp.run_ngspice(theirs_net, os.path.join(args.work, data), timeout=300)
    span = tran_stop(text)

    failures, report = [], []
    all_events = []
    for column in ours.columns:
        if not column.upper().endswith(":STATE"):
            continue
        sw = switches[column.split(":")[0].lower()]
        # Our row at the start time is written before the first evaluation;
        # the state the switch starts in shows from the next row on.
        mine = spicecmp.switching_instants(ours.columns["time"][1:], ours.columns[column][1:])
        other_states = ngspice_state(theirs.columns, sw)
        other = spicecmp.switching_instants(theirs.columns["time"], other_states)
        if ours.columns[column][1] != other_states[0]:
            failures.append(f"{column}: starts {'closed' if ours.columns[column][1] else 'open'}, "
                            f"ngspice {'closed' if other_states[0] else 'open'}")
        problems, worst = compare_events(mine, other, theirs.columns["time"], span)
        failures += [f"{column}: {p}" for p in problems]
        all_events += [t for t, _ in mine] + [t for t, _ in other]
        report.append(f"{column}: {len(mine)} events, largest instant difference "
                      f"{'-' if worst is None else f'{worst:.3g} s'}")
    for column in ours.columns:
        if column == "time" or column.lower() not in theirs.columns:
            continue
        worst, tolerance = compare_waveform(column, ours.columns, theirs.columns, all_events, span)
        report.append(f"{column}: largest difference {worst:.3g} (tolerance {tolerance:.3g})")
        if worst > tolerance:
            failures.append(f"{column}: differs by {worst:.3g}, more than {tolerance:.3g}")
    return name, report, failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--udmhost", required=True)
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("examples", nargs="+")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    failed = False
    for example in args.examples:
        name, report, failures = check(example, args)
        print(f"== {name}: {'FAILED' if failures else 'agrees with ngspice'}")
        for line in report:
            print("   " + line)
        for line in failures:
            print("   FAIL " + line)
        failed = failed or bool(failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
