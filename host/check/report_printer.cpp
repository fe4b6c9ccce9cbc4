#include "check/report_printer.h"

#include <cstdio>

namespace udmhost {

namespace {

const char* verdictWord(Verdict verdict) {
    return verdict == Verdict::Pass ? "pass" : verdict == Verdict::Fail ? "fail" : "skip";
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x80) {
            // Descriptions may be 8-bit code-page text: escape, so the document stays valid UTF-8.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

void printLine(std::ostream& out, const CheckLine& line) {
    switch (line.verdict) {
        case Verdict::Pass: out << "PASS  " << line.name << (line.detail.empty() ? "" : ": " + line.detail) << "\n"; break;
        case Verdict::Skip: out << "SKIP  " << line.name << ": " << line.detail << "\n"; break;
        case Verdict::Fail:
            out << "FAIL  " << line.name << "\n";
            for (const std::string& fault : line.faults) out << "        " << fault << "\n";
            if (line.faultCount > line.faults.size())
                out << "        ... and " << line.faultCount - line.faults.size() << " more (" << line.faultCount
                    << " faults)\n";
            break;
    }
    out.flush();
}

void printSummary(std::ostream& out, const ComplianceReport& report, const std::string& plugin) {
    out << "summary: " << report.count(Verdict::Pass) << " passed, " << report.count(Verdict::Fail) << " failed, "
        << report.count(Verdict::Skip) << " skipped of " << report.lines.size() << " checks; " << plugin
        << (report.passed() ? " complies" : " does not comply") << "\n";
}

void printJson(std::ostream& out, const ComplianceReport& report, const std::string& plugin) {
    out << "{\"plugin\": " << jsonString(plugin) << ", \"complies\": " << (report.passed() ? "true" : "false")
        << ", \"passed\": " << report.count(Verdict::Pass) << ", \"failed\": " << report.count(Verdict::Fail)
        << ", \"skipped\": " << report.count(Verdict::Skip) << ",\n \"checks\": [";
    for (size_t i = 0; i < report.lines.size(); ++i) {
        const CheckLine& line = report.lines[i];
        out << (i == 0 ? "\n" : ",\n") << "  {\"name\": " << jsonString(line.name) << ", \"verdict\": \""
            << verdictWord(line.verdict) << "\", \"detail\": " << jsonString(line.detail)
            << ", \"faultCount\": " << line.faultCount << ", \"faults\": [";
        for (size_t k = 0; k < line.faults.size(); ++k) out << (k == 0 ? "" : ", ") << jsonString(line.faults[k]);
        out << "]}";
    }
    out << "\n ]}\n";
    out.flush();
}

}  // namespace udmhost
