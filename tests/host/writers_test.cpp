#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "output/output_writers.h"

using namespace udmhost;

namespace {

using Q = ColumnInfo::Quantity;

const std::vector<ColumnInfo> kColumns = {
    {"time", Q::Time}, {"V(cap)", Q::Voltage}, {"I(V1)", Q::Current}, {"Ysw:STATE", Q::PluginOutput}};

std::vector<std::vector<double>> sampleRows() {
    std::vector<std::vector<double>> rows;
    for (int i = 0; i < 7; ++i) {
        const double t = 1e-4 * i / 3.0;
        rows.push_back({t, 5.0 * (1.0 - std::exp(-t / 1e-3)), -std::sin(i) * 1e-3, static_cast<double>(i % 2)});
    }
    return rows;
}

// Splits RFC 4180 text into records of fields.
std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string& field = records.back().back();
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += '"', ++i;
            else if (c == '"') quoted = false;
            else field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            records.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            records.emplace_back(1);
        } else {
            field += c;
        }
    }
    records.pop_back();  // after the final CRLF
    return records;
}

}  // namespace

TEST(CsvWriter, WritesRfc4180WithExactNumbers) {
    const std::vector<std::string> header = {"time", "V(a,b)", "say \"hi\"", "Y1:STATE"};
    const std::vector<std::vector<double>> rows = {{0.0, 1.0 / 3.0, -2.5e-300, 1.0}, {1e-9, 6.02e23, 0.1, 0.0}};
    std::ostringstream out;
    writeCsv(out, header, RowStore(rows));
    const std::string text = out.str();
    EXPECT_EQ(text.substr(0, text.find("\r\n")), "time,\"V(a,b)\",\"say \"\"hi\"\"\",Y1:STATE");
    EXPECT_EQ(text.find('\n', 0), text.find("\r\n") + 1);  // CRLF line ends
    const auto records = parseCsv(text);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], header);
    for (size_t r = 0; r < rows.size(); ++r) {
        ASSERT_EQ(records[r + 1].size(), rows[r].size());
        for (size_t c = 0; c < rows[r].size(); ++c) EXPECT_EQ(std::stod(records[r + 1][c]), rows[r][c]);
    }
}

TEST(CsvWriter, WritesEvents) {
    std::ostringstream out;
    writeEventsCsv(out, {{4.5e-4, "Ysw", 1}, {9.125e-4, "Y,odd", 0}});
    EXPECT_EQ(out.str(), "time,element,state\r\n0.00045,Ysw,1\r\n0.0009125,\"Y,odd\",0\r\n");
}

TEST(RawWriter, BinaryFileHasTheHeaderAndEveryValueExactly) {
    const auto rows = sampleRows();
    std::ostringstream out;
    writeRaw(out, kColumns, RowStore(rows), {"RC test", "today", false});
    const std::string text = out.str();
    const std::string header =
        "Title: RC test\nDate: today\nPlotname: Transient Analysis\nFlags: real\nNo. Variables: 4\n"
        "No. Points: 7\nVariables:\n\t0\ttime\ttime\n\t1\tv(cap)\tvoltage\n\t2\ti(v1)\tcurrent\n"
        "\t3\tysw.state\tnotype\nBinary:\n";
    ASSERT_EQ(text.substr(0, header.size()), header);
    ASSERT_EQ(text.size(), header.size() + rows.size() * 4 * sizeof(double));
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < 4; ++c) {
            double value = 0.0;
            std::memcpy(&value, text.data() + header.size() + (r * 4 + c) * sizeof(double), sizeof value);
            EXPECT_EQ(value, rows[r][c]) << r << "," << c;
        }
}

TEST(RawWriter, AsciiFileListsPointsWithTheirIndex) {
    const auto rows = sampleRows();
    std::ostringstream out;
    writeRaw(out, kColumns, RowStore(rows), {"RC test", "today", true});
    std::istringstream in(out.str());
    std::string line;
    while (std::getline(in, line) && line != "Values:") {
    }
    ASSERT_EQ(line, "Values:");
    for (size_t r = 0; r < rows.size(); ++r) {
        size_t index = 0;
        in >> index;
        EXPECT_EQ(index, r);
        for (size_t c = 0; c < 4; ++c) {
            double value = 0.0;
            in >> value;
            EXPECT_NEAR(value, rows[r][c], 1e-15 * std::fabs(rows[r][c]));
        }
    }
    std::string rest;
    in >> rest;
    EXPECT_TRUE(rest.empty()) << rest;
}

TEST(PlotWriter, ScriptPutsEachQuantityInItsPanel) {
    const std::string script = gnuplotScript("osc", kColumns, RowStore(sampleRows()));
    EXPECT_NE(script.find("set multiplot layout 3,1"), std::string::npos);
    EXPECT_NE(script.find("using ($1*1e+06):2 with lines linewidth 1.5 linecolor 1 title 'V(cap)'"), std::string::npos);
    EXPECT_NE(script.find("using ($1*1e+06):4 with steps linewidth 1.5 linecolor 3 title 'Ysw:STATE'"), std::string::npos);
    // Seven data lines between the datablock markers.
    const size_t begin = script.find("$data << EOD\n") + 13, end = script.find("EOD\n", begin);
    const std::string data = script.substr(begin, end - begin);
    EXPECT_EQ(std::count(data.begin(), data.end(), '\n'), 7);
}

TEST(PlotWriter, NamesStayLiteralStringsOnTheirLine) {
    // A line break would start a new gnuplot command; a double-quoted or
    // unbalanced string would let backquotes run.
    std::vector<ColumnInfo> columns = kColumns;
    columns[1].name = "V(a`id`\nset output 'x')";
    const std::string plain = gnuplotScript("osc", kColumns, RowStore(sampleRows()));
    const std::string hostile = gnuplotScript("t'`id`\\\r\n\"", columns, RowStore(sampleRows()));
    EXPECT_EQ(std::count(hostile.begin(), hostile.end(), '\n'), std::count(plain.begin(), plain.end(), '\n'));
    EXPECT_NE(hostile.find("title 't''`id`\\  \"'\n"), std::string::npos) << hostile;
    EXPECT_NE(hostile.find("title 'V(a`id` set output ''x'')'"), std::string::npos) << hostile;
    EXPECT_EQ(hostile.find('"'), hostile.find("\"'\n"));  // the only double quote is the title's own
}

TEST(PlotWriter, GnuplotDrawsAPng) {
    const auto png = std::filesystem::temp_directory_path() / ("udmhost_plot_" + std::to_string(::getpid()) + ".png");
    writePlot("osc", kColumns, RowStore(sampleRows()), png.string());
    std::ifstream in(png, std::ios::binary);
    char magic[8] = {};
    in.read(magic, sizeof magic);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
    EXPECT_GT(std::filesystem::file_size(png), 1000u);
    std::filesystem::remove(png);
}
