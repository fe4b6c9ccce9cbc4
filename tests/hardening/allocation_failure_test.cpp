// Every heap allocation along a definition and along a parse, made to fail
// one at a time: the plug-in must report the failed text copy, go on working
// and leak nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "failing_allocator.h"
#include "switch_instance.h"
#include "test_host.h"
#include "value_parser.h"

namespace {

using udmtest::armAllocationFailure;
using udmtest::disarmAllocationFailure;
using udmtest::plugin;
using udmtest::Simulation;
using udmtest::TestInstance;

constexpr const char* kNoMemory = "Cannot allocate memory !\n Please check the UDC !";

// A host whose callbacks allocate nothing, so that every allocation counted
// during a call is the plug-in's own.
struct QuietHost {
    struct Message {
        int severity;
        char text[96];
    };
    static constexpr int kMaxMessages = 8;
    static inline Message messages[kMaxMessages];
    static inline int messageCount = 0;
    static inline int registrations = 0;
    static inline int nullTextRegistrations = 0;

    static int onMessage(int severity, const char* text) {
        if (messageCount < kMaxMessages) {
            Message& m = messages[messageCount];
            m.severity = severity;
            std::strncpy(m.text, text != nullptr ? text : "(null)", sizeof m.text - 1);
            m.text[sizeof m.text - 1] = '\0';
        }
        ++messageCount;
        return 0;
    }
    static int onExpression(int op, const char* text, double*, double* out) {
        if (op == UDM_EXPR_REGISTER) {
            ++registrations;
            if (text == nullptr) ++nullTextRegistrations;
            out[0] = registrations;
            out[1] = 7.0;
        } else {
            out[0] = 2.5;  // a usable value for any of the five parameters
        }
        return 0;
    }
    static void reset() {
        messageCount = 0;
        registrations = 0;
        nullTextRegistrations = 0;
        RegistrationRecord record{};
        plugin().init(&onMessage, &onExpression, &record);
    }
};

struct SlotCensus {
    int flagged = 0;          // expression slots
    int flaggedWithoutText = 0;
};

SlotCensus takeCensus(TestInstance& t) {
    vcswitch::InstanceData data;
    std::memcpy(&data, t.bytes(t.instance).data(), sizeof data);
    SlotCensus census;
    for (const vcswitch::ParamSlot& slot : data.slots) {
        if (!slot.isExpression) continue;
        ++census.flagged;
        if (slot.exprText == nullptr) ++census.flaggedWithoutText;
    }
    return census;
}

// One instance's whole life with the failAt-th allocation refused.
struct LifeResult {
    udmtest::AllocationCounts counts;
    uint64_t allocationsBeforeEvaluation = 0;
    uint64_t allocationsAfterEvaluation = 0;
    SlotCensus census;
    bool allStatusesZero = true;
    bool allUnlocked = true;
    double stateOutput = -1.0;
};

LifeResult liveOnce(const std::string& definition, uint64_t failAt) {
    QuietHost::reset();
    TestInstance t;
    t.setNodeValues(1.0, 0.0, 5.0, 0.0);
    std::vector<char> text(definition.begin(), definition.end());
    text.push_back('\0');
    Simulation sim(1.0, 0.0, 1.0);
    LifeResult r;

    armAllocationFailure(failAt);
    int32_t statuses = t.call(UDM_MODE_INIT, text.data());
    r.allUnlocked = r.allUnlocked && t.allUnlocked();
    statuses |= t.call(UDM_MODE_PREPARE);
    r.allocationsBeforeEvaluation = udmtest::currentAllocationCounts().allocations;
    statuses |= t.call(UDM_MODE_EVALUATE, nullptr, sim.get());
    r.allocationsAfterEvaluation = udmtest::currentAllocationCounts().allocations;
    statuses |= t.call(UDM_MODE_ACCEPT);
    statuses |= t.call(UDM_MODE_OUTPUT_VALUE, nullptr, sim.get(), &r.stateOutput);
    r.allUnlocked = r.allUnlocked && t.allUnlocked();
    r.counts = udmtest::currentAllocationCounts();
    disarmAllocationFailure();

    r.census = takeCensus(t);  // after definition; later phases keep the texts
    armAllocationFailure(0);
    statuses |= t.call(UDM_MODE_RELEASE);
    const udmtest::AllocationCounts release = disarmAllocationFailure();
    r.counts.outstanding += release.outstanding;
    r.allStatusesZero = statuses == 0;
    r.allUnlocked = r.allUnlocked && t.allUnlocked();
    return r;
}

class AllocationFailure : public ::testing::TestWithParam<const char*> {};

TEST_P(AllocationFailure, EachFailedAllocationOfADefinitionIsSurvivedAndReportedOnce) {
    const std::string definition = GetParam();
    const LifeResult clean = liveOnce(definition, 0);
    ASSERT_FALSE(clean.counts.failed);
    ASSERT_GT(clean.counts.allocations, 0u) << "the definition allocates nothing to fail";
    EXPECT_EQ(clean.counts.outstanding, 0) << "leak without any failure";
    EXPECT_EQ(clean.allocationsAfterEvaluation, clean.allocationsBeforeEvaluation)
        << "evaluation allocated";
    EXPECT_EQ(clean.census.flaggedWithoutText, 0);
    ASSERT_GT(clean.census.flagged, 0) << "no expression text to copy";

    int reportedFailures = 0;
    for (uint64_t n = 1; n <= clean.counts.allocations; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " +
                     std::to_string(clean.counts.allocations) + " refused");
        const LifeResult r = liveOnce(definition, n);
        EXPECT_TRUE(r.counts.failed);
        EXPECT_EQ(r.counts.outstanding, 0) << "leaked";
        EXPECT_TRUE(r.allStatusesZero);
        EXPECT_TRUE(r.allUnlocked);
        EXPECT_TRUE(r.stateOutput == 0.0 || r.stateOutput == 1.0) << r.stateOutput;

        int failures = 0;
        for (int i = 0; i < QuietHost::messageCount && i < QuietHost::kMaxMessages; ++i) {
            const QuietHost::Message& m = QuietHost::messages[i];
            if (m.severity != UDM_SEVERITY_FAILURE) continue;
            ++failures;
            EXPECT_STREQ(m.text, kNoMemory);
        }
        EXPECT_LE(failures, 1);
        // A refused text copy leaves exactly its slot without text and says
        // so; a refused parse copy makes its field an expression, silently.
        EXPECT_EQ(r.census.flaggedWithoutText, failures);
        // The slot without text is not handed to the host as a null text.
        EXPECT_EQ(QuietHost::nullTextRegistrations, 0);
        EXPECT_EQ(QuietHost::registrations, r.census.flagged - r.census.flaggedWithoutText);
        reportedFailures += failures;
    }
    // Each expression's copy is one allocation of the clean run.
    EXPECT_EQ(reportedFailures, clean.census.flagged);
}

