// udmhost run NETLIST: a transient simulation and its outputs.
#include <unistd.h>

#include <ctime>
#include <iostream>
#include <optional>

#include "cli/run_reports.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_reader.h"
#include "output/atomic_file.h"
#include "output/checked_stream.h"
#include "output/interrupt_cleanup.h"
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

}  // namespace

int runCommand(const std::vector<std::string>& args) {
    const auto parsed = parseArguments(args);
    if (!parsed) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    const RunArguments& a = *parsed;
    installInterruptCleanup();
    try {
        const Circuit circuit = readNetlistFile(a.netlist, loadCatalogue, a.pluginPaths);
        for (const std::string& note : circuit.notes) std::cerr << note << "\n";
        // Reports go where the summary goes: beside the CSV, not into it.
        std::ostream& report = a.csv.empty() ? std::cerr : std::cout;
        if (circuit.printOperatingPoint) reportOperatingPoint(report, circuit, std::cerr);
        // Output files are created before the run, so that a folder that
        // does not exist fails now rather than after a long simulation.
        std::optional<AtomicFile> csvFile, rawFile, eventsFile;
        if (!a.csv.empty()) csvFile.emplace(a.csv);
        if (!a.raw.empty()) rawFile.emplace(a.raw);
        if (!a.events.empty()) eventsFile.emplace(a.events);

        ProgressBar bar(std::cerr, isatty(STDERR_FILENO) != 0);
        SimulationOutput output;
        try {
            output = simulate(withMeasuredSignals(circuit), std::cerr, [&](double fraction) { bar.update(fraction); });
        } catch (...) {
            bar.finish();
            throw;
        }
        bar.finish();
        reportMeasurements(report, circuit, output);

        const std::vector<ColumnInfo> columns = describeColumns(circuit);
        CheckedStream& standardOutput = checkedStandardOutput();
        if (csvFile) {
            writeCsv(csvFile->stream(), output.columns, output.rows);
            csvFile->commit();
        } else {
            writeCsv(standardOutput.stream(), output.columns, output.rows);
            standardOutput.finish("standard output");
        }
        if (rawFile) {
            writeRaw(rawFile->stream(), columns, output.rows, {circuit.title, today(), a.ascii});
            rawFile->commit();
        }
        if (eventsFile) {
            writeEventsCsv(eventsFile->stream(), output.events);
            eventsFile->commit();
        }
        if (!a.plot.empty()) writePlot(circuit.title, columns, output.rows, a.plot);

        // With the CSV on standard output the summary goes to standard error.
        if (csvFile) {
            printSummary(standardOutput.stream(), output.stats, output.rows.size());
            standardOutput.finish("standard output");
        } else {
            printSummary(std::cerr, output.stats, output.rows.size());
        }
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
