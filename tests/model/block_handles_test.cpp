// Modes 2, 3 and 6 with null and unlockable vector and matrix handles, and
// with a null simulation record: the status, nothing written, no host call,
// every lock count back at zero.
#include "model_fixture.h"

namespace modeltest {
namespace {

using vcswitch::kRoff;

class BlockHandles : public SwitchTest {
protected:
    void SetUp() override {
        host.registerReply = [](const std::string&) -> std::array<double, 2> { return {5.0, 6.0}; };
        host.evaluateReply = [](double, double) { return 123.0; };
        define("1,r,1,0,0");
        prepare();
        host.clear();
        t.setNodeValues(1.0, 2.0, 3.0, 4.0);
        unlockable = unlockableHandle();
    }
    void TearDown() override {
        plugin().globalFree(unlockable);
        SwitchTest::TearDown();
    }

    // Runs a mode and checks that it changed nothing anywhere.
    void expectRefused(int32_t mode, int32_t status, void* simulation) {
        const auto instance = t.bytes(t.instance);
        const auto vector = t.bytes(t.vector);
        const auto matrix = t.bytes(t.matrix);
        double out = -7.0;
        EXPECT_EQ(t.call(mode, nullptr, simulation, &out), status) << "mode " << mode;
        EXPECT_EQ(out, -7.0) << "mode " << mode;
        EXPECT_EQ(t.bytes(t.instance), instance) << "mode " << mode;
        EXPECT_EQ(t.bytes(t.vector), vector) << "mode " << mode;
        EXPECT_EQ(t.bytes(t.matrix), matrix) << "mode " << mode;
        EXPECT_TRUE(host.expressionCalls.empty()) << "mode " << mode;
        EXPECT_TRUE(t.allUnlocked()) << "mode " << mode;
        EXPECT_EQ(udmtest::lockCount(unlockable), 0u) << "mode " << mode;
    }
    void setBlocks(HGLOBAL vector, HGLOBAL matrix) {
        t.withComponent([&](udm::ComponentRecordView c) {
            c.setVectorBlock(vector);
            c.setMatrixBlock(matrix);
        });
    }

    HGLOBAL unlockable = nullptr;
    Simulation sim{1.0, 0.0, 2.0};
};

TEST_F(BlockHandles, NullVectorHandleIsRefusedByEveryPhaseThatNeedsIt) {
    setBlocks(nullptr, t.matrix);
    for (int32_t mode : {UDM_MODE_PREPARE, UDM_MODE_EVALUATE, UDM_MODE_OUTPUT_VALUE})
        expectRefused(mode, UDM_ERR_NULL_HANDLE, sim.get());
}

TEST_F(BlockHandles, NullMatrixHandleIsRefusedByPreparationAndEvaluation) {
    setBlocks(t.vector, nullptr);
    for (int32_t mode : {UDM_MODE_PREPARE, UDM_MODE_EVALUATE}) expectRefused(mode, UDM_ERR_NULL_HANDLE, sim.get());
    // Output values need the vector block only.
    double out = 0.0;
    EXPECT_EQ(t.call(UDM_MODE_OUTPUT_VALUE, nullptr, sim.get(), &out), UDM_OK);
    EXPECT_EQ(out, -1.0);  // V = 1 - 2
    EXPECT_TRUE(t.allUnlocked());
}

TEST_F(BlockHandles, UnlockableVectorIsRefusedWithoutTouchingTheMatrix) {
    setBlocks(unlockable, t.matrix);
    for (int32_t mode : {UDM_MODE_PREPARE, UDM_MODE_EVALUATE, UDM_MODE_OUTPUT_VALUE})
        expectRefused(mode, UDM_ERR_LOCK_FAILED, sim.get());
}

TEST_F(BlockHandles, UnlockableMatrixReleasesTheVectorAgain) {
    setBlocks(t.vector, unlockable);
    for (int32_t mode : {UDM_MODE_PREPARE, UDM_MODE_EVALUATE}) expectRefused(mode, UDM_ERR_LOCK_FAILED, sim.get());
    EXPECT_EQ(slotValue(kRoff), 0.0);  // not refreshed
}

TEST_F(BlockHandles, FreedHandlesAreRefusedLikeUnlockableOnes) {
    HGLOBAL freed = plugin().globalAlloc(GHND, 16);
    plugin().globalFree(freed);
    setBlocks(freed, t.matrix);
    expectRefused(UDM_MODE_EVALUATE, UDM_ERR_LOCK_FAILED, sim.get());
    setBlocks(t.vector, freed);
    expectRefused(UDM_MODE_EVALUATE, UDM_ERR_LOCK_FAILED, sim.get());
}

TEST_F(BlockHandles, NullSimulationRecordIsRefusedByEvaluationAndOutputValues) {
    for (int32_t mode : {UDM_MODE_EVALUATE, UDM_MODE_OUTPUT_VALUE}) expectRefused(mode, UDM_ERR_NULL_HANDLE, nullptr);
}

TEST_F(BlockHandles, EachRefusalLeavesTheInstanceUsable) {
    setBlocks(t.vector, unlockable);
    ASSERT_EQ(evaluate(1.0, 0.0, 5.0), UDM_ERR_LOCK_FAILED);
    setBlocks(t.vector, t.matrix);
    ASSERT_EQ(evaluate(1.0, 0.0, 5.0), UDM_OK);
    EXPECT_EQ(state(), 1);
    EXPECT_EQ(slotValue(kRoff), 123.0);
    EXPECT_TRUE(t.allUnlocked());
}

}  // namespace
}  // namespace modeltest
