#include <charconv>
#include <cstring>
#include <ostream>

#include "output/output_writers.h"
#include "text/lower_case.h"

namespace udmhost {

std::string rawName(const ColumnInfo& column) {
    switch (column.quantity) {
        case ColumnInfo::Quantity::Time: return "time";
        case ColumnInfo::Quantity::Voltage:
        case ColumnInfo::Quantity::Current: return lowerCase(column.name);
        case ColumnInfo::Quantity::PluginOutput: {
            // "Y1:STATE" -> "y1.state": a colon would not survive ngspice's
            // vector name parser.
            std::string name = lowerCase(column.name);
            for (char& c : name)
                if (c == ':') c = '.';
            return name;
        }
    }
    return column.name;
}

namespace {

const char* rawType(ColumnInfo::Quantity quantity) {
    switch (quantity) {
        case ColumnInfo::Quantity::Time: return "time";
        case ColumnInfo::Quantity::Voltage: return "voltage";
        case ColumnInfo::Quantity::Current: return "current";
        case ColumnInfo::Quantity::PluginOutput: return "notype";
    }
    return "notype";
}

}  // namespace

void writeRaw(std::ostream& out, const std::vector<ColumnInfo>& columns,
              const RowStore& rows, const RawOptions& options) {
    out << "Title: " << options.title << "\n";
    out << "Date: " << options.date << "\n";
    out << "Plotname: Transient Analysis\n";
    out << "Flags: real\n";
    out << "No. Variables: " << columns.size() << "\n";
    out << "No. Points: " << rows.size() << "\n";
    out << "Variables:\n";
    for (size_t i = 0; i < columns.size(); ++i)
        out << "\t" << i << "\t" << rawName(columns[i]) << "\t" << rawType(columns[i].quantity) << "\n";
    if (options.ascii) {
        out << "Values:\n";
        char buffer[32];
        size_t r = 0;
        for (const std::vector<double>& row : rows) {
            out << " " << r++;
            for (double value : row) {
                const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 16);
                out << "\t";
                out.write(buffer, written.ptr - buffer);
                out << "\n";
            }
        }
        return;
    }
    out << "Binary:\n";
    // Little-endian doubles, point after point, as ngspice writes them.
    std::vector<char> record(columns.size() * sizeof(double));
    for (const std::vector<double>& row : rows) {
        for (size_t i = 0; i < columns.size(); ++i) {
            const double value = i < row.size() ? row[i] : 0.0;
            std::memcpy(record.data() + i * sizeof(double), &value, sizeof value);
        }
        out.write(record.data(), static_cast<std::streamsize>(record.size()));
    }
}

}  // namespace udmhost
