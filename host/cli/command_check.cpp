// udmhost check [--json] [--timeout S] [--record FILE | --against FILE] PLUGIN
#include <iostream>

#include "check/checker.h"
#include "check/fingerprint.h"
#include "check/report_printer.h"
#include "cli/commands.h"
#include "output/atomic_file.h"
#include "pluginhost/plugin_library.h"

namespace udmhost {

namespace {

constexpr const char* kUsage =
    "usage: udmhost check [--json] [--timeout SECONDS] PLUGIN\n"
    "       udmhost check --record FILE PLUGIN    write the plug-in's behavioural fingerprint\n"
    "       udmhost check --against FILE PLUGIN   check, and compare the behaviour with FILE\n";

}  // namespace

int checkCommand(const std::vector<std::string>& args) {
    bool json = false;
    std::string record, plugin;
    CheckOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--json") json = true;
        else if (arg == "--record" && hasValue) record = args[++i];
        else if (arg == "--against" && hasValue) options.againstFile = args[++i];
        else if (arg == "--timeout" && hasValue) {
            const std::string& value = args[++i];
            if (value.empty() || value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(value) == 0) {
                std::cerr << "udmhost check: --timeout takes a whole number of seconds from 1 to 99999\n";
                return kExitUsage;
            }
            options.timeoutSeconds = std::stoi(value);
        } else if (!arg.empty() && arg[0] != '-' && plugin.empty()) plugin = arg;
        else {
            std::cerr << kUsage;
            return kExitUsage;
        }
    }
    if (plugin.empty() || (!record.empty() && !options.againstFile.empty())) {
        std::cerr << kUsage;
        return kExitUsage;
    }

    if (!record.empty()) {
        std::string error;
        const std::string text = recordFingerprint(loadablePath(plugin), options.timeoutSeconds, &error);
        if (error.empty()) {
            try {
                AtomicFile file(record);
                file.stream() << text;
                file.commit();
            } catch (const std::exception& e) {
                error = e.what();
            }
        }
        if (!error.empty()) {
            std::cerr << "udmhost check: " << error << "\n";
            return kExitFailure;
        }
        std::cout << "fingerprint of " << plugin << " written to " << record << "\n";
        return kExitOk;
    }

    const ComplianceReport report =
        checkCompliance(loadablePath(plugin), options, [&](const CheckLine& line) { if (!json) printLine(std::cout, line); });
    if (json) printJson(std::cout, report, plugin);
    else printSummary(std::cout, report, plugin);
    if (!std::cout) {
        std::cerr << "udmhost check: cannot write the report\n";
        return kExitFailure;
    }
    return report.passed() ? kExitOk : kExitFailure;
}

}  // namespace udmhost
