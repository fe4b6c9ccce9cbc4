#include "check/checker.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "check/fingerprint.h"
#include "check/interface_checks.h"
#include "check/isolated_check.h"
#include "check/isolation.h"
#include "check/lifecycle_check.h"
#include "pluginhost/plugin_library.h"

namespace udmhost {

namespace {

const char* const kFingerprint = "behaviour matches the recorded fingerprint";
// The parts that run in a child process each, besides the isolated checks
// (named by their check).
const char* const kInterfacePart = "interface";
const char* const kLifeCyclePart = "life cycle";
const char* const kFingerprintPart = "recording the fingerprint";

// A bare file name means the file in the working folder, not the loader's search path.
std::string resolvedPath(const std::string& path) { return loadablePath(path); }

// The first failed check among those the rest builds on: a library that
// loads, registers and enumerates a catalogue with terminals.
std::string firstEssentialFailure(const std::vector<CheckLine>& lines) {
    const std::vector<std::string> names = interfaceCheckNames();
    const std::vector<size_t> essential = {0, 1, 3, 5, 7};  // exports, memory, UDMInit, enumeration, kinds
    for (const CheckLine& line : lines)
        for (size_t i : essential)
            if (line.name == names[i] && line.verdict != Verdict::Pass) return line.name;
    return "";
}

void collectLines(const IsolatedRun& run, ComplianceReport& report) {
    report.lines.insert(report.lines.end(), run.lines.begin(), run.lines.end());
}

// Checks that are not run, each reported as skipped with the reason.
void skipChecks(const std::vector<std::string>& names, const std::string& reason, ComplianceReport& report,
                const std::function<void(const CheckLine&)>& onLine) {
    for (const std::string& name : names) {
        report.lines.push_back(skippedLine(name, reason));
        if (onLine) onLine(report.lines.back());
    }
}

void runAll(const std::string& path, const CheckOptions& options, const std::vector<IsolatedCheck>& isolated,
            ComplianceReport& report, const std::function<void(const CheckLine&)>& onLine);
void compareFingerprint(const std::string& path, const CheckOptions& options, ComplianceReport& report,
                        const std::function<void(const CheckLine&)>& onLine);

// Every check that runs in a process of its own, in the order they run.
std::vector<IsolatedCheck> isolatedChecks() {
    std::vector<IsolatedCheck> isolated = sequenceChecks();
    for (auto group : {memoryChecks(), environmentChecks(), outputChecks()}) isolated.insert(isolated.end(), group.begin(), group.end());
    return isolated;
}

void runIsolatedCheck(const std::string& path, const IsolatedCheck& check, CheckChannel& channel) {
    channel.begin(check.name);
    PlugInUnderTest plugin(path);
    Finding finding(check.name);
    const std::string skip = check.body(plugin, finding);
    channel.emit(skip.empty() ? finding.line() : skippedLine(check.name, skip));
}

}  // namespace

void runCheckPart(const std::string& part, const std::string& path, CheckChannel& channel) {
    if (part == kInterfacePart) {
        runInterfaceChecks(path, channel);
    } else if (part == kLifeCyclePart) {
        PlugInUnderTest plugin(path);
        LifeCycle cycle(plugin, channel);
        cycle.run();
    } else if (part == kFingerprintPart) {
        channel.begin(part);
        PlugInUnderTest plugin(path);
        channel.payload(fingerprintOf(plugin));
        Finding done(part);
        channel.emit(done.line());
    } else {
        for (const IsolatedCheck& check : isolatedChecks())
            if (check.name == part) return runIsolatedCheck(path, check, channel);
        throw std::runtime_error("no part of the check is called \"" + part + "\"");
    }
}

ComplianceReport checkCompliance(const std::string& rawPath, const CheckOptions& options,
                                 const std::function<void(const CheckLine&)>& onLine) {
    const std::string path = resolvedPath(rawPath);
    ComplianceReport report;

    const std::vector<IsolatedCheck> isolated = isolatedChecks();
    std::vector<std::string> later = LifeCycle::checkNames();
    for (const IsolatedCheck& check : isolated) later.push_back(check.name);

    const IsolatedRun surface = runIsolated(interfaceCheckNames(), kInterfacePart, path, options.timeoutSeconds, onLine);
    collectLines(surface, report);
    const std::string essential = firstEssentialFailure(surface.lines);
    if (!essential.empty() || !surface.completed) {
        skipChecks(later, "needs: " + (essential.empty() ? surface.failedCheck : essential), report, onLine);
        later.clear();
    }

    if (!later.empty()) runAll(path, options, isolated, report, onLine);
    if (!options.againstFile.empty()) compareFingerprint(path, options, report, onLine);
    return report;
}

namespace {

void runAll(const std::string& path, const CheckOptions& options, const std::vector<IsolatedCheck>& isolated,
            ComplianceReport& report, const std::function<void(const CheckLine&)>& onLine) {
    const IsolatedRun life = runIsolated(LifeCycle::checkNames(), kLifeCyclePart, path, options.timeoutSeconds, onLine);
    collectLines(life, report);
    // The demanding host needs usable sizes; a crash later in the life cycle does not stop it.
    const bool usable = !life.lines.empty() && life.lines.front().name == LifeCycle::checkNames().front() &&
                        life.lines.front().verdict == Verdict::Pass;
    // A plug-in that hung once would make every further child wait out its timeout.
    std::string hungIn = life.hung ? life.failedCheck : "";
    for (const IsolatedCheck& check : isolated) {
        if (!usable) {
            skipChecks({check.name}, "needs: " + LifeCycle::checkNames().front(), report, onLine);
            continue;
        }
        if (!hungIn.empty()) {
            skipChecks({check.name}, "not run: the plug-in hung in \"" + hungIn + "\"", report, onLine);
            continue;
        }
        const IsolatedRun run = runIsolated({check.name}, check.name, path, options.timeoutSeconds, onLine);
        collectLines(run, report);
        if (run.hung) hungIn = run.failedCheck;
    }
}

void compareFingerprint(const std::string& path, const CheckOptions& options, ComplianceReport& report,
                        const std::function<void(const CheckLine&)>& onLine) {
    {
        Finding matches(kFingerprint);
        std::ifstream in(options.againstFile, std::ios::binary);
        std::stringstream recorded;
        recorded << in.rdbuf();
        std::string error;
        if (!in) {
            matches.fault("cannot read " + options.againstFile);
        } else {
            const std::string fresh = recordFingerprint(path, options.timeoutSeconds, &error);
            if (!error.empty()) matches.fault(error);
            else {
                size_t total = 0;
                for (const std::string& d : fingerprintDifferences(recorded.str(), fresh, Finding::kKept, &total))
                    matches.fault(d);
                for (size_t i = Finding::kKept; i < total; ++i) matches.fault("");
            }
        }
        matches.see("identical to " + options.againstFile);
        report.lines.push_back(matches.line());
        if (onLine) onLine(report.lines.back());
    }
}

}  // namespace

std::string recordFingerprint(const std::string& rawPath, int timeoutSeconds, std::string* error) {
    const std::string path = resolvedPath(rawPath);
    const IsolatedRun run = runIsolated({kFingerprintPart}, kFingerprintPart, path, timeoutSeconds, {});
    for (const CheckLine& line : run.lines)
        if (!line.passed()) {
            *error = line.name + ": " + (line.faults.empty() ? line.detail : line.faults.front());
            return "";
        }
    error->clear();
    return run.payload;
}

}  // namespace udmhost
