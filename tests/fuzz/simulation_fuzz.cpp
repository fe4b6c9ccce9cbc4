// libFuzzer target: any text is a netlist that, when the reader accepts
// it, runs as a short transient simulation with every plug-in line served
// by the switch plug-in, and goes through every writer. A run must end with
// rows of finite numbers or a SimulationError with a message; the plot
// script must keep every name inside a literal gnuplot string.
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "netlist/netlist_error.h"
#include "netlist/netlist_reader.h"
#include "output/output_columns.h"
#include "output/output_writers.h"
#include "pluginhost/plugin_library.h"
#include "sim/simulator.h"

namespace {

[[noreturn]] void Broken(const char* why, const std::string& detail) {
    std::fprintf(stderr, "simulation rule broken: %s: %s\n", why, detail.c_str());
    std::abort();
}

// Kept loaded for the whole session, so that each run's own load is cheap.
const std::vector<udmhost::CatalogueItem>& switchCatalogue() {
    static udmhost::PluginLibrary* library = new udmhost::PluginLibrary(VCSWITCH_PLUGIN_PATH);
    static const std::vector<udmhost::CatalogueItem> catalogue = udmhost::loadCatalogue(library->path());
    return catalogue;
}

// Bounds the work of one input: few elements and at most ~2,000 steps of
// the user's step size. Returns false for circuits not worth running.
bool bound(udmhost::Circuit& circuit) {
    if (circuit.elements.size() > 40 || !(circuit.tran.stop > 0.0) || !std::isfinite(circuit.tran.stop)) return false;
    const double shortest = circuit.tran.stop / 2000.0;
    circuit.tran.step = std::max(circuit.tran.step, shortest);
    if (circuit.tran.maxStep > 0.0) circuit.tran.maxStep = std::max(circuit.tran.maxStep, shortest);
    for (udmhost::PluginRef& ref : circuit.plugins) ref.path = VCSWITCH_PLUGIN_PATH;
    return true;
}

// Outside single-quoted strings a gnuplot script from this host holds
// neither backquotes nor double quotes, and strings end on their line.
void checkScript(const std::string& script) {
    bool quoted = false;
    for (size_t i = 0; i < script.size(); ++i) {
        const char c = script[i];
        if (c == '\'') quoted = !quoted;  // '' inside a string toggles twice
        else if (quoted && (c == '\n' || c == '\r')) Broken("line break inside a gnuplot string", script);
        else if (!quoted && (c == '`' || c == '"')) Broken("gnuplot could expand input", script);
    }
    if (quoted) Broken("unterminated gnuplot string", script);
}

void writeEverything(const udmhost::Circuit& circuit, const udmhost::SimulationOutput& output) {
    const std::vector<udmhost::ColumnInfo> columns = udmhost::describeColumns(circuit);
    std::ostringstream csv, raw, ascii, events;
    udmhost::writeCsv(csv, output.columns, output.rows);
    udmhost::writeRaw(raw, columns, output.rows, {circuit.title, "today", false});
    udmhost::writeRaw(ascii, columns, output.rows, {circuit.title, "today", true});
    udmhost::writeEventsCsv(events, output.events);
    const std::string text = csv.str();
    size_t lines = 0;
    for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    if (lines < output.rows.size() + 1) Broken("CSV lost rows", std::to_string(lines));
    checkScript(udmhost::gnuplotScript(circuit.title, columns, output.rows));
}

// Thrown from the progress report when a run has used up its time.
struct OutOfBudget {
    double time;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    udmhost::Circuit circuit;
    try {
        circuit = udmhost::readNetlist(text, "fuzz.cir", "/nonexistent",
                                       [](const std::string&) { return switchCatalogue(); });
    } catch (const std::exception&) {
        return 0;  // the reader's own target holds its errors to account
    }
    if (!bound(circuit)) return 0;
    std::ostringstream messages;
    udmhost::SimulationOutput output;
    // A valid netlist may ask for much work (tens of thousands of switchings
    // in its span): past a budget the run is stopped, as a user would.
    const auto started = std::chrono::steady_clock::now();
    const auto budget = [started](double time) {
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(1)) throw OutOfBudget{time};
    };
    try {
        output = udmhost::simulate(circuit, messages, budget);
    } catch (const OutOfBudget&) {
        return 0;
    } catch (const udmhost::SimulationError& e) {
        if (*e.what() == '\0') Broken("simulation error without a message", "");
        return 0;
    } catch (const std::exception& e) {
        Broken("unexpected exception", e.what());
    }
    double previous = -INFINITY;
    for (const std::vector<double>& row : output.rows) {
        if (row.size() != output.columns.size()) Broken("row of the wrong width", std::to_string(row.size()));
        for (double value : row)
            if (!std::isfinite(value)) Broken("non-finite value in the results", std::to_string(value));
        if (!(row.front() > previous)) Broken("time does not advance", std::to_string(row.front()));
        previous = row.front();
    }
    writeEverything(circuit, output);
    return 0;
}