INSTANTIATE_TEST_SUITE_P(Definitions, AllocationFailure,
                         ::testing::Values("ron_expr,roff*2,vt,{vh},c0",          // all expressions
                                           "1m,1meg,0,-0.5,1,9,9",                // numbers, one text
                                           "   ,2k, x ,on,state(1)",              // blanks are text
                                           "1k,1e9,v(a)-v(b),0.1,if(t>1;1;0),,"));  // surplus fields

// The parser's working copy: whichever allocation fails, a parse yields its
// full result or no result at all, and keeps nothing.
TEST(AllocationFailureInParse, YieldsItsResultOrNothing) {
    const std::string longNumber = "1" + std::string(400, '0') + ".5e-300";
    for (const std::string& text :
         {std::string("4.7k"), std::string("on"), std::string("  -1.5e3m  "), std::string("quit"),
          std::string("abc"), longNumber, std::string(2000, '9') + "p"}) {
        SCOPED_TRACE("text \"" + text.substr(0, 24) + "\"");
        vcswitch::ParsedValue clean{};
        auto parse = [&](vcswitch::ParsedValue& v) {
            vcswitch::parseValue(&v.hasText, &v.isNumber, &v.isQuit, &v.isHelp, &v.isYes, &v.isNo,
                                 &v.intValue, &v.floatValue, &v.doubleValue, text.c_str());
        };
        armAllocationFailure(0);
        parse(clean);
        const udmtest::AllocationCounts cleanCounts = disarmAllocationFailure();
        ASSERT_GE(cleanCounts.allocations, 1u) << "no working copy";
        EXPECT_EQ(cleanCounts.outstanding, 0);
        ASSERT_EQ(clean.hasText, 1);

        bool sawNothing = false;
        for (uint64_t n = 1; n <= cleanCounts.allocations; ++n) {
            vcswitch::ParsedValue got;
            std::memset(&got, 0x5A, sizeof got);  // every output must be written
            armAllocationFailure(n);
            parse(got);
            const udmtest::AllocationCounts counts = disarmAllocationFailure();
            EXPECT_TRUE(counts.failed);
            EXPECT_EQ(counts.outstanding, 0) << "allocation " << n;
            const vcswitch::ParsedValue none{};
            const bool isClean = std::memcmp(&got, &clean, sizeof got) == 0;
            const bool isNothing = std::memcmp(&got, &none, sizeof got) == 0;
            EXPECT_TRUE(isClean || isNothing) << "allocation " << n << ": a partial result";
            sawNothing = sawNothing || isNothing;
        }
        EXPECT_TRUE(sawNothing) << "no refused allocation reached the working copy";
    }
}

}  // namespace
