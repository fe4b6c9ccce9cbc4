// udmhost run NETLIST: a transient simulation and its outputs.
#include <fcntl.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <cstdio>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <new>
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
#include "output/output_paths.h"
#include "output/output_writers.h"
#include "sim/call_in_progress.h"
#include "sim/simulator.h"
#include "text/lower_case.h"
#include "text/name_hint.h"

namespace udmhost {

namespace {

struct RunArguments {
    std::string netlist;
    std::string csv, raw, plot, events;
    bool ascii = false;
    bool verbose = false;
    PluginPaths pluginPaths;
};

const char* kUsage =
    "usage: udmhost run NETLIST [-o FILE.csv] [--raw FILE.raw [--ascii]] [--plot FILE.png] [--events FILE.csv]\n"
    "                   [--plugin NAME=PATH] [--verbose]\n";

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
        else if (a == "--verbose" || a == "-v") parsed.verbose = true;
        else if (a == "--plugin") {
            std::string assignment;
            if (!value(assignment)) ok = false;
            else if (const size_t equals = assignment.find('='); equals == std::string::npos || equals == 0) {
                std::cerr << "udmhost run: --plugin " << assignment << ": expected NAME=PATH\n";
                return std::nullopt;
            } else if (equals + 1 == assignment.size()) {
                std::cerr << "udmhost run: --plugin " << assignment << ": the library path is empty\n";
                return std::nullopt;
            } else {
                parsed.pluginPaths[lowerCase(assignment.substr(0, equals))] = assignment.substr(equals + 1);
            }
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

std::vector<NamedPath> outputsOf(const RunArguments& a) {
    return {{"-o", a.csv}, {"--raw", a.raw}, {"--plot", a.plot}, {"--events", a.events}};
}

// A --plugin NAME that no .plugin line and no built-in element uses is a
// misspelling: the run would otherwise use the netlist's library silently.
void refuseUnusedPluginNames(const PluginPaths& given, const Circuit& circuit) {
    std::vector<std::string> known = {"vcswitch", "diode"};
    for (const PluginRef& plugin : circuit.plugins) known.push_back(lowerCase(plugin.name));
    for (const auto& [name, path] : given)
        if (std::find(known.begin(), known.end(), name) == known.end())
            throw std::runtime_error("--plugin " + name + "=" + path + ": no plug-in " + name + " in " +
                                     circuit.sourceFile + didYouMean(name, known));
}

// A plug-in that ends the process from a call (exit) would leave a run
// reported as a success with no outputs: the exit is turned into a failure
// naming the instance and the call.
extern "C" void exitDuringPluginCall() {
    const sim::CallInProgress call = sim::callInProgress();
    if (call.instance == nullptr) return;
    removePartialFiles();
    std::cerr << "udmhost: " << *call.instance << ": the plug-in ended the process during its "
              << sim::modeName(call.mode) << " call; no output written\n";
    std::cerr.flush();
    _exit(kExitFailure);
}

// Plug-ins may print on standard output; the CSV and the reports written
// there must not be interleaved with that. For the run, results go to a
// copy of the descriptor and descriptor 1 is standard error.
class ResultsOutput {
public:
#ifdef _WIN32
    ResultsOutput() : fd_(::_dup(STDOUT_FILENO)) {
#else
    ResultsOutput() : fd_(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3)) {
#endif
        if (fd_ >= 0 && ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
            ::close(fd_);
            fd_ = -1;
        }
        stream_.emplace(fd_ >= 0 ? fd_ : STDOUT_FILENO);
    }
    ~ResultsOutput() {
        if (fd_ < 0) return;
        std::fflush(stdout);  // what plug-ins left buffered belongs on standard error
        ::dup2(fd_, STDOUT_FILENO);
        ::close(fd_);
    }
    ResultsOutput(const ResultsOutput&) = delete;
    ResultsOutput& operator=(const ResultsOutput&) = delete;
    CheckedStream& checked() { return *stream_; }

private:
    int fd_;
    std::optional<CheckedStream> stream_;
};

}  // namespace

const char* runUsage() { return kUsage; }

int runCommand(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsage;
        return kExitOk;
    }
    const auto parsed = parseArguments(args);
    if (!parsed) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    const RunArguments& a = *parsed;
    installInterruptCleanup();
    static const bool exitHooked = std::atexit(exitDuringPluginCall) == 0;
    (void)exitHooked;
    ResultsOutput results;
    CheckedStream& standardOutput = results.checked();
    const char* phase = "reading the netlist";
    try {
        refuseSharedPaths(outputsOf(a), {{"the netlist", a.netlist}});
        // Said before loading: a library that hangs or ends the process
        // while loading is then named.
        const CatalogueLoader load = [&](const std::string& path) {
            if (a.verbose) std::cerr << "udmhost: loading plug-in " << path << std::endl;
            return loadCatalogue(path);
        };
        const Circuit circuit = readNetlistFile(a.netlist, load, a.pluginPaths);
        refuseUnusedPluginNames(a.pluginPaths, circuit);
        std::vector<NamedPath> inputs;
        for (const std::string& file : circuit.inputFiles) inputs.push_back({"the netlist file", file});
        refuseSharedPaths(outputsOf(a), inputs);
        for (const std::string& note : circuit.notes) std::cerr << note << "\n";
        // Reports go where the summary goes: beside the CSV, not into it.
        std::ostream& report = a.csv.empty() ? std::cerr : standardOutput.stream();
        if (circuit.printOperatingPoint) reportOperatingPoint(report, circuit, std::cerr);
        // Output files are created before the run, so that a folder that
        // does not exist fails now rather than after a long simulation.
        phase = "creating the outputs";
        std::optional<AtomicFile> csvFile, rawFile, eventsFile;
        if (!a.csv.empty()) csvFile.emplace(a.csv);
        if (!a.raw.empty()) rawFile.emplace(a.raw);
        if (!a.events.empty()) eventsFile.emplace(a.events);

        phase = "simulating";
        ProgressBar bar(std::cerr, isatty(STDERR_FILENO) != 0);
        SimulationOutput output;
        try {
            output = simulate(withMeasuredSignals(circuit), std::cerr, [&](double fraction) { bar.update(fraction); });
        } catch (...) {
            bar.finish();
            throw;
        }
        bar.finish();
        phase = "writing the outputs";
        reportMeasurements(report, circuit, output);

        const std::vector<ColumnInfo> columns = describeColumns(circuit);
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
    } catch (const std::bad_alloc&) {
        std::cerr << a.netlist << ": out of memory while " << phase << "\n";
    } catch (const std::exception& error) {
        std::cerr << "udmhost: " << error.what() << "\n";
    }
    return kExitFailure;
}

}  // namespace udmhost
