// A minimal host around one instance: the four blocks a plug-in instance is
// given, with non-zero offsets inside the vector and matrix blocks so that an
// ignored offset shows, and guard bytes around everything it may write.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "host_records.h"
#include "plugin_loader.h"

namespace udmtest {

constexpr uint8_t kGuard = 0xA5;

using BlockLayout = udm::InstanceBlockLayout;

// The switch's four terminals and four matrix entries, with guard bytes
// between the arrays and doubles off their natural alignment.
inline BlockLayout switchLayout() { return *udm::instanceBlockLayout(4, 4, udm::BlockSpacing{12, 4}); }

class TestInstance {
public:
    explicit TestInstance(BlockLayout layout = switchLayout()) : layout_(layout) {
        PluginLibrary& p = plugin();
        instance = p.globalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, UDM_INSTANCE_BYTES);
        component = p.globalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 64);
        vector = p.globalAlloc(GMEM_MOVEABLE, layout.vectorBytes);
        matrix = p.globalAlloc(GMEM_MOVEABLE, layout.matrixBytes);
        fill(vector, layout.vectorBytes, kGuard);
        fill(matrix, layout.matrixBytes, kGuard);
        withComponent([&](udm::ComponentRecordView c) {
            c.setVectorBlock(vector);
            c.setMatrixBlock(matrix);
            layout.writeOffsets(c);
        });
    }
    ~TestInstance() {
        PluginLibrary& p = plugin();
        for (HGLOBAL h : {instance, component, vector, matrix})
            if (h != nullptr) p.globalFree(h);
    }
    TestInstance(const TestInstance&) = delete;
    TestInstance& operator=(const TestInstance&) = delete;

    int32_t call(int32_t mode, char* text = nullptr, void* simulation = nullptr, double* out = nullptr) {
        return plugin().main(mode, text, simulation, out, instance, component);
    }

    template <class F>
    void withComponent(F&& f) {
        void* base = plugin().globalLock(component);
        f(udm::ComponentRecordView(base));
        plugin().globalUnlock(component);
    }

    // A copy of a block's bytes, taken under a lock of its own.
    std::vector<uint8_t> bytes(HGLOBAL h) {
        const size_t size = plugin().globalSize(h);
        std::vector<uint8_t> copy(size);
        void* base = plugin().globalLock(h);
        std::memcpy(copy.data(), base, size);
        plugin().globalUnlock(h);
        return copy;
    }

    void setNodeValues(double n1, double n2, double nc1, double nc2) {
        withVector([&](udm::VectorBlockView v) {
            const double values[4] = {n1, n2, nc1, nc2};
            for (size_t i = 0; i < 4; ++i) v.setNode(i, values[i]);
        });
    }
    void setNodeDerivatives(double d1, double d2) {
        withVector([&](udm::VectorBlockView v) {
            v.setDerivative(0, d1);
            v.setDerivative(1, d2);
        });
    }

    bool allUnlocked() const {
        for (HGLOBAL h : {instance, component, vector, matrix})
            if (lockCount(h) != 0) return false;
        return true;
    }

    const BlockLayout& layout() const { return layout_; }

    HGLOBAL instance = nullptr;
    HGLOBAL component = nullptr;
    HGLOBAL vector = nullptr;
    HGLOBAL matrix = nullptr;

private:
    static void fill(HGLOBAL h, size_t bytes, uint8_t value) {
        void* base = plugin().globalLock(h);
        std::memset(base, value, bytes);
        plugin().globalUnlock(h);
    }
    template <class F>
    void withVector(F&& f) {
        void* base = plugin().globalLock(vector);
        f(udm::VectorBlockView(base, layout_));
        plugin().globalUnlock(vector);
    }

    BlockLayout layout_;
};

// A SimulationRecord with its three fields.
struct Simulation {
    unsigned char bytes[UDM_SIMULATION_RECORD_BYTES] = {};
    Simulation(double time, double startTime, double selector = 0.0) {
        udm::SimulationRecordWriter w(bytes);
        w.setTime(time);
        w.setStartTime(startTime);
        w.setSelector(selector);
    }
    void* get() { return bytes; }
};

}  // namespace udmtest
