#!/usr/bin/env python3
"""Runs udmhost.exe check under Wine on each broken variant of the plug-in.

Usage: check_broken_dlls.py WINE UDMHOST_EXE TABLE DLL_DIR FINGERPRINT JOBS
TABLE lists DLL|definition|check, one variant a line (the build writes it).
Each variant must make check exit with 1 and fail the named check; faults of
the model's own laws show only against FINGERPRINT, a recording of the
unbroken build. A check this build cannot run (reported SKIP) finds nothing
and is said; a variant missed is checked once more on its own. Exits 1 when any variant passes or fails elsewhere.
"""
import concurrent.futures
import os
import subprocess
import sys

FINGERPRINT_CHECK = "behaviour matches the recorded fingerprint"


def check_one(wine, exe, directory, fingerprint, dll, definition, check):
    command = [wine, exe, "check"]
    if check == FINGERPRINT_CHECK:
        command += ["--against", fingerprint]
    command.append(os.path.join(directory, dll))
    try:
        done = subprocess.run(command, capture_output=True, timeout=600)
    except subprocess.TimeoutExpired:
        return "bad", f"{definition}: udmhost.exe check did not end within 600 s"
    output = done.stdout.decode("latin-1")
    lines = output.splitlines()
    if any(line.startswith(f"SKIP  {check}:") for line in lines):
        return "skipped", f"{definition}: \"{check}\" cannot run in this build"
    failed = [line[6:] for line in lines if line.startswith("FAIL  ")]
    if done.returncode == 1 and check in failed:
        return "caught", f"{definition}: fails \"{check}\""
    return "bad", (f"{definition}: exit {done.returncode}, should fail \"{check}\"; failed: {failed}\n"
                   + done.stderr.decode("latin-1")[-2000:])


def main():
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    wine, exe, table, directory, fingerprint, jobs = sys.argv[1:]
    with open(table, encoding="ascii") as f:
        variants = [line.rstrip("\n").split("|", 2) for line in f if line.strip()]
    if not variants:
        sys.exit(f"check_broken_dlls: {table} lists no variant")
    with concurrent.futures.ThreadPoolExecutor(max_workers=int(jobs)) as pool:
        results = list(pool.map(lambda v: check_one(wine, exe, directory, fingerprint, *v), variants))
    # The timing checks compare two runs; on a machine busy with the other
    # checks one pause can hide a super-linear time. A variant missed is
    # checked once more, alone, and said.
    for i, (verdict, text) in enumerate(results):
        if verdict == "bad":
            print("      missed, checked again alone: " + text.splitlines()[0])
            verdict, text = check_one(wine, exe, directory, fingerprint, *variants[i])
            results[i] = verdict, text + (" (on the second run)" if verdict == "caught" else "")
    for verdict, text in results:
        print(("ok    " if verdict == "caught" else "SKIP  " if verdict == "skipped" else "FAIL  ") + text)
    counts = {v: sum(1 for r, _ in results if r == v) for v in ("caught", "skipped", "bad")}
    print(f"broken variants: {counts['caught']} caught, {counts['skipped']} not checkable here, "
          f"{counts['bad']} missed, of {len(variants)}")
    return 1 if counts["bad"] else 0


if __name__ == "__main__":
    sys.exit(main())
