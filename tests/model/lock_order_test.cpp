// The order in which the plug-in locks and unlocks the host's blocks. The
// plug-in's GlobalLock and GlobalUnlock calls come here first, are recorded
// and passed on. On Linux this binary puts its own functions in front of the
// platform library's; the test host reaches the platform through the
// plug-in's own dependency scope, so its calls, and the forwarding below,
// bypass the record. On Windows the plug-in's import table is pointed here.
#include <string>
#include <vector>

#include "import_redirect.h"
#include "model_fixture.h"

namespace {

struct LockEvent {
    bool lock;
    HGLOBAL handle;
    bool operator==(const LockEvent&) const = default;
};

std::vector<LockEvent>& events() {
    static std::vector<LockEvent> events;
    return events;
}

}  // namespace

#ifdef _WIN32

namespace {

LPVOID WINAPI recordingLock(HGLOBAL h) {
    events().push_back({true, h});
    return ::GlobalLock(h);
}

BOOL WINAPI recordingUnlock(HGLOBAL h) {
    events().push_back({false, h});
    return ::GlobalUnlock(h);
}

// Once per program: the plug-in stays loaded, and so does the redirection.
bool recordPlugInLocks() {
    static const bool redirected =
        udmtest::redirectImport(udmtest::plugin().module(), "KERNEL32.dll", "GlobalLock",
                                reinterpret_cast<void*>(&recordingLock)) != nullptr &&
        udmtest::redirectImport(udmtest::plugin().module(), "KERNEL32.dll", "GlobalUnlock",
                                reinterpret_cast<void*>(&recordingUnlock)) != nullptr;
    return redirected;
}

}  // namespace

#else

extern "C" {

__attribute__((visibility("default"))) void* GlobalLock(HGLOBAL h) {
    events().push_back({true, h});
    return udmtest::plugin().globalLock(h);
}

__attribute__((visibility("default"))) int GlobalUnlock(HGLOBAL h) {
    events().push_back({false, h});
    return udmtest::plugin().globalUnlock(h);
}

}  // extern "C"

namespace {
bool recordPlugInLocks() { return true; }
}  // namespace

#endif

namespace modeltest {
namespace {

class LockOrder : public SwitchTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(recordPlugInLocks());
        define("1,2,1,0,0");
        events().clear();
    }
    std::vector<LockEvent> frame(std::vector<LockEvent> inner) const {
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
    EXPECT_EQ(events(), frame(both));
    events().clear();
    ASSERT_EQ(t.call(UDM_MODE_EVALUATE, nullptr, sim.get()), UDM_OK);
    EXPECT_EQ(events(), frame(both));
    events().clear();
    double out = 0.0;
    ASSERT_EQ(t.call(UDM_MODE_OUTPUT_VALUE, nullptr, sim.get(), &out), UDM_OK);
    EXPECT_EQ(events(), frame({{true, t.vector}, {false, t.vector}}));
    events().clear();
    for (int32_t mode : {UDM_MODE_ACCEPT, UDM_MODE_OUTPUT_INDEX, UDM_MODE_RELEASE, UDM_MODE_INIT}) {
        char text[] = "V";
        ASSERT_EQ(t.call(mode, text, sim.get(), &out), UDM_OK);
        EXPECT_EQ(events(), frame({})) << "mode " << mode;
        events().clear();
    }
}

TEST_F(LockOrder, FailedMatrixLockReleasesOnlyTheVector) {
    HGLOBAL unlockable = unlockableHandle();
    t.withComponent([&](udm::ComponentRecordView c) { c.setMatrixBlock(unlockable); });
    Simulation sim(1.0, 0.0);
    for (int32_t mode : {UDM_MODE_PREPARE, UDM_MODE_EVALUATE}) {
        events().clear();
        ASSERT_EQ(t.call(mode, nullptr, sim.get()), UDM_ERR_LOCK_FAILED);
        EXPECT_EQ(events(), frame({{true, t.vector}, {true, unlockable}, {false, t.vector}})) << "mode " << mode;
    }
    plugin().globalFree(unlockable);
}

TEST_F(LockOrder, NullHandlesAreTestedBeforeAnyLock) {
    t.withComponent([](udm::ComponentRecordView c) { c.setMatrixBlock(nullptr); });
    Simulation sim(1.0, 0.0);
    for (int32_t mode : {UDM_MODE_PREPARE, UDM_MODE_EVALUATE}) {
        events().clear();
        ASSERT_EQ(t.call(mode, nullptr, sim.get()), UDM_ERR_NULL_HANDLE);
        EXPECT_EQ(events(), frame({})) << "mode " << mode;
    }
}

}  // namespace
}  // namespace modeltest
