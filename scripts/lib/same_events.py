#!/usr/bin/env python3
"""Compares two event files of udmhost run --events (time,element,state).

Usage: same_events.py REFERENCE OTHER [RELATIVE_TOLERANCE]
Both must list the same events in the same order, each instant within the
relative tolerance (default 1e-9) of the reference. Prints the count and the
largest relative difference; exits 1 on any difference.
"""
import csv
import sys


def events(path):
    with open(path, newline="", encoding="ascii") as f:
        rows = list(csv.reader(f))
    if not rows or rows[0] != ["time", "element", "state"]:
        sys.exit(f"same_events: {path}: not an event file (header {rows[:1]})")
    return [(float(t), element, state) for t, element, state in rows[1:]]


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    reference, other = events(sys.argv[1]), events(sys.argv[2])
    tolerance = float(sys.argv[3]) if len(sys.argv) == 4 else 1e-9
    problems = []
    if not reference:
        problems.append(f"{sys.argv[1]} holds no event")
    if len(reference) != len(other):
        problems.append(f"{len(reference)} events in {sys.argv[1]}, {len(other)} in {sys.argv[2]}")
    worst = 0.0
    for i, ((t0, e0, s0), (t1, e1, s1)) in enumerate(zip(reference, other), start=1):
        relative = abs(t1 - t0) / abs(t0) if t0 != 0 else abs(t1)
        worst = max(worst, relative)
        if (e0, s0) != (e1, s1) or not relative <= tolerance:
            problems.append(f"event {i}: {t0!r} {e0} {s0} against {t1!r} {e1} {s1} (relative {relative:.2e})")
    print(f"{len(reference)} events, largest relative difference {worst:.2e} (tolerance {tolerance:.0e})")
    for problem in problems[:10]:
        print("  " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
