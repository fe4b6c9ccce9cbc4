#include "sim/expression_engine.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using udmhost::ExpressionEngine;

TEST(ExpressionEngine, UsesParametersTimeAndSpiceLiterals) {
    ExpressionEngine engine({{"rbase", 5e8}, {"k2", 2.0}});
    const int roff = engine.compile("2*RBASE");
    const int suffix = engine.compile("1meg + 4.7k - 10u*1e6");
    const int timed = engine.compile("k2*time + sin(0)");
    engine.setTime(3.0);
    EXPECT_DOUBLE_EQ(engine.evaluate(roff), 1e9);
    EXPECT_DOUBLE_EQ(engine.evaluate(suffix), 1e6 + 4700 - 10);
    EXPECT_DOUBLE_EQ(engine.evaluate(timed), 6.0);
    engine.setTime(0.5);
    EXPECT_DOUBLE_EQ(engine.evaluate(timed), 1.0);
    EXPECT_DOUBLE_EQ(engine.evaluate(engine.compile("3-2")), 1.0);  // a minus is not part of a literal
}

TEST(ExpressionEngine, RefusesWhatDoesNotCompile) {
    ExpressionEngine engine({{"rbase", 1.0}});
    EXPECT_THROW(engine.compile("2*rbse"), std::invalid_argument);
    EXPECT_THROW(engine.compile("2*("), std::invalid_argument);
    EXPECT_EQ(engine.size(), 0u);
}

TEST(ExpressionEngine, IdentifiersRoundTripAndForeignPairsAreRefused) {
    ExpressionEngine engine({});
    engine.compile("1");
    const int second = engine.compile("2");
    double ids[2];
    engine.identifiers(second, ids);
    EXPECT_EQ(engine.indexOf(ids[0], ids[1]), second);
    EXPECT_EQ(engine.indexOf(ids[0], ids[1] + 1), -1);
    EXPECT_EQ(engine.indexOf(5, 5 + ids[1] - ids[0]), -1);  // never issued
    EXPECT_EQ(engine.indexOf(-1, ids[1]), -1);
    EXPECT_EQ(engine.indexOf(0.5, ids[1]), -1);
}

}  // namespace
