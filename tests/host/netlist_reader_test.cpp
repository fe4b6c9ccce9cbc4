#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include "fake_catalogue.h"
#include "netlist/netlist_reader.h"

using namespace udmhost;

namespace {

Circuit read(const std::string& text, std::vector<std::string>* requested = nullptr) {
    return readNetlist(text, "net.cir", "/circuits", hosttest::FakeLoader{requested});
}

const Element& element(const Circuit& c, const std::string& name) {
    for (const Element& e : c.elements)
        if (e.name == name) return e;
    throw std::runtime_error("no element " + name);
}

const char* kRelaxation = R"(Relaxation oscillator
* a switch discharges the capacitor between two thresholds
.param vs=5 r={1k} c=1u
.plugin sw ../lib/sw.so
V1 in 0 DC {vs}
R1 in cap {r}
C1 cap 0 {c} IC=0
Ysw cap 0 cap gnd SW VTHRES=2.5 RON=1
+ VHYST=0.5 ROFF={1e9}
.tran 1u 20m 0 10u UIC
.print tran V(cap) Ysw:STATE I(V1) V(in,cap)
.options reltol=1e-4 eventtol=1e-10 method=trap solver=eigen chgtol=1e-13 points=all
.end
this line lies behind .end and is not read
)";

}  // namespace

TEST(NetlistReader, ReadsACompleteCircuit) {
    std::vector<std::string> requested;
    const Circuit c = read(kRelaxation, &requested);
    EXPECT_EQ(c.title, "Relaxation oscillator");
    ASSERT_EQ(requested.size(), 1u);
    EXPECT_EQ(requested[0], "/circuits/../lib/sw.so");
    ASSERT_EQ(c.plugins.size(), 1u);
    EXPECT_EQ(c.plugins[0].path, "/circuits/../lib/sw.so");

    EXPECT_EQ(c.nodeNames, (std::vector<std::string>{"0", "in", "cap"}));
    ASSERT_EQ(c.elements.size(), 4u);
    EXPECT_EQ(element(c, "V1").waveform.kind, Waveform::Kind::Dc);
    EXPECT_DOUBLE_EQ(element(c, "V1").waveform.dc, 5.0);
    EXPECT_DOUBLE_EQ(element(c, "R1").value, 1000.0);
    EXPECT_EQ(element(c, "R1").nodes, (std::vector<int>{1, 2}));
    EXPECT_DOUBLE_EQ(element(c, "C1").value, 1e-6);
    EXPECT_TRUE(element(c, "C1").hasInitialCondition);

    const Element& y = element(c, "Ysw");
    EXPECT_EQ(y.kind, Element::Kind::Plugin);
    EXPECT_EQ(y.plugin, 0);
    EXPECT_EQ(y.nodes, (std::vector<int>{2, 0, 2, 0}));
    // Catalogue order, values as written, braces stripped, defaults for the rest.
    EXPECT_EQ(y.definitionText, "1,1e9,2.5,0.5,0.0");

    EXPECT_TRUE(c.tran.uic);
    EXPECT_DOUBLE_EQ(c.tran.step, 1e-6);
    EXPECT_DOUBLE_EQ(c.tran.stop, 20e-3);
    EXPECT_DOUBLE_EQ(c.tran.maxStep, 10e-6);

    ASSERT_EQ(c.prints.size(), 4u);
    EXPECT_EQ(c.prints[0].label, "V(cap)");
    EXPECT_EQ(c.prints[0].node1, 2);
    EXPECT_EQ(c.prints[1].kind, PrintItem::Kind::PluginOutput);
    EXPECT_EQ(c.prints[1].output, "STATE");
    EXPECT_EQ(c.prints[1].label, "Ysw:STATE");
    EXPECT_EQ(c.prints[2].kind, PrintItem::Kind::SourceCurrent);
    EXPECT_EQ(c.prints[2].label, "I(V1)");
    EXPECT_EQ(c.prints[3].kind, PrintItem::Kind::NodeDifference);
    EXPECT_EQ(c.prints[3].node2, 2);

    EXPECT_DOUBLE_EQ(c.options.reltol, 1e-4);
    EXPECT_DOUBLE_EQ(c.options.eventTolerance, 1e-10);
    EXPECT_EQ(c.options.solver, "eigen");
    EXPECT_DOUBLE_EQ(c.options.chgtol, 1e-13);
    EXPECT_TRUE(c.options.printAllPoints);
}

TEST(NetlistReader, IsCaseInsensitiveAndKnowsSpiceNumbers) {
    const Circuit c = read(R"(t
R1 A B 1MEG
r2 b GND 10kOhm
C1 a 0 1m
L1 a b 2.2uH ic=1m
.TRAN 1N 1U
)");
    EXPECT_EQ(c.nodeNames, (std::vector<std::string>{"0", "a", "b"}));
    EXPECT_DOUBLE_EQ(element(c, "R1").value, 1e6);
    EXPECT_DOUBLE_EQ(element(c, "r2").value, 1e4);
    EXPECT_EQ(element(c, "r2").nodes[1], 0);
    EXPECT_DOUBLE_EQ(element(c, "C1").value, 1e-3);  // m is milli, as in SPICE
    EXPECT_DOUBLE_EQ(element(c, "L1").initialCondition, 1e-3);
    // Without .print every node voltage is printed.
    ASSERT_EQ(c.prints.size(), 2u);
    EXPECT_EQ(c.prints[1].label, "V(b)");
}

