// udmhost as a user runs it: netlist in, files and exit code out.
#include <gtest/gtest.h>

#include "command_output.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using Result = CommandResult;

Result run(const std::string& arguments) { return runCommand(std::string(UDMHOST_PATH) + " " + arguments); }

class UdmhostCli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("udmhost_cli_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }
    fs::path write(const std::string& name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream(path) << text;
        return path;
    }
    fs::path dir_;
};

std::vector<std::vector<double>> readCsv(const fs::path& path, std::string* header) {
    std::ifstream in(path);
    std::getline(in, *header);
    std::vector<std::vector<double>> rows;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<double> row;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ',')) row.push_back(std::stod(field));
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

TEST_F(UdmhostCli, RunsAnRcStepThroughAPlugInResistor) {
    const fs::path netlist = write("rc.cir", std::string("RC step through a plug-in resistor\n") +
                                                 ".plugin res " + SAMPLE_GOOD + "\n" +
                                                 "V1 in 0 PULSE(0 1 0 1n 1n 1 1)\n"
                                                 "Yr in out res R=1k\n"
                                                 "C1 out 0 1u\n"
                                                 ".tran 10u 5m\n"
                                                 ".print tran V(out) Yr:I\n");
    const fs::path csv = dir_ / "rc.csv";
    const Result result = run("run " + netlist.string() + " -o " + csv.string());
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("time points:"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("Newton iterations:"), std::string::npos);

    std::string header;
    const auto rows = readCsv(csv, &header);
    EXPECT_EQ(header, "time,V(out),Yr:I\r");
    ASSERT_GT(rows.size(), 50u);
    EXPECT_DOUBLE_EQ(rows.back()[0], 5e-3);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 3u);
        const double t = row[0];
        if (t < 2e-9) continue;  // inside the source's edge
        const double exact = 1.0 - std::exp(-(t - 1e-9) / 1e-3);
        EXPECT_NEAR(row[1], exact, 5e-3) << "t = " << t;
        // The plug-in's current output is the resistor current (1 V - V(out)) / 1k.
        EXPECT_NEAR(row[2], (1.0 - row[1]) / 1e3, 1e-8) << "t = " << t;
    }
}

TEST_F(UdmhostCli, ABadNetlistNamesThePlaceAndFails) {
    const fs::path netlist = write("bad.cir", std::string("bad\n.plugin res ") + SAMPLE_GOOD +
                                                  "\nYr in out res R=1k\nC1 out 0 1u\n.tran 1u 1m\n.print V(ot)\n");
    const Result result = run("run " + netlist.string());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, netlist.string() + ":6:10: unknown node ot, did you mean out?\n");
}

TEST_F(UdmhostCli, RefusesAWrongCommandLine) {
    EXPECT_EQ(run("").exitCode, 2);
    EXPECT_EQ(run("frobnicate").exitCode, 2);
    EXPECT_EQ(run("run").exitCode, 2);
    EXPECT_EQ(run("run a.cir --bogus").exitCode, 2);
    EXPECT_EQ(run("run a.cir --ascii").exitCode, 2);
    EXPECT_EQ(run("info").exitCode, 2);
    const Result missing = run("run /nonexistent/x.cir");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.output, "udmhost: cannot open netlist /nonexistent/x.cir\n");
}

TEST_F(UdmhostCli, InfoListsTheCatalogue) {
    const Result result = run(std::string("info ") + SAMPLE_GOOD);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("registration  17, 96, 0"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("catalogue     4 entries"), std::string::npos);
    EXPECT_NE(result.output.find("  R     1k       resistance"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("  2  B     second terminal"), std::string::npos) << result.output;
}

TEST_F(UdmhostCli, CheckReportsForPeopleAndMachinesAndKeepsAFingerprint) {
    const Result text = run(std::string("check ") + SAMPLE_GOOD);
    ASSERT_EQ(text.exitCode, 0) << text.output;
    EXPECT_EQ(text.output.find("FAIL"), std::string::npos);
    EXPECT_NE(text.output.find("\nsummary: "), std::string::npos);
    // Skips only for what this build cannot measure (heap counting under a sanitizer).
    EXPECT_NE(text.output.find(" passed, 0 failed, "), std::string::npos) << text.output;

    const Result json = run(std::string("check --json ") + SAMPLE_GOOD);
    ASSERT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.output.rfind("{\"plugin\": ", 0), 0u) << json.output;
    EXPECT_NE(json.output.find("\"complies\": true, \"passed\": "), std::string::npos);
    EXPECT_NE(json.output.find("\"verdict\": \"pass\""), std::string::npos);

    const fs::path print = dir_ / "sample.fingerprint";
    const Result recorded = run("check --record " + print.string() + " " + SAMPLE_GOOD);
    ASSERT_EQ(recorded.exitCode, 0) << recorded.output;
    EXPECT_EQ(run("check --against " + print.string() + " " + SAMPLE_GOOD).exitCode, 0);
    // A fingerprint edited by hand is a different behaviour.
    std::ifstream in(print);
    std::stringstream content;
    content << in.rdbuf();
    std::string edited = content.str();
    edited.replace(edited.find("stamp 0.001"), 11, "stamp 0.002");
    write("edited.fingerprint", edited);
    const Result differs = run("check --against " + (dir_ / "edited.fingerprint").string() + " " + SAMPLE_GOOD);
    EXPECT_EQ(differs.exitCode, 1);
    EXPECT_NE(differs.output.find("FAIL  behaviour matches the recorded fingerprint\n        line "), std::string::npos)
        << differs.output;

    EXPECT_EQ(run("check --record " + (dir_ / "no/such/folder/x").string() + " " + SAMPLE_GOOD).exitCode, 1);
    EXPECT_EQ(run("check --record a --against b " + std::string(SAMPLE_GOOD)).exitCode, 2);
    EXPECT_EQ(run("check --timeout 0 " + std::string(SAMPLE_GOOD)).exitCode, 2);
}
