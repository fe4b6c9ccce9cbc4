// The frame of UDMMain: handle checks, locks and status codes, driven
// through the loaded library with real platform handles.
#include <gtest/gtest.h>

#include <vector>

#include "test_host.h"

namespace {

using udmtest::lockCount;
using udmtest::plugin;
using udmtest::TestInstance;

int noMessage(int, const char*) { return 0; }
int noExpression(int, const char*, double*, double*) { return 0; }

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        RegistrationRecord record{};
        plugin().init(&noMessage, &noExpression, &record);
    }
};

TEST_F(Frame, NullInstanceHandleReturnsBeforeTouchingTheComponent) {
    TestInstance t;
    // An unlockable component handle would fail with 28003 if it were touched.
    HGLOBAL freed = plugin().globalAlloc(GHND, 64);
    plugin().globalFree(freed);
    for (int32_t mode : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8}) {
        EXPECT_EQ(plugin().main(mode, nullptr, nullptr, nullptr, nullptr, freed), UDM_ERR_NULL_HANDLE);
        EXPECT_EQ(plugin().main(mode, nullptr, nullptr, nullptr, nullptr, t.component), UDM_ERR_NULL_HANDLE);
        EXPECT_EQ(plugin().main(mode, nullptr, nullptr, nullptr, t.instance, nullptr), UDM_ERR_NULL_HANDLE);
    }
    EXPECT_TRUE(t.allUnlocked());
}

TEST_F(Frame, UnlockableComponentLeavesTheInstanceUnlocked) {
    TestInstance t;
    HGLOBAL freed = plugin().globalAlloc(GHND, 64);
    plugin().globalFree(freed);
    for (int32_t mode : {0, 1, 3, 5, 7}) {
        EXPECT_EQ(plugin().main(mode, nullptr, nullptr, nullptr, t.instance, freed), UDM_ERR_LOCK_FAILED);
        EXPECT_EQ(lockCount(t.instance), 0u);
    }
}

TEST_F(Frame, UnlockableInstanceReturnsLockFailed) {
    TestInstance t;
    HGLOBAL empty = plugin().globalAlloc(GMEM_MOVEABLE, 0);  // discarded: cannot be locked
    EXPECT_EQ(plugin().main(1, nullptr, nullptr, nullptr, empty, t.component), UDM_ERR_LOCK_FAILED);
    EXPECT_EQ(lockCount(t.component), 0u);
    plugin().globalFree(empty);
}

TEST_F(Frame, ModesOutsideThePhasesChangeNothing) {
    TestInstance t;
    const auto instanceBefore = t.bytes(t.instance);
    const auto componentBefore = t.bytes(t.component);
    const auto vectorBefore = t.bytes(t.vector);
    const auto matrixBefore = t.bytes(t.matrix);
    char text[] = "1,2,3,4,1";
    double out = 42.0;
    udmtest::Simulation sim(1.0, 0.0, 1.0);
    for (int32_t mode : {0, 8, -1, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(t.call(mode, text, sim.get(), &out), UDM_OK) << mode;
        EXPECT_TRUE(t.allUnlocked());
    }
    EXPECT_EQ(t.bytes(t.instance), instanceBefore);
    EXPECT_EQ(t.bytes(t.component), componentBefore);
    EXPECT_EQ(t.bytes(t.vector), vectorBefore);
    EXPECT_EQ(t.bytes(t.matrix), matrixBefore);
    EXPECT_STREQ(text, "1,2,3,4,1");
    EXPECT_EQ(out, 42.0);
}

TEST_F(Frame, EveryPhaseLeavesEveryLockCountAtZero) {
    TestInstance t;
    char definition[] = "1m,1k,2.5,0.5,0";
    char name[] = "V";
    double out = 0.0;
    udmtest::Simulation sim(1.0, 0.0, 2.0);
    t.setNodeValues(1.0, 0.0, 3.0, 0.0);
    const std::vector<std::pair<int32_t, char*>> calls = {
        {1, definition}, {2, nullptr}, {3, nullptr}, {4, nullptr}, {5, name}, {6, nullptr}, {7, nullptr}};
    for (const auto& [mode, text] : calls) {
        EXPECT_EQ(t.call(mode, text, sim.get(), &out), UDM_OK) << mode;
        EXPECT_TRUE(t.allUnlocked()) << "after mode " << mode;
    }
}

}  // namespace
