"""The synchronous buck of examples/spice/sync_buck.cir (two VDMOS
transistors, a dead-time gate driver) for 1 ms in udmhost and in ngspice,
each with its own default step limit: CPU seconds of the whole processes.

    python3 bench/mosfet_buck.py BUILD_DIR
"""
import os
import re
import resource
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(os.path.dirname(HERE), "examples", "spice", "sync_buck.cir")
TSTOP = "1m"
REPEATS = 3


def netlists(work):
    text = open(EXAMPLE).read()
    text = re.sub(r"(?im)^\.tran\b.*$", f".tran 10n {TSTOP}", text)
    text = re.sub(r"(?im)^\.meas\b.*$", "", text)
    ours = re.sub(r"(?ims)^\.control\b.*?^\.endc\b.*?$", "", text)
    theirs = re.sub(r"(?ims)^\.control\b.*?^\.endc\b.*?$",
                    ".control\nrun\nwrdata sync_buck.ngspice.dat v(out) v(sw)\n.endc", text)
    paths = os.path.join(work, "sync_buck.cir"), os.path.join(work, "sync_buck.ngspice.cir")
    for path, body in zip(paths, (ours, theirs)):
        with open(path, "w") as f:
            f.write(body)
    return paths


def cpu_seconds(cmd, cwd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(cmd, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
    udmhost = os.path.abspath(os.path.join(build, "host", "udmhost"))
    with tempfile.TemporaryDirectory() as work:
        ours, theirs = netlists(work)
        udm = min(cpu_seconds([udmhost, "run", ours, "-o", os.path.join(work, "out.csv")], work)
                  for _ in range(REPEATS))
        ng = min(cpu_seconds(["ngspice", "-b", theirs], work) for _ in range(REPEATS))
    print(f"synchronous buck (VDMOS), {TSTOP}s: udmhost {udm:.3f} CPU s, ngspice {ng:.3f} CPU s "
          f"(best of {REPEATS})")


if __name__ == "__main__":
    main()
