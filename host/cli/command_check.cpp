// udmhost check PLUGIN: compliance with the model interface.
#include <iostream>

#include "cli/commands.h"
#include "check/compliance_check.h"
#include "pluginhost/plugin_library.h"

namespace udmhost {

int checkCommand(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::cerr << "usage: udmhost check PLUGIN\n";
        return kExitUsage;
    }
    const ComplianceReport report = checkCompliance(loadablePath(args[0]));
    size_t failed = 0;
    for (const CheckLine& line : report.lines) {
        std::cout << (line.passed ? "PASS  " : "FAIL  ") << line.name;
        if (!line.detail.empty()) std::cout << ": " << line.detail;
        std::cout << "\n";
        if (!line.passed) ++failed;
    }
    if (report.passed()) {
        std::cout << "verdict: " << args[0] << " complies (" << report.lines.size() << " checks passed)\n";
        return kExitOk;
    }
    std::cout << "verdict: " << args[0] << " does not comply (" << failed << " of " << report.lines.size()
              << " checks failed)\n";
    return kExitFailure;
}

}  // namespace udmhost
