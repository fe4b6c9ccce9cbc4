#!/usr/bin/env bash
# Builds everything and runs the relaxation oscillator through udmhost:
# CSV, PNG plot, and the switching instants next to the analytic ones.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

host=build/release/host/udmhost
plugin=build/release/plugin/libvcswitch.so
netlist=examples/relaxation_oscillator.cir
out=out/demo
mkdir -p "$out"

echo "=== the plug-in as a host sees it"
"$host" info "$plugin"
echo
echo "=== $netlist"
"$host" run "$netlist" -o "$out/relaxation.csv" --plot "$out/relaxation.png" --events "$out/events.csv"
echo
echo "wrote $out/relaxation.csv and $out/relaxation.png"
echo

# Analytic switching instants from the circuit's own .param line: C charges
# towards the Thevenin voltage of the supply with the open switch, and
# discharges towards that with the closed switch, exponentially each time.
params=$(grep -i '^\.param' "$netlist")
awk -v params="$params" -v tstop=20e-3 '
BEGIN {
    n = split(params, words, /[ \t]+/)
    for (i = 2; i <= n; ++i) { split(words[i], kv, "="); p[tolower(kv[1])] = kv[2] + 0 }
    vhi = p["vth"] + p["vhyst"]; vlo = p["vth"] - p["vhyst"]
    vo = p["vs"] * p["roff"] / (p["r"] + p["roff"]); to = p["c"] * p["r"] * p["roff"] / (p["r"] + p["roff"])
    vc = p["vs"] * p["ron"] / (p["r"] + p["ron"]);   tc = p["c"] * p["r"] * p["ron"] / (p["r"] + p["ron"])
    t = to * log(vo / (vo - vhi)); k = 0
    while (t <= tstop) {
        analytic[++k] = t; state[k] = (k % 2 == 1)
        t += (k % 2 == 1) ? tc * log((vhi - vc) / (vlo - vc)) : to * log((vo - vlo) / (vo - vhi))
    }
    count = k
}
FNR == 1 { next }  # header of events.csv
{
    split($0, f, ","); ++m
    simulated[m] = f[1] + 0; simstate[m] = f[3] + 0
}
END {
    printf "%5s %6s %22s %22s %10s\n", "event", "state", "udmhost (s)", "analytic (s)", "rel. error"
    worst = 0
    for (i = 1; i <= (m > count ? m : count); ++i) {
        if (i > m || i > count) {
            printf "%5d %6s %22s %22s %10s\n", i, "", (i <= m ? sprintf("%.15e", simulated[i]) : "missing"),
                   (i <= count ? sprintf("%.15e", analytic[i]) : "none"), ""
            worst = 1; continue
        }
        err = simulated[i] - analytic[i]; if (err < 0) err = -err; err /= analytic[i]
        if (err > worst) worst = err
        printf "%5d %6s %22.15e %22.15e %10.2e\n", i, (simstate[i] == 1 ? "closes" : "opens"), simulated[i], analytic[i], err
    }
    printf "\n%d events by udmhost, %d analytic; largest relative error %.2e\n", m, count, worst
}' "$out/events.csv"
