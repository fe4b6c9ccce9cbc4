// A definition whose expression text cannot be copied. The plug-in's
// allocations come here first and a chosen one can be refused: on Linux this
// binary puts its own nothrow array new in front of the C++ runtime's; on
// Windows, where the plug-in carries its own C++ runtime, the plug-in's
// import of the C library's malloc is pointed here.
#include <cstdlib>
#include <new>

#include "import_redirect.h"
#include "model_fixture.h"

namespace {
int g_refuseAfter = -1;  // allocations still granted before one is refused; -1: never
int g_refused = 0;

bool refuse() {
    if (g_refuseAfter >= 0 && g_refuseAfter-- == 0) {
        ++g_refused;
        return true;
    }
    return false;
}
}  // namespace

#ifdef _WIN32

namespace {

void* __cdecl refusingMalloc(std::size_t size) { return refuse() ? nullptr : std::malloc(size); }

bool watchPlugInAllocations() {
    static const bool redirected = udmtest::redirectImport(udmtest::plugin().module(), "msvcrt.dll", "malloc",
                                                           reinterpret_cast<void*>(&refusingMalloc)) != nullptr;
    return redirected;
}

}  // namespace

#else

__attribute__((visibility("default"))) void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (refuse()) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace {
bool watchPlugInAllocations() { return true; }
}  // namespace

#endif

namespace modeltest {
namespace {

using udmtest::RecordedMessage;
using vcswitch::kRoff;

const RecordedMessage kNoMemory{UDM_SEVERITY_FAILURE, "Cannot allocate memory !\n Please check the UDC !"};

using NoMemory = SwitchTest;

TEST_F(NoMemory, FailedCopyIsReportedAndTheSlotStaysAnExpressionWithoutText) {
    // Field 0 parses (one working copy); field 1 parses (one) and is copied (refused).
    ASSERT_TRUE(watchPlugInAllocations());
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

}  // namespace
}  // namespace modeltest
