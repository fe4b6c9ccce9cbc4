// Mode 1 (reading the parameter list) and mode 7 (release), driven through
// the loaded plug-in.
#include <cmath>
#include <string>

#include "model_fixture.h"
#include "text_memory.h"

namespace modeltest {
namespace {

using udmtest::RecordedMessage;
using vcswitch::kCtrl0;
using vcswitch::kRoff;
using vcswitch::kRon;
using vcswitch::kVhyst;
using vcswitch::kVthres;

const RecordedMessage kTooMany{UDM_SEVERITY_WARNING, "Too much parameters in model definition!"};
const RecordedMessage kNegativeHysteresis{UDM_SEVERITY_WARNING,
                                          "The hysteresis value must be greater then 0. Modulo is used"};

using Definition = SwitchTest;

TEST_F(Definition, NumbersAndExpressionsFillTheSlotsInCatalogueOrder) {
    define("1m,1meg,0,0.1,1");
    const auto inst = instance();
    EXPECT_DOUBLE_EQ(inst.slots[kRon].value, 0.001);
    EXPECT_FALSE(inst.slots[kRon].isExpression);
    EXPECT_EQ(inst.slots[kRon].exprText, nullptr);
    ASSERT_TRUE(inst.slots[kRoff].isExpression);  // "meg" is no unit letter
    ASSERT_NE(inst.slots[kRoff].exprText, nullptr);
    EXPECT_STREQ(inst.slots[kRoff].exprText, "1meg");
    EXPECT_EQ(inst.slots[kRoff].value, 0.0);
    EXPECT_EQ(inst.slots[kVthres].value, 0.0);
    EXPECT_EQ(inst.slots[kVhyst].value, 0.1);
    EXPECT_EQ(inst.slots[kCtrl0].value, 1.0);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
}

TEST_F(Definition, TheHostTextIsSplitInPlaceAndTheExpressionIsCopied) {
    define("1,a+b,3");
    const std::string expected("1\0a+b\0" "3", 7);
    EXPECT_EQ(std::string(definition.data(), 7), expected);
    const auto inst = instance();
    EXPECT_NE(inst.slots[kRoff].exprText, definition.data() + 2);  // a copy, not the host's bytes
    EXPECT_STREQ(inst.slots[kRoff].exprText, "a+b");
    EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
}

TEST_F(Definition, ComponentRecordGetsFourEntriesAndOnlyItsThreeFieldsChange) {
    // Mark the three fields and the bytes around them.
    {
        auto* base = static_cast<unsigned char*>(plugin().globalLock(t.component));
        for (size_t i = 0; i < 8; ++i) base[i] = 0x5A;
        plugin().globalUnlock(t.component);
    }
    const auto before = t.bytes(t.component);
    define("1,2,3,4,0");
    const auto after = t.bytes(t.component);
    expectOnlyChanged(before, after, {{2, 6}}, "component record");
    EXPECT_EQ((readArray<uint16_t, 3>(after, 2)), (std::array<uint16_t, 3>{0, 4, 0}));
    EXPECT_EQ(after[0], 0x5A);
    EXPECT_TRUE(t.allUnlocked());
}

TEST_F(Definition, EmptyAndMissingFieldsLeaveZeroWithoutMessages) {
    define("1,2,,,");
    auto inst = instance();
    EXPECT_EQ(inst.slots[kRon].value, 1.0);
    EXPECT_EQ(inst.slots[kRoff].value, 2.0);
    for (int slot : {kVthres, kVhyst, kCtrl0}) {
        EXPECT_EQ(inst.slots[slot].value, 0.0);
        EXPECT_FALSE(inst.slots[slot].isExpression);
    }
    define("7");
    inst = instance();
    EXPECT_EQ(inst.slots[kRon].value, 7.0);
    EXPECT_EQ(inst.slots[kRoff].value, 0.0);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(Definition, NullTextLeavesEverySlotClearedAndStillAnnouncesTheEntries) {
    define("a,b,c,d,e");
    const auto earlier = instance();
    ASSERT_EQ(t.call(UDM_MODE_INIT, nullptr), UDM_OK);
    const auto inst = instance();
    for (const auto& slot : inst.slots) {
        EXPECT_FALSE(slot.isExpression);
        EXPECT_EQ(slot.value, 0.0);
        EXPECT_EQ(slot.exprText, nullptr);
    }
    EXPECT_EQ(udm::ComponentRecordView(t.bytes(t.component).data()).entryCount(), 4);
    EXPECT_TRUE(host.messages.empty());
    // A new definition does not free the texts of the earlier one; the host
    // sequence never does this, so give them back here.
    for (const auto& slot : earlier.slots) vcswitch::releaseText(slot.exprText);
}

TEST_F(Definition, SixthFieldIsIgnoredQuietlyASeventhIsReportedOnce) {
    define("1,2,3,4,1,9");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(slotValue(kCtrl0), 1.0);
    define("1,2,3,4,1,x,9");
    EXPECT_EQ(host.messages, (std::vector<RecordedMessage>{kTooMany}));
    host.clear();
    define("1,2,3,4,1,,,,,,,,,,");
    EXPECT_EQ(host.messages, (std::vector<RecordedMessage>{kTooMany}));
}

TEST_F(Definition, MoreThan65535FieldsNeitherWrapOntoTheSlotsNorLoseTheWarning) {
    // 65536 fields, then five more that a 16-bit counter would put into the
    // slots again and count as five in all.
    std::string text = "1,2,3,4,1";
    for (int i = 5; i < 65536; ++i) text += ",9";
    text += ",7,7,7,7,7";
    define(text);
    const auto inst = instance();
    EXPECT_EQ(inst.slots[kRon].value, 1.0);
    EXPECT_EQ(inst.slots[kRoff].value, 2.0);
    EXPECT_EQ(inst.slots[kVthres].value, 3.0);
    EXPECT_EQ(inst.slots[kVhyst].value, 4.0);
    EXPECT_EQ(inst.slots[kCtrl0].value, 1.0);
    EXPECT_EQ(host.messages, (std::vector<RecordedMessage>{kTooMany}));
}

TEST_F(Definition, NegativeHysteresisIsMirroredWithOneWarning) {
    define("1,2,3,-0.5,0");
    EXPECT_EQ(slotValue(kVhyst), 0.5);
    EXPECT_EQ(host.messages, (std::vector<RecordedMessage>{kNegativeHysteresis}));
    host.clear();
    define("1,2,3,-0,0");  // negative zero is not below zero
    EXPECT_TRUE(host.messages.empty());
    define("1,2,3,0,0,5,6");
    EXPECT_EQ(host.messages, (std::vector<RecordedMessage>{kTooMany}));
    host.clear();
    define("1,2,3,-2m,0,5,6");  // both warnings, hysteresis first
    EXPECT_EQ(host.messages, (std::vector<RecordedMessage>{kNegativeHysteresis, kTooMany}));
    EXPECT_DOUBLE_EQ(slotValue(kVhyst), 0.002);
}

TEST_F(Definition, HysteresisGivenAsExpressionIsNotCheckedAtDefinition) {
    define("1,2,3,-x,0");
    EXPECT_TRUE(instance().slots[kVhyst].isExpression);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
}

TEST_F(Definition, InitialStateTakesOnlyWholeNumbers) {
    const std::pair<const char*, double> cases[] = {
        {"0.5", 0.0}, {"1e12", 0.0}, {"1", 1.0}, {"on", 1.0}, {"ON", 1.0}, {"off", 0.0}, {"-1", -1.0}, {"2", 2.0}, {"1.5", 0.0}};
    for (const auto& [field, expected] : cases) {
        define(std::string("1,2,3,4,") + field);
        EXPECT_EQ(slotValue(kCtrl0), expected) << field;
        EXPECT_FALSE(instance().slots[kCtrl0].isExpression) << field;
    }
    define("1.5,2,3,4,1");  // the other slots keep fractions
    EXPECT_EQ(slotValue(kRon), 1.5);
}

TEST_F(Definition, BlankFieldIsAnExpressionOfItsBlanks) {
    define("1,  ,3,4,0");
    const auto inst = instance();
    ASSERT_TRUE(inst.slots[kRoff].isExpression);
    EXPECT_STREQ(inst.slots[kRoff].exprText, "  ");
    EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
}

TEST_F(Definition, ReleaseFreesEveryTextAndASecondReleaseDoesNothing) {
    define("a,b,c,d,e");
    for (const auto& slot : instance().slots) EXPECT_NE(slot.exprText, nullptr);
    EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
    for (const auto& slot : instance().slots) EXPECT_EQ(slot.exprText, nullptr);
    // A double free would abort under the address sanitizer.
    EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK);
    EXPECT_TRUE(t.allUnlocked());
}

TEST_F(Definition, StateFieldsAreLeftAsTheBlockHoldsThem) {
    define("1,2,3,0,1");
    Simulation sim(0.0, 1.0);
    ASSERT_EQ(t.call(UDM_MODE_PREPARE), UDM_OK);
    ASSERT_EQ(t.call(UDM_MODE_EVALUATE, nullptr, sim.get()), UDM_OK);
    const auto before = instance();
    ASSERT_EQ(before.state, 1);
    define("1,2,3,0,0");
    const auto after = instance();
    EXPECT_EQ(after.state, before.state);
    EXPECT_EQ(after.acceptedState, before.acceptedState);
    EXPECT_EQ(after.conductance, before.conductance);
}

}  // namespace
}  // namespace modeltest
