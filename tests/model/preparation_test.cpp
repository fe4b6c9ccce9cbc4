// Mode 2: expression registration and the matrix pattern; the expression
// exchange of mode 3 that builds on it.
#include <cmath>
#include <limits>

#include "model_fixture.h"

namespace modeltest {
namespace {

using vcswitch::kRoff;
using vcswitch::kVhyst;
using vcswitch::kVthres;

using Preparation = SwitchTest;

TEST_F(Preparation, NumericInstanceWritesOnlyThePatternAndCallsNoHost) {
    define("1,2,3,4,0");
    const auto vectorBefore = t.bytes(t.vector);
    const auto matrixBefore = t.bytes(t.matrix);
    prepare();
    EXPECT_TRUE(host.expressionCalls.empty());
    const auto matrix = t.bytes(t.matrix);
    const auto& l = t.layout();
    EXPECT_EQ((readArray<int32_t, 4>(matrix, l.rowIndex)), (std::array<int32_t, 4>{0, 0, 1, 1}));
    EXPECT_EQ((readArray<int32_t, 4>(matrix, l.colIndex)), (std::array<int32_t, 4>{0, 1, 0, 1}));
    expectOnlyChanged(matrixBefore, matrix, {{l.rowIndex, 16}, {l.colIndex, 16}}, "matrix block");
    EXPECT_EQ(t.bytes(t.vector), vectorBefore);
    EXPECT_TRUE(t.allUnlocked());
}

TEST_F(Preparation, ExpressionsAreRegisteredAndRefreshedInSlotOrderWithTheHostsIdentifiers) {
    host.registerReply = [](const std::string& text) -> std::array<double, 2> {
        return text == "roff" ? std::array<double, 2>{11.0, 12.0} : std::array<double, 2>{21.0, 22.0};
    };
    host.evaluateReply = [](double id1, double) { return id1 == 11.0 ? 1e6 : 0.25; };
    define("1m,roff,1,hyst,0");
    prepare();
    ASSERT_EQ(host.expressionCalls.size(), 2u);
    for (const auto& call : host.expressionCalls) {
        EXPECT_EQ(call.op, UDM_EXPR_REGISTER);
        EXPECT_FALSE(call.hasInput);
    }
    EXPECT_EQ(host.expressionCalls[0].text, "roff");
    EXPECT_EQ(host.expressionCalls[1].text, "hyst");
    const auto inst = instance();
    EXPECT_EQ(inst.slots[kRoff].exprId1, 11);
    EXPECT_EQ(inst.slots[kRoff].exprId2, 12);
    EXPECT_EQ(inst.slots[kVhyst].exprId1, 21);
    EXPECT_EQ(inst.slots[kVhyst].exprId2, 22);

    for (int round = 0; round < 2; ++round) {
        host.clear();
        ASSERT_EQ(evaluate(1.0, 0.0, 1.2), UDM_OK);
        ASSERT_EQ(host.expressionCalls.size(), 2u);
        EXPECT_EQ(host.expressionCalls[0].op, UDM_EXPR_EVALUATE);
        EXPECT_FALSE(host.expressionCalls[0].hasText);
        EXPECT_EQ(host.expressionCalls[0].input, (std::array<double, 2>{11.0, 12.0}));
        EXPECT_EQ(host.expressionCalls[1].input, (std::array<double, 2>{21.0, 22.0}));
    }
    // VHYST 0.25 from the host: 1.2 lies below 1 + 0.25, so the switch is open.
    EXPECT_EQ(slotValue(kRoff), 1e6);
    EXPECT_EQ(slotValue(kVhyst), 0.25);
    EXPECT_EQ(state(), 0);
    EXPECT_EQ(matrixValues()[0], 1e-6);
}

TEST_F(Preparation, AllFiveSlotsGoToTheHostInOrder) {
    int next = 0;
    host.registerReply = [&next](const std::string&) -> std::array<double, 2> {
        ++next;
        return {static_cast<double>(next), static_cast<double>(-next)};
    };
    define("a,b,c,d,e");
    prepare();
    ASSERT_EQ(host.expressionCalls.size(), 5u);
    const char* texts[] = {"a", "b", "c", "d", "e"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(host.expressionCalls[i].text, texts[i]);
        EXPECT_EQ(instance().slots[i].exprId1, i + 1);
        EXPECT_EQ(instance().slots[i].exprId2, -(i + 1));
    }
}

TEST_F(Preparation, IdentifiersAreTruncatedAndOutOfRangeOnesBecomeZero) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double host;
        int32_t kept;
    } cases[] = {{3.9, 3},
                 {-3.9, -3},
                 {2147483647.9, 2147483647},
                 {-2147483648.9, INT32_MIN},
                 {2147483648.0, 0},
                 {-2147483649.0, 0},
                 {1e300, 0},
                 {-std::numeric_limits<double>::infinity(), 0},
                 {nan, 0}};
    for (const auto& c : cases) {
        host.registerReply = [&c](const std::string&) -> std::array<double, 2> { return {c.host, c.host}; };
        define("1,2,x,0,0");
        prepare();
        EXPECT_EQ(instance().slots[kVthres].exprId1, c.kept) << c.host;
        EXPECT_EQ(instance().slots[kVthres].exprId2, c.kept) << c.host;
        EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
    }
}

TEST_F(Preparation, EvaluationOfANumericInstanceCallsNoHost) {
    define("1,2,3,4,1");
    prepare();
    ASSERT_EQ(evaluate(0.0, 1.0), UDM_OK);
    ASSERT_EQ(evaluate(2.0, 1.0, 9.0), UDM_OK);
    EXPECT_TRUE(host.expressionCalls.empty());
}

}  // namespace
}  // namespace modeltest
