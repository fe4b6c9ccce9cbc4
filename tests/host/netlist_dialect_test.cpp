// Netlists as they are published for ngspice: model cards written in its
// looser forms, DC with no value, several .tran lines, SFFM and AM sources,
// named and behavioural values, a tran command in .control.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>

#include "fake_catalogue.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_reader.h"
#include "sim/simulator.h"
#include "sim/waveform_eval.h"

using namespace udmhost;

namespace {

Circuit read(const std::string& text) {
    return readNetlist(text, "net.cir", "/circuits", hosttest::FakeLoader{nullptr}, {{"vcswitch", "/lib/sw.so"}});
}

const Element& element(const Circuit& c, const std::string& name) {
    for (const Element& e : c.elements)
        if (e.name == name) return e;
    throw std::runtime_error("no element " + name);
}

}  // namespace

// Every form reads as RON 0.001, ROFF 1meg, VT 2.5, VH 0.5, in plug-in order
// RON, ROFF, VTHRES, VHYST, CTRL0 (VH a step wider, so that the plug-in's
// edges lie just outside SPICE's 3 and 2).
TEST(NgspiceDialect, ModelCardForms) {
    const std::vector<std::string> cards = {
        ".model sw1 SW(RON 0.001 ROFF 1meg VT 2.5 VH 0.5)",
        ".model sw1 SW(RON=0.001, ROFF=1meg, VT=2.5, VH=0.5)",
        ".model sw1 SW(RON = 0.001 ROFF= 1meg VT =2.5 VH=0.5)",
        ".MODEL SW1 sw (\n+ ron=0.001\n+ roff=1meg vt=2.5\n+ vh=0.5 )",
        ".model sw1 SW(RON=0.001 ROFF=1meg\n+ VT=2.5 VH=0.5\n)",
        ".model sw1 sw ron=0.001 roff=1meg vt=2.5 vh=0.5",
        ".model Sw1 SW RON 0.001 ROFF 1meg VT 2.5 VH 0.5",
    };
    for (const std::string& card : cards) {
        const Circuit c = read("t\nS1 a 0 c 0 sW1\nR1 a 0 1\nV1 c 0 1\n" + card + "\n.tran 1u 1m\n");
        EXPECT_EQ(element(c, "S1").definitionText, "0.001,1000000,2.5,0.5000000000000004,0") << card;
    }
    // A name without a value is still an error, where it stands.
    try {
        read("t\nS1 a 0 c 0 sw1\nR1 a 0 1\nV1 c 0 1\n.model sw1 SW(RON 1 ROFF)\n.tran 1u 1m\n");
        ADD_FAILURE() << "no error";
    } catch (const NetlistError& error) {
        EXPECT_STREQ(error.what(), "net.cir:5:25: expected a value for ROFF, found ')'");
    }
}

// "DC" with no value before a time function is DC 0; of several .tran
// lines the last one is run and the others are named in a warning.
TEST(NgspiceDialect, DcWithoutValueAndSeveralTranLines) {
    const Circuit c = read("t\n.tran 1u 1m\nVin nin 0 DC pwl 0 0 50u 5V\nV2 b 0 dc 1.5 SIN(0 1 1k)\nR1 nin b 1\n"
                           ".tran 2u 3m 0 5u\n");
    const Element& vin = element(c, "Vin");
    EXPECT_EQ(vin.waveform.kind, Waveform::Kind::Pwl);
    EXPECT_EQ(vin.waveform.dc, 0.0);
    EXPECT_DOUBLE_EQ(sim::waveformValue(vin.waveform, 25e-6), 2.5);
    EXPECT_EQ(element(c, "V2").waveform.dc, 1.5);
    EXPECT_DOUBLE_EQ(c.tran.step, 2e-6);
    EXPECT_DOUBLE_EQ(c.tran.stop, 3e-3);
    EXPECT_DOUBLE_EQ(c.tran.maxStep, 5e-6);
    ASSERT_EQ(c.notes.size(), 1u);
    EXPECT_EQ(c.notes[0], "net.cir:2:1: warning: an earlier .tran line, replaced by the one at line 6: only the "
                          "last .tran is run");
}

