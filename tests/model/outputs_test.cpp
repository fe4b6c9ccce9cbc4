// Mode 5 (output names) and mode 6 (output values).
#include <cmath>
#include <limits>

#include "model_fixture.h"

namespace modeltest {
namespace {

using Outputs = SwitchTest;

double indexOf(TestInstance& t, const char* name) {
    std::string text = name;
    double out = -1.0;
    EXPECT_EQ(t.call(UDM_MODE_OUTPUT_INDEX, text.data(), nullptr, &out), UDM_OK);
    return out;
}

TEST_F(Outputs, NamesResolveCaseSensitivelyAndInFull) {
    const char* names[] = {"STATE", "V", "I", "dV", "dI", "RON", "ROFF", "VTHRES", "VHYST", "CTRL0"};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(indexOf(t, names[i]), i + 1.0) << names[i];
    for (const char* other : {"state", "DI", "", "V ", " V", "RO", "CTRL0x", "N1"})
        EXPECT_EQ(indexOf(t, other), 0.0) << other;
}

TEST_F(Outputs, NullNameGivesZeroAndNullOutWritesNothing) {
    double out = -1.0;
    EXPECT_EQ(t.call(UDM_MODE_OUTPUT_INDEX, nullptr, nullptr, &out), UDM_OK);
    EXPECT_EQ(out, 0.0);
    char name[] = "V";
    EXPECT_EQ(t.call(UDM_MODE_OUTPUT_INDEX, name, nullptr, nullptr), UDM_OK);
    EXPECT_TRUE(t.allUnlocked());
}

class OutputValues : public SwitchTest {
protected:
    void SetUp() override {
        define("0.5,4,1,0.25,1");
        prepare();
        ASSERT_EQ(evaluate(1.0, 0.0, 3.0), UDM_OK);  // closed: conductance 2
        t.setNodeValues(5.0, 2.0, 3.0, 0.0);
        t.setNodeDerivatives(0.5, 2.0);
    }
    double value(double selector) {
        Simulation sim(0.0, 0.0, selector);
        double out = -99.0;
        EXPECT_EQ(t.call(UDM_MODE_OUTPUT_VALUE, nullptr, sim.get(), &out), UDM_OK) << selector;
        EXPECT_TRUE(t.allUnlocked());
        return out;
    }
};

TEST_F(OutputValues, EachIndexDeliversItsQuantity) {
    EXPECT_EQ(value(1), 1.0);
    EXPECT_EQ(value(2), 3.0);
    EXPECT_EQ(value(3), 6.0);
    EXPECT_EQ(value(4), -1.5);
    EXPECT_EQ(value(5), -3.0);
    EXPECT_EQ(value(6), 0.5);
    EXPECT_EQ(value(7), 4.0);
    EXPECT_EQ(value(8), 1.0);
    EXPECT_EQ(value(9), 0.25);
    EXPECT_EQ(value(10), 1.0);
}

TEST_F(OutputValues, StateAndCurrentFollowTheLatestEvaluationNotTheAcceptedOne) {
    ASSERT_EQ(evaluate(2.0, 0.0, -3.0), UDM_OK);  // opens, not accepted
    t.setNodeValues(5.0, 2.0, 0.0, 0.0);
    EXPECT_EQ(value(1), 0.0);
    EXPECT_EQ(value(3), 0.75);
}

TEST_F(OutputValues, SelectorIsTruncatedAndOnlyItsLow16BitsCount) {
    const double v = value(2);
    EXPECT_EQ(value(2.9), v);
    EXPECT_EQ(value(65536.0 + 3.0), value(3));
    EXPECT_EQ(value(-65535.0), value(1));  // ...0001 in two's complement
    EXPECT_EQ(value(4294967296.0 * 4096.0 + 7.0), value(7));
}

TEST_F(OutputValues, SelectorsOutsideTheTableGiveZero) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double s : {0.0, 11.0, -1.0, 0.9, 65535.0, 65536.0, std::nan(""), inf, -inf, 9223372036854775808.0,
                     -9223372036854775808.0, 1e300})
        EXPECT_EQ(value(s), 0.0) << s;
    // Just below 2^63 the low 16 bits of the integer decide: 2^63 - 1024 ends in 0xFC00.
    EXPECT_EQ(value(9223372036854774784.0), 0.0);
}

TEST_F(OutputValues, MissingVectorBlockLeavesOutAsItWasForEveryIndex) {
    HGLOBAL unlockable = unlockableHandle();
    const std::pair<HGLOBAL, int32_t> cases[] = {{nullptr, UDM_ERR_NULL_HANDLE}, {unlockable, UDM_ERR_LOCK_FAILED}};
    for (const auto& [handle, status] : cases) {
        t.withComponent([h = handle](udm::ComponentRecordView c) { c.setVectorBlock(h); });
        for (double index : {1.0, 2.0, 6.0, 7.0, 8.0, 9.0, 10.0}) {
            Simulation sim(0.0, 0.0, index);
            double out = 42.0;
            EXPECT_EQ(t.call(UDM_MODE_OUTPUT_VALUE, nullptr, sim.get(), &out), status) << index;
            EXPECT_EQ(out, 42.0) << index;
        }
        EXPECT_TRUE(t.allUnlocked());
        EXPECT_EQ(udmtest::lockCount(unlockable), 0u);
    }
    plugin().globalFree(unlockable);
}

TEST_F(OutputValues, NullOutStillReleasesTheVectorBlock) {
    Simulation sim(0.0, 0.0, 2.0);
    const auto vector = t.bytes(t.vector);
    EXPECT_EQ(t.call(UDM_MODE_OUTPUT_VALUE, nullptr, sim.get(), nullptr), UDM_OK);
    EXPECT_EQ(t.bytes(t.vector), vector);
    EXPECT_TRUE(t.allUnlocked());
}

}  // namespace
}  // namespace modeltest
