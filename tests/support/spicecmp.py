"""Runs udmhost and ngspice on the same circuit and compares what they give.

Standard library only. Each run yields its waveforms by column name, its wall
time and its step statistics; the helpers find switching instants in a state
column and work out the analytic instants of an RC relaxation oscillator.
"""
import csv
import math
import os
import re
import subprocess
import time
from dataclasses import dataclass, field


@dataclass
class Run:
    columns: dict            # name -> list of floats; "time" first
    wall: float              # seconds, whole process
    accepted: int = None
    rejected: int = None
    newton: int = None
    log: str = ""
    extra: dict = field(default_factory=dict)


def _timed(cmd, cwd=None, timeout=None, ok=(0,)):
    start = time.perf_counter()
    proc = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=timeout)
    wall = time.perf_counter() - start
    if proc.returncode not in ok:
        raise RuntimeError(f"{' '.join(map(str, cmd))} failed ({proc.returncode}):\n{proc.stdout[-3000:]}")
    return proc.stdout, wall


def _stat(pattern, text):
    m = re.search(pattern, text, re.IGNORECASE | re.MULTILINE)
    return int(m.group(1)) if m else None


# ---------------------------------------------------------------- ngspice

def ngspice_control(vectors, data_file):
    """The control block that runs the transient and writes vectors with a header."""
    return "\n".join([
        ".control",
        "set wr_singlescale",
        "set wr_vecnames",
        "run",
        f"wrdata {data_file} {' '.join(vectors)}" if vectors else "",
        "rusage all",
        ".endc",
    ])


def read_wrdata(path):
    with open(path) as f:
        names = f.readline().split()
        cols = [[] for _ in names]
        for line in f:
            parts = line.split()
            if len(parts) != len(names):
                continue
            for c, p in zip(cols, parts):
                c.append(float(p))
    return dict(zip(["time"] + names[1:], cols))


def run_ngspice(netlist, data_file=None, timeout=None):
    """Runs ngspice in batch mode; data_file is what the netlist's wrdata writes."""
    cwd = os.path.dirname(os.path.abspath(netlist))
    if data_file and os.path.exists(data_file):
        os.remove(data_file)
    # In batch mode without .print lines ngspice ends with status 1 even
    # after a complete run; whether the run completed is read from its log.
    log, wall = _timed(["ngspice", "-b", os.path.basename(netlist)], cwd=cwd, timeout=timeout, ok=(0, 1))
    if "Transient analysis time" not in log:
        raise RuntimeError(f"ngspice did not complete the transient:\n{log[-3000:]}")
    if re.search(r"^\s*(Error|doAnalyses:)", log, re.MULTILINE) or "simulation(s) aborted" in log:
        raise RuntimeError(f"ngspice reported an error:\n{log[-3000:]}")
    columns = read_wrdata(data_file) if data_file else {}
    return Run(columns, wall,
               accepted=_stat(r"^Accepted timepoints\s*=\s*(\d+)", log),
               rejected=_stat(r"^Rejected timepoints\s*=\s*(\d+)", log),
               newton=_stat(r"^Transient iterations\s*=\s*(\d+)", log),
               log=log)


# ---------------------------------------------------------------- udmhost

def read_csv(path):
    with open(path, newline="") as f:
        rows = csv.reader(f)
        names = next(rows)
        cols = [[] for _ in names]
        for row in rows:
            for c, v in zip(cols, row):
                c.append(float(v))
    names[0] = "time"
    return dict(zip(names, cols))


def run_udmhost(udmhost, netlist, csv_file, timeout=None):
    log, wall = _timed([udmhost, "run", netlist, "-o", csv_file], timeout=timeout)
    return Run(read_csv(csv_file), wall,
               accepted=_stat(r"(\d+) accepted", log),
               rejected=_stat(r"(\d+) rejected", log),
               newton=_stat(r"^Newton iterations:\s*(\d+)", log),
               log=log, extra={"events": _stat(r"^switching events:\s*(\d+)", log)})


# ---------------------------------------------------------------- analysis

def switching_instants(times, states):
    """(time, new state) at the first time point of every change of state."""
    out = []
    for k in range(1, len(times)):
        if states[k] != states[k - 1]:
            out.append((times[k], states[k]))
    return out


def state_from_resistance(v_across, current, ron, roff):
    """1 where |v/i| lies nearer RON than ROFF on a log scale, else 0."""
    split = math.sqrt(ron * roff)
    return [1 if abs(v) < split * abs(i) else 0 for v, i in zip(v_across, current)]


def relaxation_instants(v, r, c, ron, roff, vthres, vhyst, tstop, v0=0.0):
    """Switching instants of a capacitor charged from v through r and
    discharged by a switch across it: (time, new state) pairs up to tstop."""
    hi, lo = vthres + vhyst, vthres - vhyst
    charge_to, charge_tau = v * roff / (r + roff), (r * roff / (r + roff)) * c
    dis_to, dis_tau = v * ron / (r + ron), (r * ron / (r + ron)) * c
    t, vc, out = 0.0, v0, []
    while True:
        t += charge_tau * math.log((charge_to - vc) / (charge_to - hi))
        if t > tstop:
            return out
        out.append((t, 1))
        t += dis_tau * math.log((hi - dis_to) / (lo - dis_to))
        if t > tstop:
            return out
        out.append((t, 0))
        vc = lo


def interpolate(times, values, t):
    """Linear interpolation of a sampled waveform at t (times ascending)."""
    lo, hi = 0, len(times) - 1
    if t <= times[0]:
        return values[0]
    if t >= times[hi]:
        return values[hi]
    while hi - lo > 1:
        mid = (lo + hi) // 2
        if times[mid] <= t:
            lo = mid
        else:
            hi = mid
    span = times[hi] - times[lo]
    if span == 0.0:
        return values[hi]
    w = (t - times[lo]) / span
    return values[lo] + w * (values[hi] - values[lo])
