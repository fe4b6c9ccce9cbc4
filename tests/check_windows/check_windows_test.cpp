// The checker on Windows: the plug-in's import table points at the lock
// and free watch only while a plug-in is under test, whichever way it ends,
// and a child part that crashes is reported with its exception code.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/checker.h"
#include "check/harness.h"
#include "check/import_table.h"
#include "check/isolation.h"
#include "check/lifecycle_check.h"
#include "check/lock_watch.h"

using namespace udmhost;

namespace {

// The imports the checker patches: kernel32's lock pair and the C runtime's free.
struct WatchedSlots {
    void* lock = nullptr;
    void* unlock = nullptr;
    void* free = nullptr;
};

void* held(void* slot) {
    void* value = nullptr;
    std::memcpy(&value, slot, sizeof value);
    return value;
}

WatchedSlots valuesOf(const WatchedSlots& slots) { return {held(slots.lock), held(slots.unlock), held(slots.free)}; }

// A load of its own keeps the module, and so its import table, mapped
// after the checker's handle is gone; the table holds the system's functions.
struct WatchedModule {
    explicit WatchedModule(const char* path) : keeper(path) {
        const auto module = static_cast<HMODULE>(keeper.nativeHandle());
        slots = {importSlot(module, "kernel32.dll", "GlobalLock"), importSlot(module, "kernel32.dll", "GlobalUnlock"),
                 importSlot(module, "msvcrt.dll", "free")};
        if (slots.lock == nullptr || slots.unlock == nullptr || slots.free == nullptr)
            throw std::runtime_error("the sample lacks an import the checker patches");
        original = valuesOf(slots);
    }
    bool restored() const {
        const WatchedSlots now = valuesOf(slots);
        return now.lock == original.lock && now.unlock == original.unlock && now.free == original.free &&
               !lockLogWorks();
    }
    PluginLibrary keeper;
    WatchedSlots slots, original;
};

// A part run in this process reports to a file nobody reads.
void runPartHere(const std::string& part, const char* path) {
    const int fd = _open("NUL", _O_WRONLY | _O_BINARY);
    ASSERT_GE(fd, 0);
    CheckChannel channel(fd);
    runCheckPart(part, path, channel);
    _close(fd);
}

}  // namespace

TEST(ImportTablePatch, WatchesThePlugInsLocksOnlyWhileItIsUnderTest) {
    const WatchedModule module(SAMPLE_GOOD);
    {
        PlugInUnderTest plugin(SAMPLE_GOOD);
        EXPECT_NE(held(module.slots.lock), module.original.lock);
        EXPECT_NE(held(module.slots.unlock), module.original.unlock);
        EXPECT_NE(held(module.slots.free), module.original.free);
        EXPECT_TRUE(lockLogWorks());
        startLockLog();
        TestInstance instance(plugin, 1);
        instance.define(plugin.defaultDefinition());
        const std::vector<LockEvent> events = stopLockLog();
        EXPECT_GE(events.size(), 4u) << "the plug-in's own calls bypass the watch";
    }
    EXPECT_TRUE(module.restored());
}

TEST(ImportTablePatch, RestoredAfterEveryWayAPartEnds) {
    {
        const WatchedModule module(SAMPLE_GOOD);
        runPartHere("life cycle", SAMPLE_GOOD);
        EXPECT_TRUE(module.restored()) << "after a part that passed";
    }
    {
        // Registers an instance block of 0 bytes: loading it for a check
        // throws once the import table is already patched.
        const WatchedModule module(SAMPLE_NO_INSTANCE);
        EXPECT_THROW(runPartHere("life cycle", SAMPLE_NO_INSTANCE), std::runtime_error);
        EXPECT_TRUE(module.restored()) << "after a plug-in that could not be set up";
    }
}

TEST(IsolatedPart, ACrashIsReportedWithItsExceptionCodeAndTheNextPartRuns) {
    const std::vector<std::string> planned = LifeCycle::checkNames();
    const IsolatedRun crashed = runIsolated(planned, "life cycle", SAMPLE_CRASHES, 60, {});
    EXPECT_FALSE(crashed.completed);
    EXPECT_FALSE(crashed.hung);
    std::string faults;
    for (const CheckLine& line : crashed.lines)
        for (const std::string& fault : line.faults) faults += fault + "\n";
    EXPECT_NE(faults.find("crashed with exception 0xC0000005 (access violation) during mode 3"), std::string::npos)
        << faults;
    // The parent is untouched: the same part on a sound plug-in passes.
    const IsolatedRun sound = runIsolated(planned, "life cycle", SAMPLE_GOOD, 60, {});
    EXPECT_TRUE(sound.completed);
    for (const CheckLine& line : sound.lines) EXPECT_NE(line.verdict, Verdict::Fail) << line.name;
}

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--check-part")
        return runCheckChild(std::vector<std::string>(argv + 2, argv + argc));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
