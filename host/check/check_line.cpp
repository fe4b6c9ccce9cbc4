#include "check/check_line.h"

#include <csignal>
#include <cstring>

#include "udm_interface.h"

namespace udmhost {

CheckLine Finding::line() const {
    CheckLine l;
    l.name = name_;
    l.verdict = count_ == 0 ? Verdict::Pass : Verdict::Fail;
    l.detail = seen_;
    l.faults = faults_;
    l.faultCount = count_;
    return l;
}

CheckLine skippedLine(const std::string& name, const std::string& reason) {
    CheckLine l;
    l.name = name;
    l.verdict = Verdict::Skip;
    l.detail = reason;
    return l;
}

std::string statusName(int status) {
    const std::string number = std::to_string(status);
    switch (status) {
        case UDM_OK: return number + " (success)";
        case UDM_ERR_NULL_HANDLE: return number + " (UDM_ERR_NULL_HANDLE)";
        case UDM_ERR_LOCK_FAILED: return number + " (UDM_ERR_LOCK_FAILED)";
        default: return number + " (no status of the interface)";
    }
}

#ifndef _WIN32
std::string signalName(int signal) {
    const char* name = sigabbrev_np(signal);
    const char* text = strsignal(signal);
    return std::string(name != nullptr ? "SIG" + std::string(name) : "signal " + std::to_string(signal)) +
           (text != nullptr ? " (" + std::string(text) + ")" : "");
}
#endif

}  // namespace udmhost
