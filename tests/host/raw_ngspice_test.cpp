// ngspice loads the raw files udmhost writes and reads back the same values.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "output/output_writers.h"

using namespace udmhost;

namespace {

using Q = ColumnInfo::Quantity;

// The values ngspice prints for `vectors`, one row per point.
std::vector<std::vector<double>> ngspicePrint(const std::filesystem::path& raw, const std::string& vectors) {
    const auto dir = raw.parent_path();
    const auto script = dir / "load.sp";
    std::ofstream(script) << "* load\n.control\nset numdgt=15\nset width=400\nset height=100000\nload " << raw.string() << "\nprint " << vectors
                          << "\n.endc\n.end\n";
    const std::string command = "ngspice -b " + script.string() + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string output;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    pclose(pipe);
    std::vector<std::vector<double>> rows;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        size_t index = 0;
        if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0])) || !(fields >> index)) continue;
        std::vector<double> row;
        double value = 0.0;
        while (fields >> value) row.push_back(value);
        rows.push_back(row);
    }
    return rows;
}

class RawInNgspice : public ::testing::TestWithParam<bool> {};

}  // namespace

TEST_P(RawInNgspice, LoadsEveryPointAndValue) {
    const auto dir = std::filesystem::temp_directory_path() / ("udmhost_raw_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto raw = dir / "run.raw";
    const std::vector<ColumnInfo> columns = {
        {"time", Q::Time}, {"V(out)", Q::Voltage}, {"I(Vsupply)", Q::Current}, {"Y1:STATE", Q::PluginOutput}};
    std::vector<std::vector<double>> rows;
    for (int i = 0; i < 50; ++i) {
        const double t = 2e-5 * i;
        rows.push_back({t, 3.3 * std::sin(2e4 * t) + 0.123456789, -4.2e-3 * std::exp(-t / 3e-4), i % 7 < 3 ? 1.0 : 0.0});
    }
    {
        std::ofstream out(raw, std::ios::binary);
        writeRaw(out, columns, RowStore(rows), {"crosscheck", "now", GetParam()});
    }
    const auto loaded = ngspicePrint(raw, "time v(out) i(vsupply) y1.state");
    ASSERT_EQ(loaded.size(), rows.size()) << "ngspice did not load " << raw;
    for (size_t r = 0; r < rows.size(); ++r) {
        ASSERT_EQ(loaded[r].size(), 4u);
        for (size_t c = 0; c < 4; ++c)
            EXPECT_NEAR(loaded[r][c], rows[r][c], 1e-13 * std::max(1.0, std::fabs(rows[r][c]))) << r << "," << c;
    }
    if (!HasFailure()) std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(BinaryAndAscii, RawInNgspice, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "ascii" : "binary"; });
