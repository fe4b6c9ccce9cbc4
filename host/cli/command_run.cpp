// udmhost run NETLIST: a transient simulation and its outputs.
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>

#include "cli/commands.h"
#include "cli/progress.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_reader.h"
#include "output/output_writers.h"
#include "sim/simulator.h"
#include "text/lower_case.h"

namespace udmhost {

namespace {

struct RunArguments {
    std::string netlist;
    std::string csv, raw, plot, events;
    bool ascii = false;
    PluginPaths pluginPaths;
};

const char* kUsage =
    "usage: udmhost run NETLIST [-o FILE.csv] [--raw FILE.raw [--ascii]] [--plot FILE.png] [--events FILE.csv]\n"
    "                   [--plugin NAME=PATH]\n";

std::optional<RunArguments> parseArguments(const std::vector<std::string>& args) {
    RunArguments parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        bool ok = true;
        if (a == "-o" || a == "--output") ok = value(parsed.csv);
        else if (a == "--raw") ok = value(parsed.raw);
        else if (a == "--plot") ok = value(parsed.plot);
        else if (a == "--events") ok = value(parsed.events);
        else if (a == "--ascii") parsed.ascii = true;
        else if (a == "--plugin") {
            std::string assignment;
            ok = value(assignment) && assignment.find('=') != std::string::npos && assignment.find('=') > 0;
            if (ok) parsed.pluginPaths[lowerCase(assignment.substr(0, assignment.find('=')))] = assignment.substr(assignment.find('=') + 1);
        }
        else if (!a.empty() && a[0] == '-') ok = false;
        else if (parsed.netlist.empty()) parsed.netlist = a;
        else ok = false;
        if (!ok) {
            std::cerr << "udmhost run: unexpected argument '" << a << "'\n";
            return std::nullopt;
        }
    }
    if (parsed.netlist.empty()) return std::nullopt;
    if (parsed.ascii && parsed.raw.empty()) {
        std::cerr << "udmhost run: --ascii applies to --raw\n";
        return std::nullopt;
    }
    return parsed;
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    char text[64] = {};
    std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", std::localtime(&now));
    return text;
}

template <class Write>
void toFile(const std::string& path, std::ios::openmode mode, Write&& write) {
    std::ofstream out(path, mode);
    if (!out) throw std::runtime_error("cannot write " + path);
    write(out);
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int runCommand(const std::vector<std::string>& args) {
    const auto parsed = parseArguments(args);
    if (!parsed) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    const RunArguments& a = *parsed;
    try {
        const Circuit circuit = readNetlistFile(a.netlist, loadCatalogue, a.pluginPaths);
        ProgressBar bar(std::cerr, isatty(STDERR_FILENO) != 0);
        SimulationOutput output;
        try {
            output = simulate(circuit, std::cerr, [&](double fraction) { bar.update(fraction); });
        } catch (...) {
            bar.finish();
            throw;
        }
        bar.finish();

        const std::vector<ColumnInfo> columns = describeColumns(circuit);
        if (!a.csv.empty())
            toFile(a.csv, std::ios::binary, [&](std::ostream& out) { writeCsv(out, output.columns, output.rows); });
        else
            writeCsv(std::cout, output.columns, output.rows);
        if (!a.raw.empty())
            toFile(a.raw, std::ios::binary, [&](std::ostream& out) {
                writeRaw(out, columns, output.rows, {circuit.title, today(), a.ascii});
            });
        if (!a.events.empty())
            toFile(a.events, std::ios::binary, [&](std::ostream& out) { writeEventsCsv(out, output.events); });
        if (!a.plot.empty()) writePlot(circuit.title, columns, output.rows, a.plot);

        // With the CSV on standard output the summary goes to standard error.
        printSummary(a.csv.empty() ? std::cerr : std::cout, output.stats, output.rows.size());
        return kExitOk;
    } catch (const NetlistError& error) {
        std::cerr << error.what() << "\n";
    } catch (const SimulationError& error) {
        std::cerr << a.netlist << ": simulation failed: " << error.what() << "\n";
    } catch (const std::exception& error) {
        std::cerr << "udmhost: " << error.what() << "\n";
    }
    return kExitFailure;
}

}  // namespace udmhost
