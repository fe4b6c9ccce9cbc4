// One result line of the compliance check, and the accumulator that the
// checks fill while they run.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace udmhost {

enum class Verdict { Pass, Fail, Skip };

struct CheckLine {
    std::string name;
    Verdict verdict = Verdict::Pass;
    std::string detail;               // what was seen; for a skip, the reason
    std::vector<std::string> faults;  // the first faults, at most Finding::kKept
    size_t faultCount = 0;            // all faults, shown or not
    bool passed() const { return verdict == Verdict::Pass; }
};

struct ComplianceReport {
    std::vector<CheckLine> lines;
    std::string fingerprint;  // the sweep's text, when one was asked for
    // No check failed and some passed; a check skipped for want of something in
    // this environment (a locale, allocator statistics) fails nothing.
    bool passed() const { return count(Verdict::Fail) == 0 && count(Verdict::Pass) > 0; }
    size_t count(Verdict verdict) const {
        size_t n = 0;
        for (const CheckLine& line : lines) n += line.verdict == verdict ? 1 : 0;
        return n;
    }
};

// Collects the faults of one check; keeps the first few and counts them all.
class Finding {
public:
    static constexpr size_t kKept = 8;
    explicit Finding(std::string name) : name_(std::move(name)) {}
    void fault(const std::string& text) {
        if (faults_.size() < kKept) faults_.push_back(text);
        ++count_;
    }
    void see(const std::string& text) { seen_ = text; }
    bool clean() const { return count_ == 0; }
    const std::string& name() const { return name_; }
    CheckLine line() const;

private:
    std::string name_;
    std::vector<std::string> faults_;
    size_t count_ = 0;
    std::string seen_;
};

CheckLine skippedLine(const std::string& name, const std::string& reason);

// "0 (success)", "28195 (UDM_ERR_NULL_HANDLE)", "17 (unknown status)".
std::string statusName(int status);
#ifndef _WIN32
// "SIGSEGV (Segmentation fault)".
std::string signalName(int signal);
#endif

}  // namespace udmhost
