#include <charconv>
#include <ostream>

#include "output/output_writers.h"

namespace udmhost {

namespace {

void field(std::ostream& out, const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        out << text;
        return;
    }
    out << '"';
    for (char c : text) {
        if (c == '"') out << '"';
        out << c;
    }
    out << '"';
}

void number(std::ostream& out, double value) {
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.write(buffer, written.ptr - buffer);
}

}  // namespace

void writeCsv(std::ostream& out, const std::vector<std::string>& header,
              const RowStore& rows) {
    for (size_t i = 0; i < header.size(); ++i) {
        if (i > 0) out << ',';
        field(out, header[i]);
    }
    out << "\r\n";
    for (const std::vector<double>& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) {
            if (i > 0) out << ',';
            number(out, row[i]);
        }
        out << "\r\n";
    }
}

void writeEventsCsv(std::ostream& out, const std::vector<SwitchEvent>& events) {
    out << "time,element,state\r\n";
    for (const SwitchEvent& event : events) {
        number(out, event.time);
        out << ',';
        field(out, event.element);
        out << ',' << event.newState << "\r\n";
    }
}

}  // namespace udmhost
