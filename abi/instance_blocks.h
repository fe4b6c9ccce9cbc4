// Typed access to the arrays of an instance's vector and matrix blocks, at the
// offsets its ComponentRecord names; element i of each array.
#pragma once

#include <cstddef>

#include "instance_block_layout.h"

namespace udm {

class VectorBlockView {
public:
    VectorBlockView(void* block, ComponentRecordView comp)
        : base_(block), nodeValue_(comp.nodeValueOffset()), nodeDeriv_(comp.nodeDerivOffset()), rhs_(comp.rhsOffset()) {}
    VectorBlockView(void* block, const InstanceBlockLayout& layout)
        : base_(block), nodeValue_(layout.nodeValue), nodeDeriv_(layout.nodeDeriv), rhs_(layout.rhs) {}

    double node(std::size_t i) const { return loadAt<double>(base_, nodeValue_ + 8 * i); }
    double derivative(std::size_t i) const { return loadAt<double>(base_, nodeDeriv_ + 8 * i); }
    double rhs(std::size_t i) const { return loadAt<double>(base_, rhs_ + 8 * i); }
    void setRhs(std::size_t i, double v) const { storeAt<double>(base_, rhs_ + 8 * i, v); }
    // Host side.
    void setNode(std::size_t i, double v) const { storeAt<double>(base_, nodeValue_ + 8 * i, v); }
    void setDerivative(std::size_t i, double v) const { storeAt<double>(base_, nodeDeriv_ + 8 * i, v); }

private:
    void* base_;
    std::size_t nodeValue_, nodeDeriv_, rhs_;
};

class MatrixBlockView {
public:
    MatrixBlockView(void* block, ComponentRecordView comp)
        : base_(block), colIndex_(comp.colIndexOffset()), rowIndex_(comp.rowIndexOffset()),
          value_(comp.matrixValueOffset()) {}
    MatrixBlockView(void* block, const InstanceBlockLayout& layout)
        : base_(block), colIndex_(layout.colIndex), rowIndex_(layout.rowIndex), value_(layout.matrixValue) {}

    int32_t columnIndex(std::size_t i) const { return loadAt<int32_t>(base_, colIndex_ + 4 * i); }
    int32_t rowIndex(std::size_t i) const { return loadAt<int32_t>(base_, rowIndex_ + 4 * i); }
    double value(std::size_t i) const { return loadAt<double>(base_, value_ + 8 * i); }
    void setColumnIndex(std::size_t i, int32_t v) const { storeAt<int32_t>(base_, colIndex_ + 4 * i, v); }
    void setRowIndex(std::size_t i, int32_t v) const { storeAt<int32_t>(base_, rowIndex_ + 4 * i, v); }
    void setValue(std::size_t i, double v) const { storeAt<double>(base_, value_ + 8 * i, v); }

private:
    void* base_;
    std::size_t colIndex_, rowIndex_, value_;
};

}  // namespace udm
