#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "output/atomic_file.h"
#include "output/output_writers.h"
#include "output/plotter_process.h"

namespace udmhost {

namespace {

// gnuplot expands backquotes (a shell command) and escapes inside double
// quotes; a single-quoted string is taken literally, with '' for a quote.
// A line break would end the command, so it becomes a space.
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c == '\n' || c == '\r' ? ' ' : c;
    }
    return out + "'";
}

struct Panel {
    std::string ylabel;
    std::vector<size_t> columns;
    bool steps = false;
};

}  // namespace

void writeGnuplotScript(std::ostream& s, const std::string& title, const std::vector<ColumnInfo>& columns,
                        const RowStore& rows) {
    // Voltages, currents, then one panel per plug-in output name, so that a
    // state of 0 or 1 is not flattened by a current of hundreds of amperes.
    Panel voltages{"voltage (V)", {}, false}, currents{"current (A)", {}, false};
    std::vector<Panel> outputs;
    for (size_t i = 1; i < columns.size(); ++i) {
        switch (columns[i].quantity) {
            case ColumnInfo::Quantity::Voltage: voltages.columns.push_back(i); break;
            case ColumnInfo::Quantity::Current: currents.columns.push_back(i); break;
            case ColumnInfo::Quantity::PluginOutput: {
                const size_t colon = columns[i].name.rfind(':');
                const std::string output = colon == std::string::npos ? columns[i].name : columns[i].name.substr(colon + 1);
                auto panel = std::find_if(outputs.begin(), outputs.end(), [&](const Panel& p) { return p.ylabel == output; });
                if (panel == outputs.end()) panel = outputs.insert(outputs.end(), Panel{output, {}, true});
                panel->columns.push_back(i);
                break;
            }
            case ColumnInfo::Quantity::Time: break;
        }
    }
    std::vector<const Panel*> panels;
    for (const Panel* p : {&voltages, &currents})
        if (!p->columns.empty()) panels.push_back(p);
    for (const Panel& p : outputs) panels.push_back(&p);

    // Time in the unit that suits the run's length.
    const double stop = rows.empty() ? 1.0 : rows.back().front();
    const char* unit = stop < 1e-6 ? "ns" : stop < 1e-3 ? "us" : stop < 1.0 ? "ms" : "s";
    const double scale = stop < 1e-6 ? 1e9 : stop < 1e-3 ? 1e6 : stop < 1.0 ? 1e3 : 1.0;

    s << "$data << EOD\n";
    char buffer[32];
    for (const std::vector<double>& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) {
            const auto written = std::to_chars(buffer, buffer + sizeof buffer, row[i]);
            if (i > 0) s << ' ';
            s.write(buffer, written.ptr - buffer);
        }
        s << '\n';
    }
    s << "EOD\n";
    const size_t height = panels.size() <= 1 ? 600 : 300 * panels.size() + 60;
    s << "set terminal pngcairo size 1200," << height << " noenhanced font 'sans,11'\n";
    s << "set grid\nset key outside right top\nset lmargin 12\nset rmargin 22\n";
    s << "set offsets 0, 0, graph 0.08, graph 0.08\n";
    s << "set multiplot layout " << std::max<size_t>(1, panels.size()) << ",1 title " << quoted(title) << "\n";
    for (size_t p = 0; p < panels.size(); ++p) {
        const Panel& panel = *panels[p];
        s << "set ylabel " << quoted(panel.ylabel) << "\n";
        s << "set xlabel " << (p + 1 == panels.size() ? quoted(std::string("time (") + unit + ")") : "''") << "\n";
        s << "plot ";
        for (size_t k = 0; k < panel.columns.size(); ++k) {
            const size_t column = panel.columns[k];
            if (k > 0) s << ", ";
            s << "$data using ($1*" << scale << "):" << column + 1 << " with " << (panel.steps ? "steps" : "lines")
              << " linewidth 1.5 linecolor " << column << " title " << quoted(columns[column].name);
        }
        s << "\n";
    }
    if (panels.empty()) s << "plot 0 notitle\n";
    s << "unset multiplot\n";
}

std::string gnuplotScript(const std::string& title, const std::vector<ColumnInfo>& columns, const RowStore& rows) {
    std::ostringstream s;
    writeGnuplotScript(s, title, columns, rows);
    return s.str();
}

void writePlot(const std::string& title, const std::vector<ColumnInfo>& columns,
               const RowStore& rows, const std::string& png) {
    AtomicFile image(png);
    const auto script = [&](std::ostream& out) { writeGnuplotScript(out, title, columns, rows); };
    // What gnuplot writes to a device cannot be read back: it draws into a
    // private file, checked and then copied with checked writes.
    std::optional<AtomicFile> scratch;
    if (image.direct())
        scratch.emplace((std::filesystem::temp_directory_path() / "udmhost_plot.png").string());
    AtomicFile& drawn = scratch ? *scratch : image;
    const std::string said = runPlotter(script, drawn.descriptor(), png);
    // gnuplot exits with success after a failed write: the image itself says.
    if (!isCompletePng(drawn.temporaryPath()))
        throw std::runtime_error("cannot draw " + png + ": gnuplot left an incomplete image" +
                                 (said.empty() ? std::string(" (disk full?)") : "; gnuplot said: " + said));
    if (!said.empty()) std::cerr << "gnuplot: " << said << "\n";
    if (scratch) {
        std::ifstream in(scratch->temporaryPath(), std::ios::binary);
        image.stream() << in.rdbuf();
    }
    image.commit();
}

}  // namespace udmhost
