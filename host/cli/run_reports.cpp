#include "cli/run_reports.h"

#include <algorithm>
#include <cstdio>

#include "output/measurement_results.h"

namespace udmhost {

namespace {

void addSignal(Circuit& circuit, const PrintItem& item) {
    if (item.label.empty()) return;  // an AT= condition has no signal
    const bool present = std::any_of(circuit.prints.begin(), circuit.prints.end(),
                                     [&](const PrintItem& p) { return p.label == item.label; });
    if (!present) circuit.prints.push_back(item);
}

}  // namespace

Circuit withMeasuredSignals(const Circuit& circuit) {
    Circuit run = circuit;
    for (const Measurement& m : circuit.measurements) {
        addSignal(run, m.signal);
        addSignal(run, m.trig.signal);
        addSignal(run, m.targ.signal);
    }
    return run;
}

void reportMeasurements(std::ostream& out, const Circuit& circuit, SimulationOutput& output) {
    if (!circuit.measurements.empty())
        printMeasurements(out, evaluateMeasurements(circuit.measurements, output.columns, output.rows));
    const size_t keep = circuit.prints.size() + 1;  // time and the circuit's own prints
    if (output.columns.size() > keep) {
        output.columns.resize(keep);
        output.rows.keepColumns(keep);
    }
}

void reportOperatingPoint(std::ostream& out, const Circuit& circuit, std::ostream& messages) {
    Circuit op = circuit;
    op.prints.clear();
    op.measurements.clear();
    for (size_t node = 1; node < circuit.nodeNames.size(); ++node) {
        PrintItem item;
        item.node1 = static_cast<int>(node);
        item.label = "V(" + circuit.nodeNames[node] + ")";
        op.prints.push_back(item);
    }
    for (size_t e = 0; e < circuit.elements.size(); ++e) {
        if (circuit.elements[e].kind != Element::Kind::VoltageSource) continue;
        PrintItem item;
        item.kind = PrintItem::Kind::SourceCurrent;
        item.element = static_cast<int>(e);
        item.label = "I(" + circuit.elements[e].name + ")";
        op.prints.push_back(item);
    }
    // The first row is the operating point; a short run is enough to get it.
    op.tran.start = 0.0;
    op.tran.stop = std::min(circuit.tran.stop, circuit.tran.step) * 1e-3;
    op.tran.maxStep = 0.0;
    const SimulationOutput result = simulate(op, messages);
    out << "Operating point:\n";
    for (size_t i = 1; i < result.columns.size() && !result.rows.empty(); ++i) {
        char value[64];
        std::snprintf(value, sizeof value, "%.9g", result.rows.front()[i]);
        out << "  " << result.columns[i] << " = " << value << "\n";
    }
}

}  // namespace udmhost
