// The check's report: a line per result as it completes and a summary, or
// one JSON document for machines.
#pragma once

#include <ostream>
#include <string>

#include "check/check_line.h"

namespace udmhost {

void printLine(std::ostream& out, const CheckLine& line);
void printSummary(std::ostream& out, const ComplianceReport& report, const std::string& plugin);
void printJson(std::ostream& out, const ComplianceReport& report, const std::string& plugin);

}  // namespace udmhost
