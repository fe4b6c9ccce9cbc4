// Writers for the results of a run: CSV, SPICE raw files and a PNG plot.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "output/output_columns.h"
#include "output/row_store.h"
#include "output/simulation_output.h"

namespace udmhost {

// RFC 4180: a header of names, one record per row, CRLF line ends, fields
// quoted when they need it; numbers in shortest round-trip form.
void writeCsv(std::ostream& out, const std::vector<std::string>& header,
              const RowStore& rows);

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
              const RowStore& rows, const RawOptions& options);

// The name a column gets in a raw file.
std::string rawName(const ColumnInfo& column);

// The gnuplot script that draws the columns over time as a PNG on its
// standard output: node voltages on top, source currents below, plug-in
// outputs at the bottom as steps. The data follow inline; names from the
// input appear only as literal strings. gnuplotScript returns it as text.
void writeGnuplotScript(std::ostream& out, const std::string& title, const std::vector<ColumnInfo>& columns,
                        const RowStore& rows);
std::string gnuplotScript(const std::string& title, const std::vector<ColumnInfo>& columns, const RowStore& rows);

// Runs gnuplot on that script into `png` (complete or not at all); throws
// std::runtime_error with the reason when it fails.
void writePlot(const std::string& title, const std::vector<ColumnInfo>& columns,
               const RowStore& rows, const std::string& png);

}  // namespace udmhost
