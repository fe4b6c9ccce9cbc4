// The circuit as the netlist reader hands it to the simulator.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace udmhost {

struct SourceLocation {
    std::string file;
    int line = 0;
    int column = 0;
};

// Time function of an independent source.
struct Waveform {
    enum class Kind { Dc, Pulse, Sin, Pwl };
    Kind kind = Kind::Dc;
    double dc = 0.0;
    // Pulse: v1 v2 td tr tf pw per; Sin: vo va freq td theta; Pwl: t1 v1 t2 v2 ...
    std::vector<double> args;
};

struct Element {
    enum class Kind { Resistor, Capacitor, Inductor, VoltageSource, CurrentSource, Plugin };
    Kind kind = Kind::Resistor;
    std::string name;         // as written, e.g. "R1", "Yswitch"
    std::vector<int> nodes;   // node numbers; 0 is ground. Two for R, C, L, V, I
    double value = 0.0;       // ohms, farads, henries
    bool hasInitialCondition = false;
    double initialCondition = 0.0;  // IC= of C (volts) or L (amperes)
    Waveform waveform;              // V and I sources
    // Plugin elements:
    int plugin = -1;                // index into Circuit::plugins
    std::string definitionText;     // parameter texts joined with commas in catalogue order
    SourceLocation where;
};

struct PluginRef {
    std::string name;  // as in .plugin NAME PATH
    std::string path;  // resolved against the netlist's folder
};

struct PrintItem {
    enum class Kind { NodeVoltage, NodeDifference, SourceCurrent, PluginOutput };
    Kind kind = Kind::NodeVoltage;
    std::string label;       // column header, e.g. "V(out)", "I(V1)", "Y1:STATE"
    int node1 = 0, node2 = 0;
    int element = -1;        // SourceCurrent and PluginOutput: index into Circuit::elements
    std::string output;      // PluginOutput: output name as the plug-in knows it
};

struct TranSpec {
    double step = 0.0;
    double stop = 0.0;
    double start = 0.0;      // printing starts here
    double maxStep = 0.0;    // 0: not given
    bool uic = false;
    bool given = false;
};

struct Options {
    // Tolerances with the meaning and defaults SPICE users know.
    double reltol = 1e-3;    // relative, of Newton updates and of the truncation error
    double abstol = 1e-12;   // amperes
    double vntol = 1e-6;     // volts
    double chgtol = 1e-14;   // coulombs: charges below this count as this in the truncation error
    double trtol = 7.0;      // truncation error overestimate factor
    // Of the simulated span: the width of the interval a switching instant is
    // located to on the integrated trajectory, independent of the tolerances above.
    double eventTolerance = 1e-11;
    int maxNewtonIterations = 50;
    enum class Method { Trapezoidal, BackwardEuler, Gear };  // Gear: second-order backward difference
    Method method = Method::Trapezoidal;
    std::string solver = "klu";  // or "eigen"
    // Rows at every accepted time point instead of on the TSTEP grid plus the
    // switching instants.
    bool printAllPoints = false;
};

struct Circuit {
    std::string title;
    std::string sourceFile;
    std::vector<std::string> nodeNames;  // index = node number; [0] = "0"
    std::vector<Element> elements;
    std::vector<PluginRef> plugins;
    std::map<std::string, double> params;  // .param values, names in lower case
    TranSpec tran;
    std::vector<PrintItem> prints;
    Options options;
};

}  // namespace udmhost
