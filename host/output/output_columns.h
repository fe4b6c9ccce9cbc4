// What each column of a simulation's output holds, for the writers.
#pragma once

#include <string>
#include <vector>

#include "netlist/circuit.h"

namespace udmhost {

struct ColumnInfo {
    enum class Quantity { Time, Voltage, Current, PluginOutput };
    std::string name;  // as in SimulationOutput::columns
    Quantity quantity = Quantity::Time;
};

// "time" and then one column per .print item, in order.
std::vector<ColumnInfo> describeColumns(const Circuit& circuit);

}  // namespace udmhost
