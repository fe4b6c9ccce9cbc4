// The instance-block layout every host here builds its blocks from: arrays
// that overlap, leave their block or lose their spacing would hand a plug-in
// memory that another array, or nobody, owns.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host_records.h"

namespace {

using udm::BlockSpacing;
using udm::instanceBlockLayout;

struct Array {
    std::size_t offset, bytes;
};

void expectSeparated(std::vector<Array> arrays, std::size_t blockBytes, BlockSpacing spacing) {
    std::size_t end = 0;
    for (const Array& a : arrays) {
        EXPECT_GE(a.offset, end + spacing.gap) << "array at " << a.offset;
        EXPECT_EQ(a.offset % spacing.align, 0u) << "array at " << a.offset;
        end = a.offset + a.bytes;
    }
    EXPECT_EQ(blockBytes, end + spacing.gap);
}

TEST(InstanceBlockLayout, ArraysKeepTheirGapAndAlignmentAndFitTheirBlocks) {
    for (const BlockSpacing& spacing : {BlockSpacing{0, 8}, BlockSpacing{8, 8}, BlockSpacing{12, 4}, BlockSpacing{5, 1}}) {
        for (const auto& [terminals, entries] : {std::pair<std::size_t, std::size_t>{4, 4}, {2, 0}, {7, 13}}) {
            SCOPED_TRACE(testing::Message() << "gap " << spacing.gap << " align " << spacing.align << ", "
                                            << terminals << " terminals, " << entries << " entries");
            const auto layout = instanceBlockLayout(terminals, entries, spacing);
            ASSERT_TRUE(layout.has_value());
            expectSeparated({{layout->nodeValue, 8 * terminals}, {layout->nodeDeriv, 8 * terminals},
                             {layout->rhs, 8 * terminals}},
                            layout->vectorBytes, spacing);
            expectSeparated({{layout->colIndex, 4 * entries}, {layout->rowIndex, 4 * entries},
                             {layout->matrixValue, 8 * entries}},
                            layout->matrixBytes, spacing);
        }
    }
}

TEST(InstanceBlockLayout, NothingWhenAnOffsetLeavesTheSixteenBitFields) {
    // The right-hand side of 4000 terminals starts at 64000: it fits, the block may be longer.
    const auto large = instanceBlockLayout(4000, 0, BlockSpacing{0, 8});
    ASSERT_TRUE(large.has_value());
    EXPECT_EQ(large->rhs, 64000u);
    EXPECT_EQ(large->vectorBytes, 96000u);
    EXPECT_FALSE(instanceBlockLayout(4096, 0, BlockSpacing{0, 8}).has_value());   // rhs at 65536
    EXPECT_FALSE(instanceBlockLayout(2, 8192, BlockSpacing{0, 8}).has_value());   // values at 65536
    EXPECT_FALSE(instanceBlockLayout(1u << 20, 0).has_value());                    // a count past 16 bits
    EXPECT_FALSE(instanceBlockLayout(2, 4, BlockSpacing{0, 0}).has_value());
}

TEST(InstanceBlockLayout, OffsetsReachTheComponentRecordAndTheViewsUseThem) {
    const auto layout = instanceBlockLayout(4, 4, BlockSpacing{12, 4});
    ASSERT_TRUE(layout.has_value());
    std::array<unsigned char, UDM_COMPONENT_RECORD_BYTES> record{};
    const udm::ComponentRecordView comp(record.data());
    layout->writeOffsets(comp);
    EXPECT_EQ(comp.nodeValueOffset(), layout->nodeValue);
    EXPECT_EQ(comp.nodeDerivOffset(), layout->nodeDeriv);
    EXPECT_EQ(comp.rhsOffset(), layout->rhs);
    EXPECT_EQ(comp.colIndexOffset(), layout->colIndex);
    EXPECT_EQ(comp.rowIndexOffset(), layout->rowIndex);
    EXPECT_EQ(comp.matrixValueOffset(), layout->matrixValue);
    EXPECT_EQ(comp.entryCount(), 0u);  // the plug-in's field stays untouched

    // A view built from the record and one built from the layout see the same elements.
    std::vector<unsigned char> vector(layout->vectorBytes, 0xA5), matrix(layout->matrixBytes, 0xA5);
    const udm::VectorBlockView hostVector(vector.data(), *layout);
    const udm::MatrixBlockView hostMatrix(matrix.data(), *layout);
    for (std::size_t i = 0; i < 4; ++i) {
        hostVector.setNode(i, 1.0 + static_cast<double>(i));
        hostVector.setDerivative(i, 10.0 + static_cast<double>(i));
        hostMatrix.setRowIndex(i, static_cast<int32_t>(i));
        hostMatrix.setColumnIndex(i, static_cast<int32_t>(3 - i));
    }
    const udm::VectorBlockView pluginVector(vector.data(), comp);
    const udm::MatrixBlockView pluginMatrix(matrix.data(), comp);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(pluginVector.node(i), 1.0 + static_cast<double>(i));
        EXPECT_EQ(pluginVector.derivative(i), 10.0 + static_cast<double>(i));
        EXPECT_EQ(pluginMatrix.rowIndex(i), static_cast<int32_t>(i));
        EXPECT_EQ(pluginMatrix.columnIndex(i), static_cast<int32_t>(3 - i));
        pluginVector.setRhs(i, -1.0);
        pluginMatrix.setValue(i, 0.5);
        EXPECT_EQ(hostVector.rhs(i), -1.0);
        EXPECT_EQ(hostMatrix.value(i), 0.5);
    }
}

TEST(CatalogueEntry, WriterCutsTextsToTheirFieldAndTheViewStopsAtTheField) {
    std::array<unsigned char, UDM_CATALOGUE_ENTRY_BYTES> record;
    record.fill(0xA5);
    const udm::CatalogueEntryWriter writer(record.data());
    const std::string longName(80, 'x');
    writer.setName(longName);
    writer.setKind(UDM_KIND_PARAMETER);
    const udm::CatalogueEntryView view(record.data());
    EXPECT_EQ(view.name(), longName.substr(0, UDM_CAT_NAME_BYTES - 1));
    EXPECT_TRUE(view.terminated(udm::CatalogueText::Name));
    EXPECT_EQ(view.kind(), UDM_KIND_PARAMETER);
    // An untouched field has no zero: the view gives its whole width and says so.
    EXPECT_FALSE(view.terminated(udm::CatalogueText::Description));
    EXPECT_EQ(view.description().size(), std::size_t{UDM_CAT_DESCRIPTION_BYTES});
    writer.setDescription("short");
    EXPECT_EQ(view.description(), "short");
    for (unsigned char byte : view.raw(udm::CatalogueText::Description).subspan(5)) EXPECT_EQ(byte, 0);
    EXPECT_EQ(view.raw(udm::CatalogueText::Default)[0], 0xA5);  // a neighbour field is left alone
}

}  // namespace
