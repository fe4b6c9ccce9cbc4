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

struct BlockLayout {
    uint16_t nodeValue = 24;   // 4 doubles
    uint16_t nodeDeriv = 72;   // 2 doubles
    uint16_t rhs = 104;        // 2 doubles
    size_t vectorBytes = 160;
    uint16_t colIndex = 12;    // 4 int32
    uint16_t rowIndex = 40;    // 4 int32
    uint16_t matrixValue = 64; // 4 doubles
    size_t matrixBytes = 120;
};

class TestInstance {
public:
    explicit TestInstance(BlockLayout layout = {}) : layout_(layout) {
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
            c.setNodeValueOffset(layout.nodeValue);
            c.setNodeDerivOffset(layout.nodeDeriv);
            c.setRhsOffset(layout.rhs);
            c.setColIndexOffset(layout.colIndex);
            c.setRowIndexOffset(layout.rowIndex);
            c.setMatrixValueOffset(layout.matrixValue);
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
        const double values[4] = {n1, n2, nc1, nc2};
        write(vector, layout_.nodeValue, values, sizeof values);
    }
    void setNodeDerivatives(double d1, double d2) {
        const double values[2] = {d1, d2};
        write(vector, layout_.nodeDeriv, values, sizeof values);
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
    static void write(HGLOBAL h, size_t offset, const void* data, size_t bytes) {
        auto* base = static_cast<unsigned char*>(plugin().globalLock(h));
        std::memcpy(base + offset, data, bytes);
        plugin().globalUnlock(h);
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
