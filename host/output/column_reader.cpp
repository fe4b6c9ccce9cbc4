#include "output/column_reader.h"

namespace udmhost {

ColumnReader::ColumnReader(const Circuit& circuit, ColumnProbe& probe) : probe_(probe) {
    for (const PrintItem& item : circuit.prints) {
        Column c{&item};
        switch (item.kind) {
            case PrintItem::Kind::NodeVoltage: c.unknown1 = probe.nodeUnknown(item.node1); break;
            case PrintItem::Kind::NodeDifference:
                c.unknown1 = probe.nodeUnknown(item.node1);
                c.unknown2 = probe.nodeUnknown(item.node2);
                break;
            case PrintItem::Kind::SourceCurrent: {
                const auto& el = circuit.elements.at(static_cast<size_t>(item.element));
                if (el.kind != Element::Kind::CurrentSource) {
                    c.unknown1 = probe.branchUnknown(item.element);
                    if (c.unknown1 < 0) throw ColumnError(item.label + ": " + el.name + " has no branch current");
                }
                break;
            }
            case PrintItem::Kind::PluginOutput: {
                c.instance = probe.pluginInstance(item.element);
                if (c.instance < 0) throw ColumnError(item.label + ": not a plug-in instance");
                c.outputIndex = probe.resolveOutput(c.instance, item.output);
                if (c.outputIndex == 0)
                    throw ColumnError(circuit.elements.at(static_cast<size_t>(item.element)).name +
                                      ": the plug-in has no output named " + item.output);
                break;
            }
        }
        columns_.push_back(c);
    }
}

std::vector<std::string> ColumnReader::names() const {
    std::vector<std::string> names = {"time"};
    for (const Column& c : columns_) names.push_back(c.item->label);
    return names;
}

std::vector<double> ColumnReader::row(double time) const {
    std::vector<double> row;
    row.reserve(columns_.size() + 1);
    row.push_back(time);
    auto value = [&](int u) { return u >= 0 ? probe_.unknownValue(u) : 0.0; };
    for (const Column& c : columns_) {
        if (c.instance >= 0) row.push_back(probe_.pluginOutput(c.instance, c.outputIndex));
        else if (c.item->kind == PrintItem::Kind::SourceCurrent && c.unknown1 < 0)
            row.push_back(probe_.sourceValue(c.item->element, time));
        else row.push_back(value(c.unknown1) - value(c.unknown2));
    }
    return row;
}

}  // namespace udmhost
