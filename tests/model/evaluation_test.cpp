// Mode 3 and mode 4: the switching law, the initial state, the stamp and
// the bookkeeping that makes a rejected step harmless.
#include <bit>
#include <cmath>
#include <limits>

#include "model_fixture.h"

namespace modeltest {
namespace {

using vcswitch::kRoff;
using vcswitch::kRon;

constexpr double kLargestFloat = 3.4028234663852886e+38;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using Evaluation = SwitchTest;

TEST_F(Evaluation, StampAndZeroRhsAreWrittenAndNothingElse) {
    define("0.5,4,1,0,0");
    prepare();
    t.setNodeValues(1.0, 2.0, 3.0, 0.0);  // closes: 3 >= 1
    const auto vectorBefore = t.bytes(t.vector);
    const auto matrixBefore = t.bytes(t.matrix);
    Simulation sim(1.0, 0.0);
    ASSERT_EQ(t.call(UDM_MODE_EVALUATE, nullptr, sim.get()), UDM_OK);
    const auto& l = t.layout();
    expectOnlyChanged(matrixBefore, t.bytes(t.matrix), {{l.matrixValue, 32}}, "matrix block");
    expectOnlyChanged(vectorBefore, t.bytes(t.vector), {{l.rhs, 16}}, "vector block");
    EXPECT_EQ(matrixValues(), (std::array<double, 4>{2.0, -2.0, -2.0, 2.0}));
    EXPECT_EQ(rhs(), (std::array<double, 2>{0.0, 0.0}));  // were guard bytes
    const auto inst = instance();
    EXPECT_EQ(inst.state, 1);
    EXPECT_EQ(inst.conductance, 2.0);
    EXPECT_EQ(inst.acceptedState, 0);  // the law never moves the accepted state
    EXPECT_TRUE(t.allUnlocked());

    ASSERT_EQ(evaluate(1.0, 0.0, -5.0), UDM_OK);  // from open, stays open
    EXPECT_EQ(matrixValues(), (std::array<double, 4>{0.25, -0.25, -0.25, 0.25}));
    EXPECT_EQ(instance().conductance, 0.25);
}

TEST_F(Evaluation, BothThresholdsCountAsReached) {
    define("1,2,1,0.5,0");  // open: closes at 1.5; closed: opens at 0.5
    prepare();
    ASSERT_EQ(evaluate(1.0, 0.0, 1.4999), UDM_OK);
    EXPECT_EQ(state(), 0);
    ASSERT_EQ(evaluate(1.0, 0.0, 1.5), UDM_OK);
    EXPECT_EQ(state(), 1);
    accept();
    ASSERT_EQ(evaluate(2.0, 0.0, 0.5001), UDM_OK);
    EXPECT_EQ(state(), 1);
    ASSERT_EQ(evaluate(2.0, 0.0, 0.5), UDM_OK);
    EXPECT_EQ(state(), 0);
    accept();
    ASSERT_EQ(evaluate(3.0, 0.0, 1.4999), UDM_OK);
    EXPECT_EQ(state(), 0);
}

TEST_F(Evaluation, ZeroHysteresisAtTheThresholdFlipsFromEitherSide) {
    define("1,2,1,0,1");
    prepare();
    ASSERT_EQ(evaluate(0.0, 1.0), UDM_OK);  // before the start: closed, and accepted as such
    ASSERT_EQ(evaluate(1.0, 1.0, 1.0), UDM_OK);
    EXPECT_EQ(state(), 0);
    accept();
    ASSERT_EQ(evaluate(2.0, 1.0, 1.0), UDM_OK);
    EXPECT_EQ(state(), 1);
}

TEST_F(Evaluation, AtTheStartTimeTheLawAppliesNotTheInitialState) {
    define("1,2,5,0,1");
    prepare();
    ASSERT_EQ(evaluate(1.0, 1.0, 0.0), UDM_OK);
    EXPECT_EQ(state(), 0);
    EXPECT_EQ(instance().acceptedState, 0);
    ASSERT_EQ(evaluate(std::nextafter(1.0, 0.0), 1.0, 0.0), UDM_OK);
    EXPECT_EQ(state(), 1);
    EXPECT_EQ(instance().acceptedState, 1);
}

TEST_F(Evaluation, UnorderedTimesTakeTheInitialState) {
    define("1,2,5,0,1");
    prepare();
    ASSERT_EQ(evaluate(kNaN, 0.0, 9.0), UDM_OK);
    EXPECT_EQ(state(), 1);
    ASSERT_EQ(evaluate(1.0, kNaN, 0.0), UDM_OK);
    EXPECT_EQ(state(), 1);
}

TEST_F(Evaluation, InitialStateBeforeTheStartIsClosedOnlyForOne) {
    double ctrl = 0.0;
    host.evaluateReply = [&ctrl](double, double) { return ctrl; };
    define("1,2,0,0,c");
    prepare();
    const struct {
        double value;
        int32_t state;
        int32_t accepted;
    } cases[] = {{1.0, 1, 1},  {1.7, 1, 1},   {0.0, 0, 0},   {0.99, 0, 0}, {-1.0, 0, -1},
                 {2.0, 0, 2},  {-0.5, 0, 0},  {1e10, 0, 0},  {-1e10, 0, 0}, {kNaN, 0, 0},
                 {std::numeric_limits<double>::infinity(), 0, 0}};
    for (const auto& c : cases) {
        ctrl = c.value;
        ASSERT_EQ(evaluate(0.0, 1.0, 100.0), UDM_OK) << c.value;
        EXPECT_EQ(state(), c.state) << c.value;
        EXPECT_EQ(instance().acceptedState, c.accepted) << c.value;
        EXPECT_EQ(matrixValues()[0], c.state == 1 ? 1.0 : 0.5) << c.value;
    }
}

TEST_F(Evaluation, LawStartsFromTheStateTheInitialValueGave) {
    // CTRL0 2 means open: a control voltage inside the band keeps it open.
    define("1,2,1,0.5,2");
    prepare();
    ASSERT_EQ(evaluate(0.0, 1.0), UDM_OK);
    ASSERT_EQ(evaluate(1.0, 1.0, 1.0), UDM_OK);
    EXPECT_EQ(state(), 0);
    define("1,2,1,0.5,1");
    ASSERT_EQ(evaluate(0.0, 1.0), UDM_OK);
    ASSERT_EQ(evaluate(1.0, 1.0, 1.0), UDM_OK);
    EXPECT_EQ(state(), 1);
}

TEST_F(Evaluation, RejectedStepLeavesTheStartingStateAlone) {
    define("1,2,1,0.5,0");
    prepare();
    ASSERT_EQ(evaluate(1.0, 0.0, 0.0), UDM_OK);
    accept();
    ASSERT_EQ(evaluate(2.0, 0.0, 2.0), UDM_OK);  // closes, but the step is rejected
    EXPECT_EQ(state(), 1);
    ASSERT_EQ(evaluate(1.5, 0.0, 1.0), UDM_OK);  // earlier time, inside the band
    EXPECT_EQ(state(), 0);
    EXPECT_EQ(matrixValues()[0], 0.5);
    ASSERT_EQ(evaluate(2.0, 0.0, 2.0), UDM_OK);
    accept();  // now the closing is accepted
    ASSERT_EQ(evaluate(3.0, 0.0, 1.0), UDM_OK);
    EXPECT_EQ(state(), 1);
}

TEST_F(Evaluation, AcceptanceTakesTheLatestEvaluationAndTouchesNoBlock) {
    define("1,2,1,0.5,0");
    prepare();
    ASSERT_EQ(evaluate(1.0, 0.0, 2.0), UDM_OK);
    ASSERT_EQ(evaluate(1.0, 0.0, 0.0), UDM_OK);
    const auto vector = t.bytes(t.vector);
    const auto matrix = t.bytes(t.matrix);
    accept();
    EXPECT_EQ(instance().acceptedState, 0);
    EXPECT_EQ(t.bytes(t.vector), vector);
    EXPECT_EQ(t.bytes(t.matrix), matrix);
    // With both blocks gone, acceptance still works: it needs neither.
    t.withComponent([](udm::ComponentRecordView c) {
        c.setVectorBlock(nullptr);
        c.setMatrixBlock(nullptr);
    });
    ASSERT_EQ(evaluate(1.0, 0.0, 2.0), UDM_ERR_NULL_HANDLE);
    accept();
    EXPECT_EQ(instance().acceptedState, 0);
}

TEST_F(Evaluation, ZeroResistanceOfEitherSignIsReplacedBySubstitute) {
    for (const char* text : {"0,0,0,0,1", "-0,-0.0,0,0,1"}) {
        define(text);
        prepare();
        ASSERT_EQ(evaluate(0.0, 1.0), UDM_OK);  // closed
        EXPECT_EQ(matrixValues(), (std::array<double, 4>{kLargestFloat, -kLargestFloat, -kLargestFloat, kLargestFloat}))
            << text;
        EXPECT_EQ(std::bit_cast<uint64_t>(slotValue(kRon)), 0x37F0000010000010u) << text;
        EXPECT_EQ(std::bit_cast<uint64_t>(slotValue(kRoff)), 0x37F0000010000010u) << text;
        EXPECT_EQ(instance().conductance, kLargestFloat);
    }
    define("0,-0,1,0,0");
    prepare();
    ASSERT_EQ(evaluate(1.0, 0.0, 0.0), UDM_OK);  // open, on ROFF
    EXPECT_EQ(matrixValues()[0], kLargestFloat);
}

TEST_F(Evaluation, ExpressionResistanceLosesTheSubstituteAtItsNextRefresh) {
    double ron = 0.0;
    host.evaluateReply = [&ron](double, double) { return ron; };
    define("r,2,0,0,1");
    prepare();
    for (double value : {0.0, -0.0, kNaN}) {
        ron = value;
        ASSERT_EQ(evaluate(0.0, 1.0), UDM_OK);
        EXPECT_EQ(matrixValues()[0], kLargestFloat) << value;
    }
    ron = 4.0;
    ASSERT_EQ(evaluate(0.0, 1.0), UDM_OK);
    EXPECT_EQ(slotValue(kRon), 4.0);
    EXPECT_EQ(matrixValues()[0], 0.25);
}

TEST_F(Evaluation, OtherResistancesAreInvertedAsTheyAre) {
    double roff = -4.0;
    host.evaluateReply = [&roff](double, double) { return roff; };
    define("1,r,1,0,0");
    prepare();
    ASSERT_EQ(evaluate(1.0, 0.0, 0.0), UDM_OK);
    EXPECT_EQ(matrixValues(), (std::array<double, 4>{-0.25, 0.25, 0.25, -0.25}));
    roff = std::numeric_limits<double>::infinity();
    ASSERT_EQ(evaluate(1.0, 0.0, 0.0), UDM_OK);
    EXPECT_EQ(matrixValues()[0], 0.0);
}

TEST_F(Evaluation, NotANumberAnywhereInTheLawClosesTheSwitch) {
    double threshold = 1.0;
    host.evaluateReply = [&threshold](double, double) { return threshold; };
    define("1,2,v,0.5,0");
    prepare();
    ASSERT_EQ(evaluate(1.0, 0.0, kNaN), UDM_OK);  // from open
    EXPECT_EQ(state(), 1);
    accept();
    ASSERT_EQ(evaluate(1.0, 0.0, kNaN), UDM_OK);  // from closed
    EXPECT_EQ(state(), 1);
    threshold = kNaN;
    ASSERT_EQ(evaluate(1.0, 0.0, -100.0), UDM_OK);
    EXPECT_EQ(state(), 1);
}

TEST_F(Evaluation, HysteresisFromAnExpressionKeepsItsSign) {
    host.evaluateReply = [](double, double) { return -0.5; };
    define("1,2,1,h,0");
    prepare();
    ASSERT_EQ(evaluate(1.0, 0.0, 0.5), UDM_OK);  // closes at 1 + (-0.5)
    EXPECT_EQ(state(), 1);
    accept();
    ASSERT_EQ(evaluate(1.0, 0.0, 1.49), UDM_OK);  // opens at or below 1.5
    EXPECT_EQ(state(), 0);
}

}  // namespace
}  // namespace modeltest
