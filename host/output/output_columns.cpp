#include "output/output_columns.h"

namespace udmhost {

std::vector<ColumnInfo> describeColumns(const Circuit& circuit) {
    std::vector<ColumnInfo> columns{{"time", ColumnInfo::Quantity::Time}};
    for (const PrintItem& item : circuit.prints) {
        ColumnInfo column{item.label, ColumnInfo::Quantity::Voltage};
        if (item.kind == PrintItem::Kind::SourceCurrent) column.quantity = ColumnInfo::Quantity::Current;
        if (item.kind == PrintItem::Kind::PluginOutput) column.quantity = ColumnInfo::Quantity::PluginOutput;
        columns.push_back(std::move(column));
    }
    return columns;
}

}  // namespace udmhost
