// The printed columns of a run: what each .print item reads, resolved once,
// and the row of values at an accepted time point.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "netlist/circuit.h"

namespace udmhost {

// The running simulation as the columns see it.
class ColumnProbe {
public:
    virtual int nodeUnknown(int node) const = 0;
    virtual int branchUnknown(int element) const = 0;         // -1: none
    virtual double unknownValue(int unknown) const = 0;       // unknown >= 0
    virtual double sourceValue(int element, double time) const = 0;
    virtual int pluginInstance(int element) const = 0;        // -1: not a plug-in instance
    virtual int resolveOutput(int instance, const std::string& output) = 0;  // 0: no such output
    virtual double pluginOutput(int instance, int outputIndex) = 0;

protected:
    ~ColumnProbe() = default;
};

// A .print item that cannot be read from this circuit.
class ColumnError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ColumnReader {
public:
    // Resolves every .print item of `circuit`; throws ColumnError.
    ColumnReader(const Circuit& circuit, ColumnProbe& probe);

    // "time" and then the label of each item.
    std::vector<std::string> names() const;
    // The values at `time`: time first, then one per item.
    std::vector<double> row(double time) const;

private:
    struct Column {
        const PrintItem* item;
        int unknown1 = -1, unknown2 = -1;  // voltages and branch currents
        int instance = -1;                 // plug-in outputs
        int outputIndex = 0;
    };
    ColumnProbe& probe_;
    std::vector<Column> columns_;
};

}  // namespace udmhost
