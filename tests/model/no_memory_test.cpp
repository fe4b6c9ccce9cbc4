// A definition whose expression text cannot be copied. This binary puts its
// own nothrow array new in front of the C++ runtime's, so the plug-in's
// allocations come here and a chosen one can be refused.
#include <new>

#include "model_fixture.h"

namespace {
int g_refuseAfter = -1;  // allocations still granted before one is refused; -1: never
int g_refused = 0;
}  // namespace

__attribute__((visibility("default"))) void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (g_refuseAfter >= 0 && g_refuseAfter-- == 0) {
        ++g_refused;
        return nullptr;
    }
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace modeltest {
namespace {

using udmtest::RecordedMessage;
using vcswitch::kRoff;

const RecordedMessage kNoMemory{UDM_SEVERITY_FAILURE, "Cannot allocate memory !\n Please check the UDC !"};

using NoMemory = SwitchTest;

TEST_F(NoMemory, FailedCopyIsReportedAndTheSlotStaysAnExpressionWithoutText) {
    // Field 0 parses (one working copy); field 1 parses (one) and is copied (refused).
    g_refuseAfter = 2;
    Define("1,x,3,0,0");
    g_refuseAfter = -1;
    ASSERT_EQ(g_refused, 1);
    EXPECT_EQ(host.messages, (std::vector<RecordedMessage>{kNoMemory}));
    const auto inst = Instance();
    EXPECT_TRUE(inst.slots[kRoff].isExpression);
    EXPECT_EQ(inst.slots[kRoff].exprText, nullptr);
    EXPECT_EQ(inst.slots[vcswitch::kVthres].value, 3.0);  // the rest goes on

    // Preparation hands the host no slot without text.
    Prepare();
    EXPECT_TRUE(host.expressionCalls.empty());
    EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
    EXPECT_TRUE(t.allUnlocked());
}

}  // namespace
}  // namespace modeltest
