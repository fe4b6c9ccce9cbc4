// Writers for the results of a run: CSV, SPICE raw files and a PNG plot.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "output/output_columns.h"
#include "output/simulation_output.h"

namespace udmhost {

// RFC 4180: a header of names, one record per row, CRLF line ends, fields
// quoted when they need it; numbers in shortest round-trip form.
void writeCsv(std::ostream& out, const std::vector<std::string>& header,
              const std::vector<std::vector<double>>& rows);

// The switching events as CSV: time, element, state.
void writeEventsCsv(std::ostream& out, const std::vector<SwitchEvent>& events);

struct RawOptions {
    std::string title;
    std::string date;    // free text for the Date: line
    bool ascii = false;  // binary by default
};

// A SPICE raw file ("Transient Analysis", real values) as waveform viewers
// and ngspice's `load` read it. Names: time, v(node), v(a,b), i(vname),
// and instance.output for plug-in outputs.
void writeRaw(std::ostream& out, const std::vector<ColumnInfo>& columns,
              const std::vector<std::vector<double>>& rows, const RawOptions& options);

// The name a column gets in a raw file.
std::string rawName(const ColumnInfo& column);

// The gnuplot script that draws the columns over time into `png`: node
// voltages on top, source currents below, plug-in outputs at the bottom
// as steps. The data follow inline.
std::string gnuplotScript(const std::string& title, const std::vector<ColumnInfo>& columns,
                          const std::vector<std::vector<double>>& rows, const std::string& png);

// Runs gnuplot on that script; throws std::runtime_error when it fails.
void writePlot(const std::string& title, const std::vector<ColumnInfo>& columns,
               const std::vector<std::vector<double>>& rows, const std::string& png);

}  // namespace udmhost