// Defaults filled in as ngspice does: a zero SFFM frequency or AM
// modulation frequency is one cycle per run.
TEST(NgspiceDialect, SffmAndAmDefaults) {
    const Circuit c = read("t\nV1 a 0 SFFM(0.5 2)\nV2 b 0 AM 1.5 0.5 0 2k\nR1 a b 1\n.tran 1u 4m\n");
    EXPECT_EQ(element(c, "V1").waveform.kind, Waveform::Kind::Sffm);
    EXPECT_EQ(element(c, "V1").waveform.args, (std::vector<double>{0.5, 2, 250, 0, 250, 0, 0}));
    EXPECT_EQ(element(c, "V2").waveform.kind, Waveform::Kind::Am);
    EXPECT_EQ(element(c, "V2").waveform.args, (std::vector<double>{1.5, 0.5, 250, 2000, 0, 0, 0}));
}

// R=, C= named values; a resistance of time or node voltages is the current
// v(n+,n-)/R (braced parameters inside it as parentheses); a capacitance of
// them is refused at its place. A deck whose only tran is in its .control
// block runs that one, with the options set before it there.
TEST(NgspiceDialect, NamedValuesBehaviouralResistorAndControlTran) {
    const std::string deck = "t\n.param Rload=100\nV1 a 0 1\nR1 a 0 r=1k m=2\nC1 a 0 c=1u\n"
                             "Rb a 0   R = (time<1m ? {Rload} : {2*Rload})\n"
                             ".control\noption reltol=1e-4\ntran 10u 2m\nrun\nplot v(a)\n.endc\n";
    const Circuit c = read(deck + ".print tran i(V1)\n");
    EXPECT_DOUBLE_EQ(element(c, "R1").value, 500.0);
    EXPECT_DOUBLE_EQ(element(c, "C1").value, 1e-6);
    EXPECT_EQ(element(c, "Rb").kind, Element::Kind::BehaviouralCurrent);
    EXPECT_DOUBLE_EQ(c.tran.step, 10e-6);
    EXPECT_DOUBLE_EQ(c.tran.stop, 2e-3);
    EXPECT_DOUBLE_EQ(c.options.reltol, 1e-4);
    ASSERT_FALSE(c.notes.empty());
    EXPECT_EQ(c.notes.back(), "net.cir:9:1: warning: no .tran line: the .control block's tran command is run as one");
    std::ostringstream messages;
    const SimulationOutput out = simulate(c, messages);
    ASSERT_FALSE(out.rows.empty());
    for (const auto& row : out.rows)
        if (std::abs(row[0] - 1e-3) > 1e-5) {
            EXPECT_NEAR(-row[1], 1.0 / 500 + (row[0] < 1e-3 ? 0.01 : 0.005), 1e-9) << row[0];
        }
    // A .tran line wins over the block's.
    EXPECT_DOUBLE_EQ(read(deck + ".tran 1u 1m\n").tran.stop, 1e-3);
    std::string error = "(no error)";
    try {
        read("t\nV1 a 0 1\nC2 a 0 C={1n*v(a)}\n.tran 1u 1m\n");
    } catch (const NetlistError& e) {
        error = e.what();
    }
    EXPECT_EQ(error, "net.cir:3:10: a capacitance that depends on time, node voltages or currents is not supported "
                     "(a resistance is)");
}

// As ngspice's memristor example writes it: a .func inside a subcircuit
// (its parameters the instance's), a braced call inside a quoted B
// expression, a resistance of a node voltage inside the subcircuit, and a
// 0 V source in series with a capacitor's IC=, whose voltage the UIC start
// carries on (before, R1 saw 0 V: "division by zero").
TEST(NgspiceDialect, SubcircuitFunctionsAndAResistanceOfAState) {
    const std::string sub = ".subckt mem p n k=2\n.func g(y)={k*y}\nBx 0 x I='v(p,n) > 1 ? {g(v(p,n))}*1m : 0'\n"
                            "Vx x x1 0\nCx x1 0 1 IC=1000\nR1 p n r={V(x)}\n.ends\n";
    const Circuit c = read("t\nV1 1 0 2\nX1 1 0 mem k=3\n" + sub + ".tran 1u 10u uic\n.print tran i(V1) v(X1.x)\n");
    std::ostringstream messages;
    const SimulationOutput out = simulate(c, messages);
    ASSERT_FALSE(out.rows.empty());
    EXPECT_DOUBLE_EQ(out.rows.front()[2], 1000.0);
    for (const auto& row : out.rows) {
        const double x = 1000.0 + 3 * 2 * 1e-3 * row[0];  // 6 mA into 1 F
        EXPECT_NEAR(row[2], x, 1e-9) << row[0];
        if (row[0] > 0.0) {  // the unsolved UIC row has no source currents
            EXPECT_NEAR(-row[1], 2.0 / x, 1e-12) << row[0];
        }
    }
    std::string error = "(no error)";
    try {
        read("t\nV1 1 0 2\nX1 1 0 mem\n" + sub + ".subckt two a\n.func g(y)={y}\nR1 a 0 1\n.ends\n.tran 1u 10u\n");
    } catch (const NetlistError& e) {
        error = e.what();
    }
    EXPECT_EQ(error, "net.cir:12:1: function g is already defined at line 5 (functions of subcircuits hold for the "
                     "whole netlist)");
}

