// Circuits for the simulation tests, built in code.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "netlist/circuit.h"

namespace simtest {

class CircuitBuilder {
public:
    CircuitBuilder() { c_.nodeNames = {"0"}; }

    int node(const std::string& name) {
        if (name == "0") return 0;
        for (size_t i = 0; i < c_.nodeNames.size(); ++i)
            if (c_.nodeNames[i] == name) return static_cast<int>(i);
        c_.nodeNames.push_back(name);
        return static_cast<int>(c_.nodeNames.size() - 1);
    }

    int add(udmhost::Element::Kind kind, const std::string& name, const std::string& a, const std::string& b,
            double value) {
        udmhost::Element e;
        e.kind = kind;
        e.name = name;
        e.nodes = {node(a), node(b)};
        e.value = value;
        e.waveform.dc = value;
        c_.elements.push_back(e);
        return static_cast<int>(c_.elements.size() - 1);
    }
    udmhost::Element& element(int index) { return c_.elements[static_cast<size_t>(index)]; }

    int resistor(const std::string& name, const std::string& a, const std::string& b, double ohms) {
        return add(udmhost::Element::Kind::Resistor, name, a, b, ohms);
    }
    int capacitor(const std::string& name, const std::string& a, const std::string& b, double farads,
                  double ic = 0.0) {
        const int e = add(udmhost::Element::Kind::Capacitor, name, a, b, farads);
        element(e).hasInitialCondition = true;
        element(e).initialCondition = ic;
        return e;
    }
    int inductor(const std::string& name, const std::string& a, const std::string& b, double henries) {
        return add(udmhost::Element::Kind::Inductor, name, a, b, henries);
    }
    int voltage(const std::string& name, const std::string& a, const std::string& b, udmhost::Waveform w) {
        const int e = add(udmhost::Element::Kind::VoltageSource, name, a, b, 0.0);
        element(e).waveform = std::move(w);
        return e;
    }
    int current(const std::string& name, const std::string& a, const std::string& b, udmhost::Waveform w) {
        const int e = add(udmhost::Element::Kind::CurrentSource, name, a, b, 0.0);
        element(e).waveform = std::move(w);
        return e;
    }
    int plugIn(const std::string& name, const std::string& path, const std::vector<std::string>& nodes,
               const std::string& definition) {
        int lib = -1;
        for (size_t i = 0; i < c_.plugins.size(); ++i)
            if (c_.plugins[i].path == path) lib = static_cast<int>(i);
        if (lib < 0) {
            c_.plugins.push_back({"lib" + std::to_string(c_.plugins.size()), path});
            lib = static_cast<int>(c_.plugins.size() - 1);
        }
        udmhost::Element e;
        e.kind = udmhost::Element::Kind::Plugin;
        e.name = name;
        for (const auto& n : nodes) e.nodes.push_back(node(n));
        e.plugin = lib;
        e.definitionText = definition;
        c_.elements.push_back(e);
        return static_cast<int>(c_.elements.size() - 1);
    }

    void printVoltage(const std::string& n) {
        udmhost::PrintItem p;
        p.label = "V(" + n + ")";
        p.node1 = node(n);
        c_.prints.push_back(p);
    }
    void printCurrent(int element) {
        udmhost::PrintItem p;
        p.kind = udmhost::PrintItem::Kind::SourceCurrent;
        p.label = "I(" + c_.elements[static_cast<size_t>(element)].name + ")";
        p.element = element;
        c_.prints.push_back(p);
    }
    void printOutput(int element, const std::string& output) {
        udmhost::PrintItem p;
        p.kind = udmhost::PrintItem::Kind::PluginOutput;
        p.label = c_.elements[static_cast<size_t>(element)].name + ":" + output;
        p.element = element;
        p.output = output;
        c_.prints.push_back(p);
    }
    void tran(double step, double stop, bool uic) {
        c_.tran.step = step;
        c_.tran.stop = stop;
        c_.tran.uic = uic;
        c_.tran.given = true;
    }

    udmhost::Circuit& circuit() { return c_; }

private:
    udmhost::Circuit c_;
};

inline udmhost::Waveform dc(double v) {
    udmhost::Waveform w;
    w.dc = v;
    return w;
}
inline udmhost::Waveform waveform(udmhost::Waveform::Kind kind, std::vector<double> args) {
    udmhost::Waveform w;
    w.kind = kind;
    w.args = std::move(args);
    return w;
}

}  // namespace simtest
