// Typed access to the records exchanged with a host, field by field at their
// byte offsets. Every access is a memcpy, so no alignment or aliasing
// assumption is made about memory the host owns.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "udm_interface.h"

namespace udm {

static_assert(std::endian::native == std::endian::little,
              "the host records are little-endian byte layouts");

template <class T>
inline T loadAt(const void* base, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof value);
    return value;
}

template <class T>
inline void storeAt(void* base, std::size_t offset, T value) {
    std::memcpy(static_cast<unsigned char*>(base) + offset, &value, sizeof value);
}

// Handles travel in 32-bit fields; a host stores (uint32_t)(uintptr_t)h.
inline HGLOBAL handleFromField(uint32_t field) {
    return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(field));
}
inline uint32_t fieldFromHandle(HGLOBAL handle) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}

// The ComponentRecord behind the component handle of one instance.
class ComponentRecordView {
public:
    explicit ComponentRecordView(void* base) : base_(base) {}

    HGLOBAL vectorBlock() const { return handleFromField(loadAt<uint32_t>(base_, UDM_COMP_VECTOR_BLOCK)); }
    HGLOBAL matrixBlock() const { return handleFromField(loadAt<uint32_t>(base_, UDM_COMP_MATRIX_BLOCK)); }
    uint16_t nodeValueOffset() const { return loadAt<uint16_t>(base_, UDM_COMP_NODE_VALUE_OFF); }
    uint16_t nodeDerivOffset() const { return loadAt<uint16_t>(base_, UDM_COMP_NODE_DERIV_OFF); }
    uint16_t rhsOffset() const { return loadAt<uint16_t>(base_, UDM_COMP_RHS_OFF); }
    uint16_t colIndexOffset() const { return loadAt<uint16_t>(base_, UDM_COMP_COL_INDEX_OFF); }
    uint16_t rowIndexOffset() const { return loadAt<uint16_t>(base_, UDM_COMP_ROW_INDEX_OFF); }
    uint16_t matrixValueOffset() const { return loadAt<uint16_t>(base_, UDM_COMP_MATRIX_VALUE_OFF); }
    uint16_t entryCount() const { return loadAt<uint16_t>(base_, UDM_COMP_ENTRY_COUNT); }

    void setEntryCount(uint16_t count) const { storeAt<uint16_t>(base_, UDM_COMP_ENTRY_COUNT, count); }
    void clearReserved() const {
        storeAt<uint16_t>(base_, UDM_COMP_RESERVED_A, 0);
        storeAt<uint16_t>(base_, UDM_COMP_RESERVED_B, 0);
    }

    // Host side: fill in the record.
    void setVectorBlock(HGLOBAL h) const { storeAt<uint32_t>(base_, UDM_COMP_VECTOR_BLOCK, fieldFromHandle(h)); }
    void setMatrixBlock(HGLOBAL h) const { storeAt<uint32_t>(base_, UDM_COMP_MATRIX_BLOCK, fieldFromHandle(h)); }
    void setNodeValueOffset(uint16_t v) const { storeAt<uint16_t>(base_, UDM_COMP_NODE_VALUE_OFF, v); }
    void setNodeDerivOffset(uint16_t v) const { storeAt<uint16_t>(base_, UDM_COMP_NODE_DERIV_OFF, v); }
    void setRhsOffset(uint16_t v) const { storeAt<uint16_t>(base_, UDM_COMP_RHS_OFF, v); }
    void setColIndexOffset(uint16_t v) const { storeAt<uint16_t>(base_, UDM_COMP_COL_INDEX_OFF, v); }
    void setRowIndexOffset(uint16_t v) const { storeAt<uint16_t>(base_, UDM_COMP_ROW_INDEX_OFF, v); }
    void setMatrixValueOffset(uint16_t v) const { storeAt<uint16_t>(base_, UDM_COMP_MATRIX_VALUE_OFF, v); }

private:
    void* base_;
};

// The SimulationRecord handed to modes 3 and 6.
class SimulationRecordView {
public:
    explicit SimulationRecordView(const void* base) : base_(base) {}
    double selector() const { return loadAt<double>(base_, UDM_SIM_SELECTOR); }
    double time() const { return loadAt<double>(base_, UDM_SIM_TIME); }
    double startTime() const { return loadAt<double>(base_, UDM_SIM_START_TIME); }

private:
    const void* base_;
};

// Host side: a writable SimulationRecord.
class SimulationRecordWriter {
public:
    explicit SimulationRecordWriter(void* base) : base_(base) {}
    void setSelector(double v) const { storeAt<double>(base_, UDM_SIM_SELECTOR, v); }
    void setTime(double v) const { storeAt<double>(base_, UDM_SIM_TIME, v); }
    void setStartTime(double v) const { storeAt<double>(base_, UDM_SIM_START_TIME, v); }

private:
    void* base_;
};

}  // namespace udm
