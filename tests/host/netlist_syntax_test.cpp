// SPICE syntax as published circuits use it: switch models, source forms,
// comments and control blocks, .param order.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>
#include <utility>

#include "fake_catalogue.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_reader.h"
#include "sim/waveform_eval.h"

using namespace udmhost;

namespace {

Circuit read(const std::string& text, std::vector<std::string>* requested = nullptr) {
    return readNetlist(text, "net.cir", "/circuits", hosttest::FakeLoader{requested}, {{"vcswitch", "/lib/sw.so"}});
}

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

// The control voltages at which the plug-in closes (VTHRES+VHYST) and opens
// (VTHRES-VHYST), from an S switch's definition text.
std::pair<double, double> plugInEdges(const Element& e) {
    std::vector<double> fields;
    std::stringstream text(e.definitionText);
    for (std::string field; std::getline(text, field, ',');) fields.push_back(std::stod(field));
    if (fields.size() != 5) throw std::runtime_error("not five fields: " + e.definitionText);
    return {fields[2] + fields[3], fields[2] - fields[3]};
}

size_t notesAbout(const Circuit& c, const std::string& word) {
    size_t count = 0;
    for (const std::string& note : c.notes) count += note.find(word) != std::string::npos ? 1 : 0;
    return count;
}

}  // namespace

// Catalogue order RON, ROFF, VTHRES, VHYST, CTRL0 with SPICE's defaults,
// not the plug-in's (1e-3, 1e9).
TEST(SpiceSyntax, SwitchModelsMapOntoThePlugInWithSpiceDefaults) {
    std::vector<std::string> requested;
    const Circuit c = read(R"(t
S1 a 0 c 0 plain
s2 a 0 0 c full ON
S3 a b c 0 full off
.model plain SW
.model full sw(vt=0.5 VH=-0.2 ron=10 roff=1meg)
R1 a b 1
V1 c 0 1
.tran 1u 1m
)",
                           &requested);
    EXPECT_EQ(requested, (std::vector<std::string>{"/lib/sw.so"}));  // loaded once, from --plugin vcswitch=
    // SPICE compares strictly: with VH the plug-in's edges lie just outside
    // VT+VH and VT-VH, so a control on them holds the state; without, VT
    // itself counts as open.
    const auto [closeAt, openAt] = plugInEdges(element(c, "S1"));
    EXPECT_GT(closeAt, 0.0);
    EXPECT_LT(closeAt, 1e-300);
    EXPECT_GE(openAt, 0.0);
    EXPECT_EQ(element(c, "S1").definitionText.substr(0, 16), "1,1000000000000,");
    for (const char* name : {"s2", "S3"}) {
        const auto [close, open] = plugInEdges(element(c, name));  // |VH|: 0.7 and 0.3
        EXPECT_GT(close, 0.7) << name;
        EXPECT_LT(close, 0.7 + 1e-15) << name;
        EXPECT_LT(open, 0.3) << name;
        EXPECT_GT(open, 0.3 - 1e-15) << name;
    }
    EXPECT_EQ(element(c, "s2").definitionText.substr(0, 14), "10,1000000,0.5");
    EXPECT_EQ(element(c, "s2").definitionText.back(), '1');
    EXPECT_EQ(element(c, "S3").definitionText.back(), '0');
    EXPECT_EQ(element(c, "s2").nodes, (std::vector<int>{1, 0, 0, 2}));
    EXPECT_EQ(element(c, "S3").kind, Element::Kind::Plugin);
    EXPECT_EQ(notesAbout(c, "rests exactly on VT"), 1u);  // once, not per switch
    EXPECT_EQ(notesAbout(c, "net.cir:6:26: warning: a negative hysteresis"), 1u);

    const std::string header = "t\nR1 a 0 1\n.tran 1u 1m\n";  // lines 1-3
    EXPECT_EQ(failure(header + "S1 a 0 c 0 nosuch\n"), "net.cir:4:12: unknown model nosuch (no .model line defines it)");
    EXPECT_EQ(failure(header + "S1 a 0 c 0 dm\n.model dm D(is=1f)\n"), "net.cir:4:12: model dm is of type d, expected sw");
    EXPECT_EQ(failure(header + "S1 a 0 c 0 m1 on2\n.model m1 sw\n"), "net.cir:4:15: expected ON or OFF, found 'on2'");
    EXPECT_EQ(failure(header + ".model m1 sw(vth=1)\n"), "net.cir:4:14: a sw model has no parameter vth, did you mean vt?");
    EXPECT_EQ(failure(header + "W1 a 0 V1 plain\nV1 a 0 1\n.model plain sw\n"),
              "net.cir:4:11: model plain is of type sw, expected csw");

    // W: an S switch whose control is the sensed current, 1 V per ampere,
    // on a node of its own made by a current-controlled source.
    const Circuit w = read("t\nW1 out 0 Vsense wm ON\nVsense a 0 0\nR1 out 0 1\n.model wm csw(it=1m ih=0.2m)\n"
                           ".tran 1u 1m\n");
    const Element& sensor = element(w, "H#W1");
    EXPECT_EQ(sensor.kind, Element::Kind::CurrentControlledVoltage);
    EXPECT_EQ(w.elements.at(static_cast<size_t>(sensor.control)).name, "Vsense");
    EXPECT_DOUBLE_EQ(sensor.value, 1.0);
    EXPECT_EQ(element(w, "W1").nodes, (std::vector<int>{1, 0, sensor.nodes[0], 0}));
    EXPECT_EQ(element(w, "W1").definitionText, "1,1000000000000,0.001,0.0002000000000000003,1");  // IH a step wider
    EXPECT_EQ(failure(header + "S1 a 0 c\n"), "net.cir:4:9: expected node nc- of S1 at the end of the line");
}

