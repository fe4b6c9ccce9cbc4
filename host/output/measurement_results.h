// The numbers .meas tran lines ask for, computed from the rows of a run.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "netlist/circuit.h"

namespace udmhost {

struct MeasurementResult {
    std::string name;
    std::optional<double> value;  // nothing: the condition never occurred
    std::string failure;          // why there is no value
};

// `columns` names the columns of `rows` ("time" first, then print labels);
// every signal the measurements use must be among them.
std::vector<MeasurementResult> evaluateMeasurements(const std::vector<Measurement>& measurements,
                                                    const std::vector<std::string>& columns,
                                                    const std::vector<std::vector<double>>& rows);

void printMeasurements(std::ostream& out, const std::vector<MeasurementResult>& results);

}  // namespace udmhost
