// The numbers .meas tran lines ask for, computed from the rows of a run.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "netlist/circuit.h"
#include "output/row_store.h"

namespace udmhost {

struct MeasurementResult {
    std::string name;
    std::optional<double> value;  // nothing: the condition never occurred
    std::string failure;          // why there is no value
};

// `columns` names the columns of `rows` ("time" first, then print labels);
// every signal the measurements use must be among them. The rows are read
// front to back, a few times per measurement.
std::vector<MeasurementResult> evaluateMeasurements(const std::vector<Measurement>& measurements,
                                                    const std::vector<std::string>& columns,
                                                    const RowStore& rows);

void printMeasurements(std::ostream& out, const std::vector<MeasurementResult>& results);

}  // namespace udmhost
