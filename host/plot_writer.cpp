#include <charconv>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include <sys/wait.h>

#include "output_writers.h"

namespace udmhost {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

struct Panel {
    std::string ylabel;
    std::vector<size_t> columns;
    bool steps = false;
};

}  // namespace

std::string gnuplotScript(const std::string& title, const std::vector<ColumnInfo>& columns,
                          const std::vector<std::vector<double>>& rows, const std::string& png) {
    Panel voltages{"voltage (V)", {}, false}, currents{"current (A)", {}, false}, outputs{"plug-in output", {}, true};
    for (size_t i = 1; i < columns.size(); ++i) {
        switch (columns[i].quantity) {
            case ColumnInfo::Quantity::Voltage: voltages.columns.push_back(i); break;
            case ColumnInfo::Quantity::Current: currents.columns.push_back(i); break;
            case ColumnInfo::Quantity::PlugInOutput: outputs.columns.push_back(i); break;
            case ColumnInfo::Quantity::Time: break;
        }
    }
    std::vector<const Panel*> panels;
    for (const Panel* p : {&voltages, &currents, &outputs})
        if (!p->columns.empty()) panels.push_back(p);

    std::ostringstream s;
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
    s << "set terminal pngcairo size 1200," << height << " noenhanced font \"sans,11\"\n";
    s << "set output " << quoted(png) << "\n";
    s << "set grid\nset key outside right top\nset lmargin 12\nset rmargin 22\n";
    s << "set format x \"%.0s%c\"\n";
    s << "set multiplot layout " << std::max<size_t>(1, panels.size()) << ",1 title " << quoted(title) << "\n";
    for (size_t p = 0; p < panels.size(); ++p) {
        const Panel& panel = *panels[p];
        s << "set ylabel " << quoted(panel.ylabel) << "\n";
        s << "set xlabel " << (p + 1 == panels.size() ? "\"time (s)\"" : "\"\"") << "\n";
        if (panel.steps) s << "set yrange [-0.1:*]\n";
        else s << "set autoscale y\n";
        s << "plot ";
        for (size_t k = 0; k < panel.columns.size(); ++k) {
            const size_t column = panel.columns[k];
            if (k > 0) s << ", ";
            s << "$data using 1:" << column + 1 << " with " << (panel.steps ? "steps" : "lines")
              << " linewidth 1.5 title " << quoted(columns[column].name);
        }
        s << "\n";
    }
    if (panels.empty()) s << "plot 0 notitle\n";
    s << "unset multiplot\n";
    return s.str();
}

void writePlot(const std::string& title, const std::vector<ColumnInfo>& columns,
               const std::vector<std::vector<double>>& rows, const std::string& png) {
    const std::string script = gnuplotScript(title, columns, rows, png);
    FILE* pipe = popen("gnuplot", "w");
    if (pipe == nullptr) throw std::runtime_error("cannot start gnuplot");
    const size_t written = std::fwrite(script.data(), 1, script.size(), pipe);
    const int status = pclose(pipe);
    if (written != script.size() || status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("gnuplot could not draw " + png + " (is gnuplot installed?)");
}

}  // namespace udmhost
