// Where the arrays of one instance lie in its vector block (node values, node
// derivatives, right-hand side: one double per terminal each) and its matrix
// block (column indices and row indices, one int32 per entry, then one double
// per entry). Hosts and test hosts build it here rather than by hand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

#include "component_record.h"

namespace udm {

struct InstanceBlockLayout {
    uint16_t nodeValue = 0;
    uint16_t nodeDeriv = 0;
    uint16_t rhs = 0;
    std::size_t vectorBytes = 0;
    uint16_t colIndex = 0;
    uint16_t rowIndex = 0;
    uint16_t matrixValue = 0;
    std::size_t matrixBytes = 0;

    // Writes the six offsets into a ComponentRecord; the handles are the caller's.
    void writeOffsets(ComponentRecordView comp) const {
        comp.setNodeValueOffset(nodeValue);
        comp.setNodeDerivOffset(nodeDeriv);
        comp.setRhsOffset(rhs);
        comp.setColIndexOffset(colIndex);
        comp.setRowIndexOffset(rowIndex);
        comp.setMatrixValueOffset(matrixValue);
    }
};

// How the arrays are spaced: `gap` free bytes before each array and after the
// last one, each array starting at a multiple of `align` (at least 1).
struct BlockSpacing {
    std::size_t gap = 0;
    std::size_t align = 8;
};

// The layout for `terminals` terminals and `entries` matrix entries, or
// nothing when an offset does not fit the record's 16-bit fields.
inline std::optional<InstanceBlockLayout> instanceBlockLayout(std::size_t terminals, std::size_t entries,
                                                              BlockSpacing spacing = {}) {
    constexpr std::size_t kLimit = std::numeric_limits<uint16_t>::max();
    if (terminals > kLimit || entries > kLimit || spacing.gap > kLimit || spacing.align == 0 ||
        spacing.align > kLimit)
        return std::nullopt;
    bool fits = true;
    std::size_t end = 0;
    // Places an array of `bytes` after the previous one; returns its offset.
    auto place = [&](std::size_t bytes) -> uint16_t {
        const std::size_t start = (end + spacing.gap + spacing.align - 1) / spacing.align * spacing.align;
        end = start + bytes;
        if (start > kLimit) fits = false;
        return fits ? static_cast<uint16_t>(start) : uint16_t{0};
    };
    InstanceBlockLayout layout;
    layout.nodeValue = place(8 * terminals);
    layout.nodeDeriv = place(8 * terminals);
    layout.rhs = place(8 * terminals);
    layout.vectorBytes = end + spacing.gap;
    end = 0;
    layout.colIndex = place(4 * entries);
    layout.rowIndex = place(4 * entries);
    layout.matrixValue = place(8 * entries);
    layout.matrixBytes = end + spacing.gap;
    if (!fits) return std::nullopt;
    return layout;
}

}  // namespace udm