TEST(NetlistReader, ExpressionsUseParamsAndSpiceLiterals) {
    const Circuit c = read(R"(t
.param a=2 b={a*1k} half=a/2 x2k=3
.plugin sw sw.so
R1 1 0 {b + 1meg}
R2 1 0 {-2^2 + 10}
R3 1 0 half
R4 1 0 {x2k*.5k}
Y1 1 0 1 0 sw CTRL0={time > 1m} RON=1m
.tran 1 2
)");
    EXPECT_DOUBLE_EQ(element(c, "R1").value, 1002000.0);
    EXPECT_DOUBLE_EQ(element(c, "R2").value, 6.0);  // unary minus binds as usual
    EXPECT_DOUBLE_EQ(element(c, "R3").value, 1.0);
    EXPECT_DOUBLE_EQ(element(c, "R4").value, 1500.0);  // a name with digits is no number
    // Plug-in values go through unevaluated: the plug-in decides.
    EXPECT_EQ(element(c, "Y1").definitionText, "1m,1.0e9,0.0,0.0,time > 1m");
}

TEST(NetlistReader, FillsTheWaveformArgumentsSpiceLeavesOut) {
    const Circuit c = read(R"(t
V1 1 0 PULSE(0 5)
V2 2 0 PULSE(0 5 1u 0 2n 3u 10u)
V3 3 0 SIN(1 2 1k)
V4 4 0 DC 1 SIN(0 1)
I1 5 0 PWL(0 0 1m 2, 2m 2)
R1 1 0 1
.tran 1u 10m
)");
    EXPECT_EQ(element(c, "V1").waveform.kind, Waveform::Kind::Pulse);
    EXPECT_EQ(element(c, "V1").waveform.args, (std::vector<double>{0, 5, 0, 1e-6, 1e-6, 10e-3, 10e-3, 0, 0}));  // no width given
    const std::vector<double> v2{0, 5, 1e-6, 1e-6, 2e-9, 3e-6, 10e-6, 0, 1};  // its width given
    ASSERT_EQ(element(c, "V2").waveform.args.size(), v2.size());
    for (size_t i = 0; i < v2.size(); ++i) EXPECT_NEAR(element(c, "V2").waveform.args[i], v2[i], 1e-20) << i;
    EXPECT_EQ(element(c, "V3").waveform.args, (std::vector<double>{1, 2, 1e3, 0, 0, 0}));
    EXPECT_EQ(element(c, "V4").waveform.args, (std::vector<double>{0, 1, 100.0, 0, 0, 0}));
    EXPECT_DOUBLE_EQ(element(c, "V4").waveform.dc, 1.0);
    EXPECT_EQ(element(c, "I1").kind, Element::Kind::CurrentSource);
    EXPECT_EQ(element(c, "I1").waveform.kind, Waveform::Kind::Pwl);
    EXPECT_EQ(element(c, "I1").waveform.args, (std::vector<double>{0, 0, 1e-3, 2, 2e-3, 2}));
}

TEST(NetlistReader, AcceptsEveryOptionTheReadmeNames) {
    // Each option with a value other than its default, so a name that is
    // accepted but stored nowhere (or in the wrong field) shows.
    const Circuit c = read("options\nR1 a 0 1\n.tran 1u 1m\n"
                           ".options reltol=2e-4 abstol=3e-13 vntol=4e-7 trtol=5 itl4=60 itl1=70 itl2=80\n"
                           "+ method=euler solver=eigen chgtol=6e-15 eventtol=7e-12 points=all\n");
    EXPECT_DOUBLE_EQ(c.options.reltol, 2e-4);
    EXPECT_DOUBLE_EQ(c.options.abstol, 3e-13);
    EXPECT_DOUBLE_EQ(c.options.vntol, 4e-7);
    EXPECT_DOUBLE_EQ(c.options.trtol, 5.0);
    EXPECT_EQ(c.options.maxNewtonIterations, 60);
    EXPECT_EQ(c.options.operatingPointIterations, 70);
    EXPECT_EQ(c.options.steppingIterations, 80);
    EXPECT_EQ(c.options.method, Options::Method::BackwardEuler);
    EXPECT_EQ(c.options.solver, "eigen");
    EXPECT_DOUBLE_EQ(c.options.chgtol, 6e-15);
    EXPECT_TRUE(c.options.printAllPoints);
    EXPECT_DOUBLE_EQ(c.options.eventTolerance, 7e-12);

    // The README's list of options is the one above.
    std::ifstream readme(README_PATH);
    ASSERT_TRUE(readme) << README_PATH;
    std::stringstream text;
    text << readme.rdbuf();
    const std::string all = text.str();
    const std::string marker = "`.options ";
    const size_t start = all.find(marker);
    ASSERT_NE(start, std::string::npos);
    const size_t end = all.find('`', start + 1);
    ASSERT_NE(end, std::string::npos);
    std::istringstream words(all.substr(start + marker.size(), end - start - marker.size()));
    std::set<std::string> documented;
    for (std::string word; words >> word;) documented.insert(word.substr(0, word.find('=')));
    EXPECT_EQ(documented, (std::set<std::string>{"reltol", "abstol", "vntol", "trtol", "itl1", "itl2", "itl4",
                                                 "method", "solver", "chgtol", "eventtol", "points"}));
}
