// Checks a plug-in against the model interface before a host trusts it:
// exports, registration, catalogue, and a scripted life cycle of a few
// instances watched through guard bytes, lock counts and recording
// callbacks.
#pragma once

#include <string>
#include <vector>

namespace udmhost {

struct CheckLine {
    std::string name;
    bool passed = false;
    std::string detail;  // what was seen; the first fault when it failed
};

struct ComplianceReport {
    std::vector<CheckLine> lines;
    bool passed() const {
        for (const CheckLine& line : lines)
            if (!line.passed) return false;
        return !lines.empty();
    }
};

// Runs every check on the library at `path`. Checks that depend on a failed
// one are left out. Never throws for a faulty plug-in; it may still crash
// the process if the plug-in does.
ComplianceReport checkCompliance(const std::string& path);

}  // namespace udmhost