// As eSim writes its decks: SINE for SIN, a resistor on a `.model R` card
// whose temperature coefficients change nothing at the nominal temperature;
// a maker's noiseless resistor at T_ABS=-273.15 without coefficients.
TEST(NgspiceDialect, SineAndResistorModels) {
    const Circuit c = read("t\nV1 s 0 sine(0 1 1k)\nR1 s 0 2k RMOD\nR2 s 0 3k tc1=0.01\n.model RMOD R TC1=.01\n"
                           "R3 s 0 4k QUIET\n.model QUIET RES(T_ABS=-273.15)\n.tran 1u 1m\n");
    EXPECT_DOUBLE_EQ(element(c, "R3").value, 4e3);  // noiseless: no coefficients, so no change
    EXPECT_EQ(element(c, "V1").waveform.kind, Waveform::Kind::Sin);
    EXPECT_DOUBLE_EQ(element(c, "R1").value, 2e3);
    EXPECT_DOUBLE_EQ(element(c, "R2").value, 3e3);
    ASSERT_EQ(c.notes.size(), 1u);  // one warning for both
    EXPECT_NE(c.notes[0].find("temperature coefficients not used"), std::string::npos) << c.notes[0];
    for (const auto& [line, message] : std::vector<std::pair<std::string, std::string>>{
             {"R1 s 0 1k NOPE\n", "net.cir:3:11: unknown resistor model NOPE for R1 (a .model NAME R card)"},
             {"R1 s 0 1k RSH\n.model RSH R RSH=10\n", "net.cir:4:18: resistor model RSH: rsh is not supported (only TC1, TC2, TCE)"},
             {"R1 s 0 1k HOT\n.model HOT R TC1=0.01 T_ABS=100\n",
              "net.cir:4:29: resistor model HOT: t_abs is not supported (only TC1, TC2, TCE, and T_ABS without them)"}}) {
        std::string error = "(no error)";
        try {
            read("t\nV1 s 0 1\n" + line + ".tran 1u 1m\n");
        } catch (const NetlistError& e) {
            error = e.what();
        }
        EXPECT_EQ(error, message);
    }
}

// E and G with VALUE= (PSpice's form) or vol=/cur= are B sources on their
// two nodes, inside a subcircuit too (the expression's nodes the instance's).
TEST(NgspiceDialect, BehaviouralEAndG) {
    const Circuit c = read("t\nV1 a 0 2\nV2 b 0 3\nEm m 0 VALUE={v(a)*v(b)}\nRm m 0 1\nX1 a g gsub\n"
                           ".subckt gsub in out\nGs 0 out cur='1m*v(in)'\nEv e 0 vol = {2*v(in)}\nRe e 0 1\nRo out 0 1k\n.ends\n"
                           ".tran 1u 10u\n.print tran v(m) v(g) v(X1.e)\n");
    EXPECT_EQ(element(c, "Em").kind, Element::Kind::BehaviouralVoltage);
    std::ostringstream messages;
    const SimulationOutput out = simulate(c, messages);
    ASSERT_FALSE(out.rows.empty());
    EXPECT_NEAR(out.rows.back()[1], 6.0, 1e-9);
    EXPECT_NEAR(out.rows.back()[2], 2.0, 1e-9);  // 2 mA into 1k
    EXPECT_NEAR(out.rows.back()[3], 4.0, 1e-9);
}
