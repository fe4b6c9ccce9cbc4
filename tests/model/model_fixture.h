// Helpers shared by the switch model tests: an instance driven through the
// loaded plug-in, a recording host, and views of the blocks it writes.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "recording_host.h"
#include "switch_instance.h"
#include "test_host.h"

namespace modeltest {

using udmtest::kGuard;
using udmtest::plugin;
using udmtest::Simulation;
using udmtest::TestInstance;

// Byte ranges [offset, offset + length) that a phase may write.
using Ranges = std::vector<std::pair<size_t, size_t>>;

// Every byte outside the ranges must equal its value in before.
inline void expectOnlyChanged(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                              const Ranges& allowed, const char* what) {
    ASSERT_EQ(before.size(), after.size()) << what;
    for (size_t i = 0; i < before.size(); ++i) {
        bool inside = false;
        for (const auto& [offset, length] : allowed) inside = inside || (i >= offset && i < offset + length);
        if (!inside) {
            EXPECT_EQ(after[i], before[i]) << what << " byte " << i << " changed";
        }
    }
}

template <class T, size_t N>
std::array<T, N> readArray(const std::vector<uint8_t>& bytes, size_t offset) {
    std::array<T, N> values{};
    std::memcpy(values.data(), bytes.data() + offset, sizeof values);
    return values;
}

class SwitchTest : public ::testing::Test {
protected:
    udmtest::RecordingHost host;
    TestInstance t;

    // Every instance ends as a host ends it, so no test leaks its texts.
    void TearDown() override { EXPECT_EQ(t.call(UDM_MODE_RELEASE), UDM_OK); }

    // Mode 1 on a writable copy of text; the copy is kept for inspection.
    void define(const std::string& text) {
        definition.assign(text.begin(), text.end());
        definition.push_back('\0');
        ASSERT_EQ(t.call(UDM_MODE_INIT, definition.data()), UDM_OK);
    }
    void prepare() { ASSERT_EQ(t.call(UDM_MODE_PREPARE), UDM_OK); }
    void accept() { ASSERT_EQ(t.call(UDM_MODE_ACCEPT), UDM_OK); }

    // Mode 3 with the control voltage nc1 - nc2 = control.
    int32_t evaluate(double time, double startTime, double control = 0.0) {
        t.setNodeValues(0.0, 0.0, control, 0.0);
        Simulation sim(time, startTime);
        return t.call(UDM_MODE_EVALUATE, nullptr, sim.get());
    }

    vcswitch::InstanceData instance() {
        vcswitch::InstanceData data;
        std::memcpy(&data, t.bytes(t.instance).data(), sizeof data);
        return data;
    }
    double slotValue(int slot) { return instance().slots[slot].value; }
    int32_t state() { return instance().state; }

    std::array<double, 4> matrixValues() {
        return readArray<double, 4>(t.bytes(t.matrix), t.layout().matrixValue);
    }
    std::array<double, 2> rhs() { return readArray<double, 2>(t.bytes(t.vector), t.layout().rhs); }

    // A live handle whose lock always fails: a discarded block.
    static HGLOBAL unlockableHandle() { return plugin().globalAlloc(GMEM_MOVEABLE, 0); }

    std::vector<char> definition;
};

}  // namespace modeltest
