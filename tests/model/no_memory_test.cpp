// Definitions whose allocations fail. The plug-in's own allocations come
// here and a chosen one, or every one, can be refused: on Linux this
// program's malloc and free come first for the loaded plug-in and look at
// who called; on Windows the plug-in's imports of the C library's malloc and
// free are pointed here. Sanitizer builds own malloc, so there these tests
// do not run (the plain build runs them).
#include <cstdlib>

#include "import_redirect.h"
#include "model_fixture.h"

#if !defined(_WIN32) && !defined(UDM_TEST_SANITIZED)
#include <dlfcn.h>
#endif

namespace {
int g_refuseAfter = -1;  // plug-in allocations still granted before one is refused; -1: never
bool g_refuseAll = false;
int g_refused = 0;
long g_outstanding = 0;  // the plug-in's allocations not yet released

[[maybe_unused]] bool refuse() {  // unused where allocations cannot be watched
    if (g_refuseAll || (g_refuseAfter >= 0 && g_refuseAfter-- == 0)) {
        ++g_refused;
        return true;
    }
    return false;
}
}  // namespace

#if defined(_WIN32)

namespace {

void* __cdecl watchedMalloc(std::size_t size) {
    if (refuse()) return nullptr;
    void* p = std::malloc(size);
    if (p != nullptr) ++g_outstanding;
    return p;
}

void __cdecl watchedFree(void* p) {
    if (p != nullptr) --g_outstanding;
    std::free(p);
}

bool watchPlugInAllocations() {
    static const bool redirected =
        udmtest::redirectImport(udmtest::plugin().module(), "msvcrt.dll", "malloc",
                                reinterpret_cast<void*>(&watchedMalloc)) != nullptr &&
        udmtest::redirectImport(udmtest::plugin().module(), "msvcrt.dll", "free",
                                reinterpret_cast<void*>(&watchedFree)) != nullptr;
    return redirected;
}

}  // namespace

#elif defined(UDM_TEST_SANITIZED)

namespace {
bool watchPlugInAllocations() { return false; }
}  // namespace

#else

extern "C" {
void* __libc_malloc(std::size_t bytes);
void __libc_free(void* p);
}

namespace {

const void* g_plugInBase = nullptr;  // set once the plug-in is loaded

bool calledFromPlugIn(const void* caller) {
    Dl_info info;
    return g_plugInBase != nullptr && dladdr(caller, &info) != 0 && info.dli_fbase == g_plugInBase;
}

bool watchPlugInAllocations() {
    Dl_info info;
    if (dladdr(reinterpret_cast<const void*>(udmtest::plugin().main), &info) == 0) return false;
    g_plugInBase = info.dli_fbase;
    return true;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void* malloc(std::size_t size) noexcept {
    if (!calledFromPlugIn(__builtin_return_address(0))) return __libc_malloc(size);
    if (refuse()) return nullptr;
    void* p = __libc_malloc(size);
    if (p != nullptr) ++g_outstanding;
    return p;
}

extern "C" __attribute__((visibility("default"))) void free(void* p) noexcept {
    if (p != nullptr && calledFromPlugIn(__builtin_return_address(0))) --g_outstanding;
    __libc_free(p);
}

#endif

namespace modeltest {
namespace {

using udmtest::RecordedMessage;
using vcswitch::kRoff;

const RecordedMessage kNoMemory{UDM_SEVERITY_FAILURE, "Cannot allocate memory !\n Please check the UDC !"};

using NoMemory = SwitchTest;

TEST_F(NoMemory, FailedCopyIsReportedAndTheSlotStaysAnExpressionWithoutText) {
    // Field 0 parses (one working copy); field 1 parses (one) and is copied (refused).
    if (!watchPlugInAllocations()) GTEST_SKIP() << "allocations cannot be watched in this build";
    define("0");  // what the parser sets up once per process is done before counting
    g_refuseAfter = 2;
    define("1,x,3,0,0");
    g_refuseAfter = -1;
    ASSERT_EQ(g_refused, 1);
    EXPECT_EQ(host.messages, (std::vector<RecordedMessage>{kNoMemory}));
    const auto inst = instance();
    EXPECT_TRUE(inst.slots[kRoff].isExpression);
    EXPECT_EQ(inst.slots[kRoff].exprText, nullptr);
    EXPECT_EQ(inst.slots[vcswitch::kVthres].value, 3.0);  // the rest goes on

    // Preparation hands the host no slot without text.
    prepare();
    EXPECT_TRUE(host.expressionCalls.empty());
    EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
    EXPECT_TRUE(t.allUnlocked());
}

TEST_F(NoMemory, EveryAllocationOfADefinitionMayFailAndAllMayFail) {
    if (!watchPlugInAllocations()) GTEST_SKIP() << "allocations cannot be watched in this build";
    define("0");  // what the parser sets up once per process is done before counting
    ASSERT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
    // Refused in turn: the first, the second, ... until a definition
    // completes with none refused. Then every one of them at once.
    int n = 0;
    for (bool done = false; !done; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n + 1) + " refused");
        host.messages.clear();
        g_refused = 0;
        g_outstanding = 0;
        g_refuseAfter = n;
        define("1,x,y+1,0,0");
        g_refuseAfter = -1;
        done = g_refused == 0;
        EXPECT_LE(host.messages.size(), 1u);
        for (const RecordedMessage& m : host.messages) EXPECT_EQ(m, kNoMemory);
        EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
        EXPECT_EQ(g_outstanding, 0) << "leaked";
    }
    EXPECT_GE(n, 5) << "a definition with two texts makes at least four allocations";

    host.messages.clear();
    g_outstanding = 0;
    g_refuseAll = true;
    define("1,x,y+1,0,0");
    g_refuseAll = false;
    // Each field's working copy fails, so each field is text whose copy fails.
    EXPECT_EQ(host.messages, std::vector<RecordedMessage>(5, kNoMemory));
    EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
    EXPECT_EQ(g_outstanding, 0) << "leaked";
    EXPECT_TRUE(t.allUnlocked());
}

}  // namespace
}  // namespace modeltest
