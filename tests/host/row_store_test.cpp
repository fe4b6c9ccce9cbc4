// The rows of a run beyond a (here tiny) memory budget: what goes to the
// temporary file comes back bit for bit, and a file that cannot take it
// stops the run loudly.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "output/row_sampler.h"
#include "output/row_store.h"

using udmhost::RowStore;

namespace {

constexpr size_t kWidth = 3;
constexpr size_t kBudget = 5 * kWidth * sizeof(double);  // five rows

// Values whose bits a conversion or a misplaced offset would change.
std::vector<double> rowAt(size_t i) {
    const double odd[] = {-0.0, std::numeric_limits<double>::denorm_min(), std::nan("0x5a5"), 1.0 / 3.0};
    return {static_cast<double>(i) * 1e-9, odd[i % 4], std::ldexp(static_cast<double>(i) + 0.5, -1000)};
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { had_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

}  // namespace

TEST(RowStore, SpilledRowsReadBackBitForBit) {
    constexpr size_t kRows = 1003;  // not a whole number of five-row chunks
    RowStore store(kBudget);
    for (size_t i = 0; i < kRows; ++i) store.append(rowAt(i));
    ASSERT_EQ(store.size(), kRows);
    EXPECT_EQ(store.width(), kWidth);
    EXPECT_TRUE(sameBits(store.front(), rowAt(0)));
    EXPECT_TRUE(sameBits(store.back(), rowAt(kRows - 1)));

    size_t seen = 0;
    for (const std::vector<double>& row : store) EXPECT_TRUE(sameBits(row, rowAt(seen++))) << seen;
    EXPECT_EQ(seen, kRows);
    for (size_t i : {size_t{0}, size_t{4}, size_t{5}, size_t{517}, kRows - 4, kRows - 1})
        EXPECT_TRUE(sameBits(store[i], rowAt(i))) << i;
    EXPECT_THROW(store[kRows], std::out_of_range);
    EXPECT_THROW(store.append({1.0, 2.0}), std::logic_error);

    // Dropped columns are dropped on reading, from every row; moving keeps it all.
    store.keepColumns(2);
    RowStore moved(std::move(store));
    RowStore::Reader reader = moved.reader();
    std::vector<double> row;
    for (size_t i = 0; i < kRows; ++i) {
        ASSERT_TRUE(reader.next(row));
        std::vector<double> expected = rowAt(i);
        expected.resize(2);
        ASSERT_TRUE(sameBits(row, expected)) << i;
    }
    EXPECT_FALSE(reader.next(row));
    EXPECT_EQ(moved.back().size(), 2u);

    // Cleared, the store takes rows of any width again and spills them
    // over the old file without reading back any of its rows.
    moved.clear();
    EXPECT_TRUE(moved.empty());
    for (size_t i = 0; i < 40; ++i) moved.append({-static_cast<double>(i), 0.5});
    ASSERT_EQ(moved.size(), 40u);
    EXPECT_EQ(moved.width(), 2u);
    size_t again = 0;
    for (const std::vector<double>& r : moved) EXPECT_EQ(r, (std::vector<double>{-static_cast<double>(again++), 0.5}));
    EXPECT_EQ(again, 40u);
    EXPECT_EQ(moved[3], (std::vector<double>{-3.0, 0.5}));
}

// A temporary file that cannot grow (a file size limit gives the same
// write error a full disk does, EFBIG instead of ENOSPC) or cannot be
// created fails the append that needed it; nothing stored before is lost.
TEST(RowStore, FailedSpillIsReportedAndKeepsEarlierRows) {
    {
        ScopedEnv tmp("TMPDIR", "/nonexistent/udmhost_rows");
        RowStore store(kBudget);
        for (size_t i = 0; i < 5; ++i) store.append(rowAt(i));
        try {
            store.append(rowAt(5));
            FAIL() << "the sixth row went nowhere";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("cannot create the temporary file in /nonexistent/udmhost_rows"),
                      std::string::npos) << e.what();
        }
        EXPECT_EQ(store.size(), 5u);
    }

    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 4096;  // 170 rows of three values
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    RowStore store(kBudget);
    std::string error;
    try {
        for (size_t i = 0; i < 100000; ++i) store.append(rowAt(i));
    } catch (const std::runtime_error& e) {
        error = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_NE(error.find("cannot keep the rows of the run: writing the temporary file in "), std::string::npos)
        << error;
    EXPECT_NE(error.find(std::strerror(EFBIG)), std::string::npos) << error;
    ASSERT_GE(store.size(), 4096 / (kWidth * sizeof(double)));
    ASSERT_LT(store.size(), 100000u);
    size_t seen = 0;
    for (const std::vector<double>& row : store) ASSERT_TRUE(sameBits(row, rowAt(seen++))) << seen;
    EXPECT_EQ(seen, store.size());
}

// A grid point inside the step that ends on a switching: the sliver across
// the located instant keeps the state before; a long step aimed at the
// instant is interpolated, or a waveform would stand still over it.
TEST(RowSampler, OnlyTheSliverAcrossASwitchingHoldsTheValueBefore) {
    struct Case {
        double before, at, expected;  // times of the two points, value printed at t = 1
    };
    for (const Case c : {Case{0.5, 1.5, 1.0}, Case{1.0 - 1e-5, 1.0 + 1e-5, 1.0 - 1e-5}}) {
        RowStore store;
        udmhost::RowSampler sampler(1.0, 0.0, 2.0, false, store);
        sampler.add({0.0, 0.0}, false);
        sampler.add({c.before, c.before}, false);  // the value follows the time
        sampler.add({c.at, c.at}, true);
        std::vector<double> printed;
        for (const auto& row : store)
            if (row[0] == 1.0) printed = row;
        ASSERT_EQ(printed.size(), 2u) << c.before;
        EXPECT_DOUBLE_EQ(printed[1], c.expected) << c.before;
    }
}