TEST(SpiceSyntax, SourceFormsWithAndWithoutParentheses) {
    const Circuit c = read(R"(t
V1 1 0 PULSE 0 5 1u 1n 1n 5u 10u
V2 2 0 pulse(0 5 1u 1n 1n 5u 10u)
V3 3 0 DC 2 AC 1 0 PWL 0 0 1m 1
V4 4 0 0.5 SIN(0 1 1k 0 0 90)
V5 5 0 EXP(0 1 1u 2u)
V6 6 0 PWL(0 0 1u 1 2u 0) r=0 td=1u
V7 7 0 AC 1 DC 3
R1 1 0 1
.tran 1u 6u
)");
    EXPECT_EQ(element(c, "V1").waveform.args, element(c, "V2").waveform.args);
    EXPECT_EQ(element(c, "V3").waveform.kind, Waveform::Kind::Pwl);
    EXPECT_DOUBLE_EQ(element(c, "V3").waveform.dc, 2.0);
    EXPECT_DOUBLE_EQ(element(c, "V7").value, 3.0);
    EXPECT_EQ(element(c, "V7").waveform.kind, Waveform::Kind::Dc);
    EXPECT_EQ(notesAbout(c, "AC values"), 1u);

    // SIN phase in degrees: a cosine, also before the delay.
    const Waveform& sine = element(c, "V4").waveform;
    EXPECT_NEAR(sim::waveformValue(sine, 0.0), 1.0, 1e-12);
    EXPECT_NEAR(sim::waveformValue(sine, 0.25e-3), 0.0, 1e-12);
    EXPECT_NEAR(sim::waveformValue(sine, 0.5e-3), -1.0, 1e-12);
    // EXP: td2 defaults to td1 + TSTEP, tau2 to TSTEP.
    const Waveform& rise = element(c, "V5").waveform;
    EXPECT_EQ(rise.args, (std::vector<double>{0, 1, 1e-6, 2e-6, 2e-6, 1e-6}));
    EXPECT_NEAR(sim::waveformValue(rise, 2e-6), 1.0 - std::exp(-0.5), 1e-12);
    EXPECT_NEAR(sim::waveformValue(rise, 3e-6), (1.0 - std::exp(-1.0)) - (1.0 - std::exp(-1.0)), 1e-12);
    // PWL repeated from r=0 and delayed by td: a triangle of 2 us from 1 us on.
    const Waveform& triangle = element(c, "V6").waveform;
    for (const auto& [t, v] : std::vector<std::pair<double, double>>{
             {0.5e-6, 0.0}, {2e-6, 1.0}, {2.5e-6, 0.5}, {4e-6, 1.0}, {5.5e-6, 0.5}, {6e-6, 1.0}})
        EXPECT_NEAR(sim::waveformValue(triangle, t), v, 1e-9) << t;

    const std::string header = "t\nR1 a 0 1\n.tran 1u 1m\n";
    EXPECT_EQ(failure(header + "V1 a 0 PULSE 0 5 PWL 0 1\n"), "net.cir:4:18: V1 has a second time function");
    EXPECT_EQ(failure(header + "V1 a 0 PWL(0 0 1u 1) r=5u\n"),
              "net.cir:4:8: r= must be one of the PWL times, from which the rest repeats");
    EXPECT_EQ(failure(header + "V1 a 0 DC 0 TRNOISE(1m 1u 0 0)\n"),
              "net.cir:4:13: V1: TRNOISE sources (random) are not supported; use PULSE, SIN, PWL, EXP, SFFM or AM");
}

