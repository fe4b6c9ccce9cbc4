#include <gtest/gtest.h>

#include <random>

#include "fake_catalogue.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_reader.h"

using namespace udmhost;

namespace {

const char* kHeader = "test circuit\n.plugin sw sw.so\n.tran 1u 1m\n";  // lines 1-3

struct BadCase {
    const char* lines;     // appended from line 4 on
    const char* message;   // expected "net.cir:LINE:COLUMN: message"
};

// The message of reading a netlist that must fail.
std::string failure(const std::string& text) {
    try {
        readNetlist(text, "net.cir", ".", hosttest::FakeLoader{});
    } catch (const NetlistError& error) {
        return error.what();
    }
    return "(no error)";
}

}  // namespace

TEST(NetlistErrors, NameThePlaceAndWhatWasExpected) {
    const BadCase cases[] = {
        {"R1 a 0 1k\n.print V(b)\n", "net.cir:5:10: unknown node b"},
        {"Y1 a 0 b sw\n", "net.cir:4:4: plug-in sw has 4 terminals, 3 given"},
        {"Y1 a 0 b 0 sw VTRESH=1\n", "net.cir:4:15: unknown parameter VTRESH, did you mean VTHRES?"},
        {"Y1 a 0 b 0 sw RON=1 ron=2\n", "net.cir:4:21: parameter RON is given twice"},
        {"Y1 a 0 b 0 sw RON={max(1,2)}\n",
         "net.cir:4:19: the value of RON contains a comma, which cannot be passed to the plug-in"},
        {"Y1 a 0 b 0 relay\n", "net.cir:4:12: unknown plug-in relay (no .plugin line defines it)"},
        {"J1 a b c\n", "net.cir:4:1: unknown element J1: JFETs are not supported; expected R, C, L, K, V, I, B, D, E, F, G, H, "
                      "M, Q, S, W, X or Y (plug-in instance)"},
        {"Q1 a b c\n", "net.cir:4:9: expected collector, base, emitter (and substrate) nodes and an NPN or PNP model name at the end of the line"},
        {"R1 a 0\n", "net.cir:4:7: expected the value of R1 at the end of the line"},
        {"R1 a 0 abc\n",
         "net.cir:4:8: expected the value of R1 (a number, a .param name or {expression}), found 'abc'"},
        {"R1 a 0 0\n", "net.cir:4:8: a resistance of zero; use a voltage source of 0 V for a short"},
        {"R1 a 0 1k 2k\n", "net.cir:4:11: expected m=value, found '2k'"},
        {"R1 a 0 1k\nr1 b 0 1k\n", "net.cir:5:1: element r1 is already defined at line 4"},
        {"C1 a 0 1u IX=2\n", "net.cir:4:11: expected IC=value or m=value, found 'IX'"},
        {"R1 a 0 {2*(1+}\n", "net.cir:4:8: cannot evaluate {2*(1+}: Unexpected end of expression at position 6"},
        {"R1 a 0 {1k\n", "net.cir:4:8: '{' without a closing '}'"},
        {"R1 a 0 {zz}\n", "net.cir:4:8: cannot evaluate {zz}: unknown name zz"},
        {"V1 a 0 PULSE(1)\n", "net.cir:4:8: PULSE takes 2 to 8 values (v1 v2 td tr tf pw per np), 1 given"},
        {"V1 a 0 PULSE(0 1 -1u)\n", "net.cir:4:18: PULSE times must not be negative"},
        {"V1 a 0 PWL(0 0 2m 1 1m 2)\n", "net.cir:4:21: PWL times must not decrease"},
        {"V1 a 0 PWL(0 0 2m)\n", "net.cir:4:8: PWL takes pairs of time and value, 3 values given"},
        {"V1 a 0 SIN(0 1 1k\n", "net.cir:4:18: expected a value or ')' at the end of the line"},
        {"R1 a 0 1\n.print I(R1)\n", "net.cir:5:10: I() needs a voltage source or an inductor, R1 is a resistor"},
        {"R1 a 0 1\nY1 a 0 a 0 sw\n.print Y1:STAT\n", "net.cir:6:11: plug-in sw has no output STAT, did you mean STATE?"},
        {"R1 a 0 1\n.print R1:STATE\n", "net.cir:5:8: R1 is a resistor, not a plug-in instance"},
        {"R1 a 0 1\n.print out\n", "net.cir:5:8: expected V(node), I(Vname) or Yname:OUTPUT, found 'out'"},
        {"R1 a 0 1\n.options method=rk4\n", "net.cir:5:17: method must be trap, euler or gear"},
        {"R1 a 0 1\n.prob V(a)\n", "net.cir:5:1: unknown directive .prob, did you mean .probe?"},
        {"R1 a 0 1\n.plugn x y.so\n", "net.cir:5:1: unknown directive .plugn, did you mean .plugin?"},
        {".plugin sw other_sw.so\n", "net.cir:4:9: plug-in sw is already defined at line 2"},
        {".plugin nope missing.so\n", "net.cir:4:14: cannot load plug-in: ./missing.so: no such file"},
        {"5 a 0 1\n", "net.cir:4:1: unknown element 5: expected R, C, L, K, V, I, B, D, E, F, G, H, M, Q, S, W, X or Y "
                     "(plug-in instance)"},
    };
    for (const BadCase& c : cases) EXPECT_EQ(failure(std::string(kHeader) + c.lines), c.message) << c.lines;
}

TEST(NetlistErrors, WholeNetlistProblems) {
    EXPECT_EQ(failure("t\nR1 a 0 1\n"), "net.cir:2:1: no .tran line: a transient analysis needs .tran TSTEP TSTOP");
    EXPECT_EQ(failure("t\n.tran 1u 1m\n"), "net.cir:1:1: the netlist has no elements");
    EXPECT_EQ(failure("t\n+ R1 a 0 1\n.tran 1 2\n"), "net.cir:2:1: continuation line '+' with no line to continue");
    EXPECT_EQ(failure("t\n.tran 1u 1m 2m\nR1 a 0 1\n"), "net.cir:2:13: TSTART must lie from 0 up to TSTOP");
}

// Mangled netlists end in a NetlistError, never in anything else.
TEST(NetlistErrors, MangledInputNeverCrashes) {
    const std::string good =
        "osc\n.param r=1k\n.plugin sw sw.so\nV1 in 0 PULSE(0 5 1u 1n 1n 5u 10u)\nR1 in cap {r*2}\n"
        "C1 cap 0 1u IC=0\nY1 cap 0 cap 0 sw VTHRES=2.5 RON=1\n+ CTRL0=1\n.tran 1u 1m UIC\n"
        ".print tran V(cap) Y1:STATE I(V1)\n.options reltol=1e-3\n.end\n";
    const std::string alphabet = "(){}=,+*-. \n\tabcVRY0129:;$";
    std::mt19937 random(12345);
    int errors = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text = good;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % text.size();
            switch (random() % 3) {
                case 0: text.erase(at, 1 + random() % 3); break;
                case 1: text.insert(at, 1, alphabet[random() % alphabet.size()]); break;
                default: text[at] = alphabet[random() % alphabet.size()]; break;
            }
        }
        try {
            readNetlist(text, "m.cir", ".", hosttest::FakeLoader{});
        } catch (const NetlistError& error) {
            ++errors;
            EXPECT_NE(std::string(error.what()).find("m.cir:"), std::string::npos);
        } catch (const std::exception& error) {
            ADD_FAILURE() << "unexpected " << error.what() << " for\n" << text;
        }
    }
    EXPECT_GT(errors, 100);  // the mangling does reach the error paths
}
