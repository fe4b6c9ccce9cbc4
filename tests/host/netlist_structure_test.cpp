// Netlists built from parts: subcircuits, included files, initial node
// voltages.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "fake_catalogue.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_reader.h"
#include "sim/simulator.h"

using namespace udmhost;

namespace {

Circuit read(const std::string& text) { return readNetlist(text, "net.cir", ".", hosttest::FakeLoader{}); }

std::string failure(const std::string& text) {
    try {
        read(text);
    } catch (const NetlistError& error) {
        return error.what();
    }
    return "(no error)";
}

const Element& element(const Circuit& c, const std::string& name) {
    for (const Element& e : c.elements)
        if (e.name == name) return e;
    throw std::runtime_error("no element " + name);
}

std::string nodeName(const Circuit& c, int node) { return c.nodeNames.at(static_cast<size_t>(node)); }

// A folder of files for one test, removed afterwards.
class Files {
public:
    Files() : root_(std::filesystem::temp_directory_path() / ("udm_netlist_" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(root_);
    }
    ~Files() { std::filesystem::remove_all(root_); }
    std::string write(const std::string& name, const std::string& text) {
        const auto path = root_ / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
        return path.string();
    }

private:
    std::filesystem::path root_;
};

}  // namespace

TEST(Subcircuits, ExpandWithUniqueNamesAndTheirOwnParameters) {
    const Circuit c = read(R"(t
.param r=1k
.subckt stage in out params: gain=2 load={r*gain}
.param twice={2*gain}
Rin in mid {load}
Rout mid out {twice}
Cx mid 0 1n
.ends stage
.subckt pair a b
X1 a m stage gain=3
X2 m b stage
.ends
Xtop top 0 pair
X9 top 0 stage load=5
.tran 1u 1m
)");
    // Nested instances: names and inner nodes carry the instance path.
    EXPECT_DOUBLE_EQ(element(c, "R.Xtop.X1.Rin").value, 3000.0);   // default over an override
    EXPECT_DOUBLE_EQ(element(c, "R.Xtop.X1.Rout").value, 6.0);     // local .param sees gain=3
    EXPECT_DOUBLE_EQ(element(c, "R.Xtop.X2.Rin").value, 2000.0);
    EXPECT_DOUBLE_EQ(element(c, "R.Xtop.X2.Rout").value, 4.0);
    EXPECT_DOUBLE_EQ(element(c, "R.X9.Rin").value, 5.0);
    EXPECT_EQ(nodeName(c, element(c, "R.Xtop.X1.Rin").nodes[0]), "top");      // a port
    EXPECT_EQ(nodeName(c, element(c, "R.Xtop.X1.Rin").nodes[1]), "xtop.x1.mid");
    EXPECT_EQ(nodeName(c, element(c, "R.Xtop.X1.Rout").nodes[1]), "xtop.m");  // X1's out is pair's m
    EXPECT_EQ(element(c, "R.Xtop.X2.Rout").nodes[1], 0);                       // pair's b is ground
    EXPECT_EQ(element(c, "C.X9.Cx").nodes[1], 0);                              // ground stays global
    EXPECT_EQ(c.elements.size(), 9u);

    // A .global node is the same node in every instance.
    const Circuit g = read("t\n.global vcc\n.subckt pull out\nR1 vcc out 1k\n.ends\nX1 a pull\nX2 b pull\n"
                           "V1 vcc 0 5\n.tran 1u 1m\n");
    EXPECT_EQ(element(g, "R.X1.R1").nodes[0], element(g, "R.X2.R1").nodes[0]);
    EXPECT_EQ(nodeName(g, element(g, "R.X1.R1").nodes[0]), "vcc");

    const std::string body = ".subckt inv in out\nR1 in out 1k\n.ends\n.tran 1u 1m\n";  // lines 2-5
    EXPECT_EQ(failure("t\n" + body + "X1 a b inw\n"),
              "net.cir:6:8: unknown subcircuit inw (no .subckt defines it), did you mean inv?");
    EXPECT_EQ(failure("t\n" + body + "X1 a b c inv\n"), "net.cir:6:1: subcircuit inv has 2 ports, 3 given");
    EXPECT_EQ(failure("t\n.subckt loop a\nX1 a loop\n.ends\nX1 n loop\n.tran 1u 1m\n"),
              "net.cir:3:1: subcircuit loop contains itself");
    EXPECT_EQ(failure("t\n.subckt open a\nR1 a 0 1\n.tran 1u 1m\n"), "net.cir:2:9: .subckt open has no .ends");
    EXPECT_EQ(failure("t\n" + body + "X1 a b inv k={1+}\n").substr(0, 32), "net.cir:6:1: cannot evaluate 1+:");
}

TEST(Includes, ReadRelativeToTheIncludingFileAndRefuseCycles) {
    Files files;
    files.write("parts/models.lib", "* models\n.lib fast\n.model quick sw(ron=2)\n.endl\n"
                                    ".lib slow\n.model quick sw(ron=200)\n.endl\n");
    files.write("parts/divider.inc", "R2 mid 0 3k\n.include ../more/last.inc\n.end\n");
    files.write("more/last.inc", "R3 mid 0 6k\n");
    const std::string top = files.write("top.cir", "top\nR1 in mid 1k\n.include \"parts/divider.inc\"\n"
                                                   ".lib parts/models.lib slow\nS1 in 0 mid 0 quick\n"
                                                   "V1 in 0 1\n.tran 1u 1m\n");
    const Circuit c = readNetlistFile(top, hosttest::FakeLoader{}, {{"vcswitch", "sw.so"}});
    EXPECT_DOUBLE_EQ(element(c, "R2").value, 3000.0);
    EXPECT_DOUBLE_EQ(element(c, "R3").value, 6000.0);           // past the included deck's .end
    EXPECT_EQ(element(c, "S1").definitionText.substr(0, 4), "200,");  // only the slow section

    auto failureOf = [](const std::string& path) {
        try {
            readNetlistFile(path, hosttest::FakeLoader{});
        } catch (const NetlistError& error) {
            return std::string(error.what());
        }
        return std::string("(no error)");
    };
    files.write("a.inc", "R1 a 0 1\n.include b.inc\n");
    files.write("b.inc", "R2 b 0 1\n.inc a.inc\n");
    const std::string cyclic = files.write("cyclic.cir", "t\n.include a.inc\n.tran 1u 1m\n");
    const std::string b = std::filesystem::path(cyclic).parent_path() / "b.inc";
    EXPECT_EQ(failureOf(cyclic), b + ":2:6: include cycle: a.inc -> b.inc -> a.inc");
    const std::string missing = files.write("missing.cir", "t\n.include nowhere.inc\n.tran 1u 1m\n");
    EXPECT_TRUE(failureOf(missing).starts_with(missing + ":2:10: cannot read ")) << failureOf(missing);
    EXPECT_EQ(failureOf(files.write("device.cir", "t\n.include /dev/zero\n.tran 1u 1m\n")),
              std::filesystem::path(cyclic).parent_path().string() + "/device.cir:2:10: /dev/zero is not a regular file");
    const std::string section = files.write("section.cir", "t\n.lib parts/models.lib typical\n.tran 1u 1m\n");
    EXPECT_EQ(failureOf(section), section + ":2:23: no section typical (.lib typical ... .endl)");
}

// .ic holds a node during the operating point only; the transient then
// starts from there. Without it the capacitor would sit at 0 V.
TEST(InitialConditions, HoldTheOperatingPointAndThenRelease) {
    const Circuit c = read(R"(t
R1 out 0 1k
C1 out 0 1u
R2 other 0 1
.ic V(out)=2
.nodeset V(other)=1
.tran 10u 1m
.print tran V(out)
)");
    ASSERT_EQ(c.initialVoltages.size(), 1u);
    EXPECT_EQ(c.nodesets.size(), 1u);
    std::ostringstream messages;
    const SimulationOutput out = simulate(c, messages);
    ASSERT_GT(out.rows.size(), 10u);
    EXPECT_NEAR(out.rows.front()[1], 2.0, 1e-6);
    for (const auto& row : out.rows) EXPECT_NEAR(row[1], 2.0 * std::exp(-row[0] / 1e-3), 2e-3) << row[0];
    EXPECT_EQ(failure("t\nR1 a 0 1\n.ic V(0)=1\n.tran 1u 1m\n"), "net.cir:3:7: ground is always at 0 V");
    EXPECT_EQ(failure("t\nR1 a 0 1\n.ic a=1\n.tran 1u 1m\n"), "net.cir:3:5: expected V(node)=value, found 'a'");
    EXPECT_EQ(failure("t\n.ic V(outt)=1\nR1 out 0 1\n.tran 1u 1m\n"), "net.cir:2:7: unknown node outt, did you mean out?");
}

// E, F, G, H against values worked out by hand: 2 V drives each; the sensed
// current through Vs is 1 mA.
TEST(ControlledSources, StampTheirLinearLaws) {
    const Circuit c = read(R"(t
V1 in 0 2
Vs in s 0
Rs s 0 2k
E1 e 0 in 0 3
Re e 0 1k
G1 0 g in 0 1m
Rg g 0 1k
F1 0 f Vs 2
Rf f 0 1k
H1 h 0 Vs 500
Rh h 0 1k
.tran 1u 10u
.print tran V(e) V(g) V(f) V(h)
)");
    std::ostringstream messages;
    const SimulationOutput out = simulate(c, messages);
    const std::vector<double> expected = {6.0, 2.0, 2.0, 0.5};
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(out.rows.back()[i + 1], expected[i], 1e-6) << i;
    EXPECT_EQ(failure("t\nR1 a 0 1\nF1 a 0 R1 2\n.tran 1u 1m\n"),
              "net.cir:3:8: R1 is not a voltage source; F and H sense the current of one (add a 0 V source in series "
              "where the current flows)");
    EXPECT_EQ(failure("t\nR1 a 0 1\nE1 a 0 b 0 value={v(b)}\n.tran 1u 1m\n"),
              "net.cir:3:12: value sources are not supported; give a constant gain");
}
