// The order in which the plug-in locks and unlocks the host's blocks. This
// binary puts its own GlobalLock and GlobalUnlock in front of the platform
// library's: the plug-in's calls come here first, are recorded and passed on.
// The test host reaches the platform through the plug-in's own dependency
// scope, so its calls, and the forwarding below, bypass the record.
#include <string>
#include <vector>

#include "model_fixture.h"

namespace {

struct LockEvent {
    bool lock;
    HGLOBAL handle;
    bool operator==(const LockEvent&) const = default;
};

std::vector<LockEvent>& Events() {
    static std::vector<LockEvent> events;
    return events;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void* GlobalLock(HGLOBAL h) {
    Events().push_back({true, h});
    return udmtest::plugin().globalLock(h);
}

__attribute__((visibility("default"))) int GlobalUnlock(HGLOBAL h) {
    Events().push_back({false, h});
    return udmtest::plugin().globalUnlock(h);
}

}  // extern "C"

namespace modeltest {
namespace {

class LockOrder : public SwitchTest {
protected:
    void SetUp() override {
        Define("1,2,1,0,0");
        Events().clear();
    }
    std::vector<LockEvent> Frame(std::vector<LockEvent> inner) const {
        std::vector<LockEvent> all = {{true, t.instance}, {true, t.component}};
        all.insert(all.end(), inner.begin(), inner.end());
        all.push_back({false, t.component});
        all.push_back({false, t.instance});
        return all;
    }
};

TEST_F(LockOrder, VectorBeforeMatrixReleasedInReverse) {
    Simulation sim(1.0, 0.0, 2.0);
    const std::vector<LockEvent> both = {
        {true, t.vector}, {true, t.matrix}, {false, t.matrix}, {false, t.vector}};
    ASSERT_EQ(t.call(UDM_MODE_PREPARE), UDM_OK);
    EXPECT_EQ(Events(), Frame(both));
    Events().clear();
    ASSERT_EQ(t.call(UDM_MODE_EVALUATE, nullptr, sim.get()), UDM_OK);
    EXPECT_EQ(Events(), Frame(both));
    Events().clear();
    double out = 0.0;
    ASSERT_EQ(t.call(UDM_MODE_OUTPUT_VALUE, nullptr, sim.get(), &out), UDM_OK);
    EXPECT_EQ(Events(), Frame({{true, t.vector}, {false, t.vector}}));
    Events().clear();
    for (int32_t mode : {UDM_MODE_ACCEPT, UDM_MODE_OUTPUT_INDEX, UDM_MODE_RELEASE, UDM_MODE_INIT}) {
        char text[] = "V";
        ASSERT_EQ(t.call(mode, text, sim.get(), &out), UDM_OK);
        EXPECT_EQ(Events(), Frame({})) << "mode " << mode;
        Events().clear();
    }
}

TEST_F(LockOrder, FailedMatrixLockReleasesOnlyTheVector) {
    HGLOBAL unlockable = Unlockable();
    t.withComponent([&](udm::ComponentRecordView c) { c.setMatrixBlock(unlockable); });
    Simulation sim(1.0, 0.0);
    for (int32_t mode : {UDM_MODE_PREPARE, UDM_MODE_EVALUATE}) {
        Events().clear();
        ASSERT_EQ(t.call(mode, nullptr, sim.get()), UDM_ERR_LOCK_FAILED);
        EXPECT_EQ(Events(), Frame({{true, t.vector}, {true, unlockable}, {false, t.vector}})) << "mode " << mode;
    }
    plugin().globalFree(unlockable);
}

TEST_F(LockOrder, NullHandlesAreTestedBeforeAnyLock) {
    t.withComponent([](udm::ComponentRecordView c) { c.setMatrixBlock(nullptr); });
    Simulation sim(1.0, 0.0);
    for (int32_t mode : {UDM_MODE_PREPARE, UDM_MODE_EVALUATE}) {
        Events().clear();
        ASSERT_EQ(t.call(mode, nullptr, sim.get()), UDM_ERR_NULL_HANDLE);
        EXPECT_EQ(Events(), Frame({})) << "mode " << mode;
    }
}

}  // namespace
}  // namespace modeltest