// What published files carry and SPICE reads: a .pss (skipped, as every
// analysis but .tran), "DC=" and "AC=", parameters after a card's ')' or
// no ')' at all, a card repeated, a subcircuit defined twice (the first
// holds), pwr and limit in parameters, a TABLE's points in one more pair of
// parentheses, a Ctrl-Z after the last line.
TEST(SpiceSyntax, QuirksOfPublishedFilesReadAsSpiceReadsThem) {
    const std::string deck = R"(t
.subckt r 1 2
R1 1 2 1k
.model sm sw(vt=1)
.ends
.subckt r 1 2
R1 1 2 2k
.model sm sw(vt=2)
.ends
V1 a 0 dc=2 ac=1 sin(0 1 1k)
X1 a 0 r
.model sm sw(vt=1)
+ vh=0.5
.MODEL sm SW(VT=1)
+ VH=0.5
S1 a 0 a 0 sm
R2 a 0 {-pwr(-8, 1/3) * limit(5, 0, 1) * 1k}
G1 a 0 TABLE {V(a)} ((-2,-1m)((-1,-1m)(0,0)(1,1m))
S2 a 0 a 0 open
.model open sw(vt=2
.pss 1k 1m a 10
.tran 1u 1m
.end
)";
    const Circuit c = read(deck + "\x1a\r\n");
    EXPECT_DOUBLE_EQ(element(c, "V1").waveform.dc, 2.0);
    EXPECT_EQ(element(c, "V1").waveform.kind, Waveform::Kind::Sin);
    EXPECT_DOUBLE_EQ(element(c, "R.X1.R1").value, 1000.0);
    EXPECT_NEAR(plugInEdges(element(c, "S1")).first, 1.5, 1e-12);
    EXPECT_NEAR(plugInEdges(element(c, "S1")).second, 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(plugInEdges(element(c, "S2")).first, 2.0);
    EXPECT_EQ(notesAbout(c, "model open: no ')' closes its parameters"), 1u);
    EXPECT_DOUBLE_EQ(element(c, "R2").value, 2000.0);
    EXPECT_NE(element(c, "G1").expression, nullptr);
    EXPECT_EQ(notesAbout(c, ".pss ignored"), 1u);
    EXPECT_EQ(notesAbout(c, "model sm"), 0u);  // repeated as it was
    EXPECT_EQ(notesAbout(c, "net.cir:6:9: warning: subcircuit r is already defined at line 2; this definition is ignored"),
              1u);
    // A Ctrl-Z with text after it is no end-of-file mark.
    EXPECT_EQ(failure("t\nR1 a 0 1\n\x1a.tran 1u 1m\n"),
              "net.cir:3:1: control character 0x1a in the netlist; names and values are printable text");
}

// A .model card inside a subcircuit is that subcircuit's own: vendor files
// give each part the same model names. Its lines see it first, then those of
// the subcircuits it sits in, then the netlist's; of the same name twice in
// one scope the first holds, as in SPICE (a warning when the two differ).
TEST(SpiceSyntax, ModelCardsInsideSubcircuitsAreTheirOwn) {
    const Circuit c = read(R"(t
.subckt a 1 2
S1 1 2 1 2 sm
.model sm sw(vt=1)
Xin 1 2 b
.ends
.subckt b 1 2
S1 1 2 1 2 sm
.model sm sw(vt=2)
.ends
.subckt plain 1 2
S1 1 2 1 2 sm
.ends
.model sm sw(vt=3)
V1 n 0 1
X1 n 0 a
X2 n 0 b
X3 n 0 plain
S1 n 0 n 0 sm
.tran 1u 1m
)");
    EXPECT_DOUBLE_EQ(plugInEdges(element(c, "S.X1.S1")).first, 1.0);
    EXPECT_DOUBLE_EQ(plugInEdges(element(c, "S.X1.Xin.S1")).first, 2.0);
    EXPECT_DOUBLE_EQ(plugInEdges(element(c, "S.X2.S1")).first, 2.0);
    EXPECT_DOUBLE_EQ(plugInEdges(element(c, "S.X3.S1")).first, 3.0);
    EXPECT_DOUBLE_EQ(plugInEdges(element(c, "S1")).first, 3.0);
    const Circuit twice = read("t\n.subckt a 1 2\nS1 1 2 1 2 m\n.model m sw(vt=4)\n.model m sw(vt=5)\n.ends\n"
                               "X1 n 0 a\nV1 n 0 1\n.tran 1u 1m\n");
    EXPECT_DOUBLE_EQ(plugInEdges(element(twice, "S.X1.S1")).first, 4.0);
    EXPECT_EQ(notesAbout(twice, "net.cir:5:8: warning: model m is already defined at line 4 with other parameters; "
                                "this definition is ignored, as in SPICE"),
              1u);
}

// ... and it is read for each instance, in its scope: a maker's card takes
// the instance's parameters (from the .subckt line or a .param inside). One
// in a subcircuit the netlist never uses is never read, as in SPICE.
TEST(SpiceSyntax, ModelCardsInsideSubcircuitsReadTheInstanceParameters) {
    const Circuit c = read(R"(t
.subckt part 1 2 params: vt=1
.param twice={2*vt}
S1 1 2 1 2 sm
.model sm sw(vt={twice})
.ends
.subckt unused 1 2
.model broken sw(vt={nowhere})
.ends
V1 n 0 1
X1 n 0 part vt=1.5
X2 n 0 part
.tran 1u 1m
)");
    EXPECT_DOUBLE_EQ(plugInEdges(element(c, "S.X1.S1")).first, 3.0);
    EXPECT_DOUBLE_EQ(plugInEdges(element(c, "S.X2.S1")).first, 2.0);
}

// `.tran TSTOP` and a TSTEP of 0: rows every thousandth of the span, and a
// PULSE edge given as 0 a millionth of it, not a chosen step's length (it
// would overrun this pulse train's 10 us period).
TEST(SpiceSyntax, TranWithoutTstepChoosesItFromTheSpan) {
    for (const char* line : {".tran 10m\n", ".tran 0 10m UIC\n", ".tran 0 12m 2m 1u\n"}) {
        SCOPED_TRACE(line);
        const Circuit c = read(std::string("t\nV1 a 0 PULSE(0 1 0 0 0 5u 10u)\nR1 a 0 1\n") + line);
        EXPECT_NEAR(c.tran.stop - c.tran.start, 10e-3, 1e-15);
        EXPECT_NEAR(c.tran.step, 10e-6, 1e-18);
        const auto& pulse = element(c, "V1").waveform.args;
        EXPECT_NEAR(pulse[3], 10e-9, 1e-21);
        EXPECT_NEAR(pulse[4], 10e-9, 1e-21);
        EXPECT_EQ(notesAbout(c, "no TSTEP"), 1u);
    }
    // With a TSTEP, SPICE's zero edge: TSTEP itself.
    EXPECT_NEAR(element(read("t\nV1 a 0 PULSE(0 1 0 0 0 5u 10u)\nR1 a 0 1\n.tran 1u 1m\n"), "V1").waveform.args[3], 1e-6,
                1e-18);
    EXPECT_EQ(failure("t\nR1 a 0 1\n.tran -1u 1m\n"), "net.cir:3:7: TSTEP must not be negative");
}

// A .print expression is left out with a warning, the other items printed.
TEST(SpiceSyntax, PrintExpressionsAreLeftOut) {
    const Circuit c = read("t\nR1 a 0 1\n.tran 1u 1m\n.print tran {V(a)+0.2} V(a)\n");
    ASSERT_EQ(c.prints.size(), 1u);
    EXPECT_EQ(c.prints[0].label, "V(a)");
    EXPECT_EQ(notesAbout(c, "net.cir:4:13: warning: {V(a)+0.2}: expressions are not printed; left out"), 1u);
    // A .print of another analysis is skipped as that analysis is; a source
    // without a value is 0 V.
    const Circuit d = read("t\nV1 a b\nR1 b 0 1\nI1 0 a 1m\n.tran 1u 1m\n.print dc V(a)\n.print tran V(b)\n");
    ASSERT_EQ(d.prints.size(), 1u);
    EXPECT_EQ(d.prints[0].label, "V(b)");
    EXPECT_EQ(notesAbout(d, "net.cir:6:8: warning: .print dc skipped"), 1u);
    EXPECT_EQ(element(d, "V1").waveform.dc, 0.0);
    EXPECT_EQ(notesAbout(d, "net.cir:2:7: warning: V1 has no value: 0, as in SPICE"), 1u);
}

TEST(SpiceSyntax, CommentsQuotesControlBlocksAndMultipliers) {
    const Circuit c = read(R"(t
.param k=2
R1 a 0 1k m=4 ; four in parallel
R2 a b '3*k' // quoted expression
C1 b 0 1u m=k ic=1
L1 b 0 1m m=2
R3 c 0 {k *
+ 5 ; a braced value goes on over '+' lines
+ }
.meas tran half PARAM='1/2'
.control
let x = {unbalanced
plot v(a)
.endc
.save v(a)
.save v(b)
.probe v(a)
.options noacct post=2 reltol=1e-4
.opt abstol=1e-10; glued to its value
R4 c 0 2µ
.temp 50
.ac dec 10 1 1meg
.plot tran V(a)
.tran 1u 1m
)");
    EXPECT_EQ(c.prints.size(), 1u);  // .plot as .print
    EXPECT_EQ(notesAbout(c, ".ac ignored"), 1u);
    EXPECT_DOUBLE_EQ(element(c, "R1").value, 250.0);
    EXPECT_DOUBLE_EQ(element(c, "R2").value, 6.0);
    EXPECT_DOUBLE_EQ(element(c, "C1").value, 2e-6);
    EXPECT_DOUBLE_EQ(element(c, "C1").initialCondition, 1.0);
    EXPECT_DOUBLE_EQ(element(c, "L1").value, 0.5e-3);
    EXPECT_DOUBLE_EQ(c.options.reltol, 1e-4);
    EXPECT_DOUBLE_EQ(element(c, "R3").value, 10.0);
    EXPECT_DOUBLE_EQ(c.options.abstol, 1e-10);
    EXPECT_DOUBLE_EQ(element(c, "R4").value, 2e-6);  // the micro sign
    EXPECT_EQ(c.elements.size(), 6u);
    EXPECT_TRUE(c.measurements.empty());
    EXPECT_EQ(notesAbout(c, "net.cir:10:17: warning: .meas half PARAM"), 1u);
    EXPECT_EQ(notesAbout(c, ".control"), 1u);
    EXPECT_EQ(notesAbout(c, ".save ignored"), 1u);  // once for both lines
    EXPECT_EQ(notesAbout(c, ".probe ignored"), 1u);
    EXPECT_EQ(notesAbout(c, ".temp"), 1u);
    EXPECT_EQ(notesAbout(c, "net.cir:18:10: warning: options not used by udmhost, ignored: noacct, post"), 1u);
    EXPECT_EQ(failure("t\nR1 a 0 1k m=0\n.tran 1u 1m\n"), "net.cir:2:13: m must be positive");
    EXPECT_EQ(failure("t\nR1 a 0 '1k\n.tran 1u 1m\n"), "net.cir:2:8: a quoted expression without its closing quote");
    EXPECT_EQ(failure("t\nR1 a 0 {1k\n.tran 1u 1m\n"), "net.cir:2:8: '{' without a closing '}'");
    EXPECT_EQ(failure("t\nR1 a 0 {1k\n+ *2\n"), "net.cir:2:8: '{' without a closing '}'");
}

TEST(SpiceSyntax, ParamsEvaluateInDependencyOrderAndRefuseCycles) {
    const Circuit c = read(R"(t
.param total={a+b} a=1k
.param b='2*a'
R1 x 0 total
.tran 1u 1m
)");
    EXPECT_DOUBLE_EQ(c.params.at("total"), 3000.0);
    EXPECT_DOUBLE_EQ(element(c, "R1").value, 3000.0);

    // A long chain written backwards: each line needs the one below it.
    std::string chain = "t\n";
    const int length = 6000;
    for (int i = 0; i < length; ++i) chain += ".param p" + std::to_string(i) + "={p" + std::to_string(i + 1) + "+1}\n";
    chain += ".param p" + std::to_string(length) + "=0\nR1 x 0 {p0}\n.tran 1u 1m\n";
    EXPECT_DOUBLE_EQ(element(read(chain), "R1").value, length);

    EXPECT_EQ(failure("t\n.param x=1\n.param a={b+1}\n.param b={c*2} c={a}\nR1 x 0 1\n.tran 1u 1m\n"),
              "net.cir:3:8: parameter a depends on itself (a -> b -> c -> a); give one of them a value");
    // .func, also inside other functions and in .param values.
    const Circuit f = read(R"(t
.func half(x) {x/2}
.func par(a, b) = 'a*b/(a+b)'
.param rp={par(r1, half(r1))} r1=3k
R1 x 0 {half(par(2, 2))}
R2 x 0 rp
.tran 1u 1m
)");
    EXPECT_DOUBLE_EQ(element(f, "R1").value, 0.5);
    EXPECT_DOUBLE_EQ(element(f, "R2").value, 1000.0);
    EXPECT_EQ(failure("t\n.func half(x) {x/2}\nR1 x 0 {half(1, 2)}\n.tran 1u 1m\n"),
              "net.cir:3:8: cannot evaluate {half(1, 2)}: half takes 1 arguments, 2 given");
    EXPECT_EQ(failure("t\n.func f(x) {f(x)}\nR1 x 0 {f(1)}\n.tran 1u 1m\n"),
              "net.cir:3:8: cannot evaluate {f(1)}: a function calls itself");
    EXPECT_EQ(failure("t\n.param a={a}\nR1 x 0 1\n.tran 1u 1m\n"),
              "net.cir:2:8: parameter a depends on itself (a -> a); give one of them a value");
}
