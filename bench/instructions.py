"""Instructions per UDMMain call and per lock/unlock pair, under callgrind.

udmmain_call_counter makes N calls of one kind; it is run with N and with 2N
calls, so that start-up and set-up cancel: (total(2N) - total(N)) / N is the
cost of one call, and the same difference per function says where it goes.

    python3 bench/instructions.py [BUILD_DIR] [N]
"""
import os
import re
import subprocess
import sys
import tempfile

KINDS = ["deref", "lock-pair", "frame", "evaluate", "evaluate-expr", "output"]


def _profile(counter, kind, calls, folder):
    out = os.path.join(folder, f"{kind}.{calls}.out")
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", counter, kind, str(calls)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        total = int(re.search(r"^totals:\s*(\d+)", f.read(), re.MULTILINE).group(1))
    annotated = subprocess.run(["callgrind_annotate", "--auto=no", "--inclusive=no", "--threshold=100", out], check=True,
                               capture_output=True, text=True).stdout
    per_function = {}
    for line in annotated.splitlines():
        m = re.match(r"\s*([\d,]+)\s+\([^)]*\)\s+(.*)$", line)
        if m and "PROGRAM TOTALS" not in line:
            name = re.sub(r"\s*\[[^\]]*\]$", "", m.group(2))  # drop the object file
            name = name.split(":", 1)[-1] if ":" in name.split("(")[0] else name
            per_function[name] = per_function.get(name, 0) + int(m.group(1).replace(",", ""))
    return total, per_function


def measure(build, calls=20000, kinds=KINDS):
    """kind -> (instructions per call, [(function, instructions per call)])."""
    counter = os.path.join(build, "bench", "udmmain_call_counter")
    results = {}
    with tempfile.TemporaryDirectory() as folder:
        for kind in kinds:
            one, f1 = _profile(counter, kind, calls, folder)
            two, f2 = _profile(counter, kind, 2 * calls, folder)
            functions = [(name, (f2[name] - f1.get(name, 0)) / calls) for name in f2]
            functions = sorted((x for x in functions if x[1] >= 0.5), key=lambda x: -x[1])
            results[kind] = ((two - one) / calls, functions)
    return results


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
    calls = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    for kind, (per_call, functions) in measure(build, calls).items():
        print(f"{kind}: {per_call:.1f} instructions per call")
        for name, count in functions:
            print(f"    {count:8.1f}  {name}")


if __name__ == "__main__":
    main()
