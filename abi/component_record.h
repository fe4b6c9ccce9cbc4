// The ComponentRecord behind the component handle of one instance: the
// handles of its vector and matrix blocks and where the arrays lie in them.
#pragma once

#include <cstddef>

#include "record_fields.h"

namespace udm {

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
    bool reservedCleared() const {
        return loadAt<uint16_t>(base_, UDM_COMP_RESERVED_A) == 0 && loadAt<uint16_t>(base_, UDM_COMP_RESERVED_B) == 0;
    }
    // The bytes mode 1 may write: the two reserved fields and the entry count between them.
    static constexpr bool isDefinitionByte(std::size_t offset) {
        return offset >= UDM_COMP_RESERVED_A && offset < UDM_COMP_RESERVED_B + sizeof(uint16_t);
    }

    // Plug-in side: what mode 1 writes.
    void setEntryCount(uint16_t count) const { storeAt<uint16_t>(base_, UDM_COMP_ENTRY_COUNT, count); }
    void clearReserved() const {
        storeAt<uint16_t>(base_, UDM_COMP_RESERVED_A, 0);
        storeAt<uint16_t>(base_, UDM_COMP_RESERVED_B, 0);
    }

    // Host side: fill in the record (the offsets usually through InstanceBlockLayout).
    void fillReserved(uint16_t pattern) const {
        storeAt<uint16_t>(base_, UDM_COMP_RESERVED_A, pattern);
        storeAt<uint16_t>(base_, UDM_COMP_RESERVED_B, pattern);
    }
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

}  // namespace udm
