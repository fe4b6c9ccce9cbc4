// Checks a plug-in against the model interface before a host trusts it.
// Every part runs in a child process: a plug-in that crashes or hangs
// yields a FAIL naming the call and the signal, never a dead checker.
#pragma once

#include <functional>
#include <string>

#include "check/check_line.h"

namespace udmhost {

struct CheckOptions {
    int timeoutSeconds = 60;    // per child process
    std::string againstFile;    // compare with this fingerprint too
};

// Runs every check on the library at `path`; `onLine` sees each result as
// soon as it is known. Checks that need a failed one are reported skipped.
ComplianceReport checkCompliance(const std::string& path, const CheckOptions& options = {},
                                 const std::function<void(const CheckLine&)>& onLine = {});

class CheckChannel;
// Runs one part of the check, as a child process does: "interface",
// "life cycle", "recording the fingerprint" or the name of an isolated check.
void runCheckPart(const std::string& part, const std::string& path, CheckChannel& channel);

// The plug-in's fingerprint; on failure "" with `error` set.
std::string recordFingerprint(const std::string& path, int timeoutSeconds, std::string* error);

}  // namespace udmhost
