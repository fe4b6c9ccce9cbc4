// The circuit as the netlist reader hands it to the simulator.
#pragma once

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "netlist/bjt_parameters.h"
#include "netlist/mosfet_parameters.h"

namespace udmhost {

class BehaviouralExpression;

struct SourceLocation {
    std::string file;
    int line = 0;
    int column = 0;
};

// A time function the simulator supplies itself rather than the netlist:
// the voltage of a node that another part of the circuit computes.
class TimeSignal {
public:
    virtual ~TimeSignal() = default;
    virtual double at(double t) const = 0;
};

// Time function of an independent source.
struct Waveform {
    enum class Kind { Dc, Pulse, Sin, Pwl, Exp, Sffm, Am, Signal };
    Kind kind = Kind::Dc;
    double dc = 0.0;
    // Pulse: v1 v2 td tr tf pw per; Sin: vo va freq td theta phase (degrees);
    // Pwl: t1 v1 t2 v2 ...; Exp: v1 v2 td1 tau1 td2 tau2;
    // Pulse also np (number of pulses, 0: unlimited) and, from the reader,
    // 1 where the width was given, 0 where it is TSTOP by default;
    // Sffm: vo va fc mdi fs phasec phases; Am: va vo mf fc td phasec phases
    std::vector<double> args;
    std::shared_ptr<const TimeSignal> signal;  // Signal
};

struct Element {
    enum class Kind {
        Resistor, Capacitor, Inductor, VoltageSource, CurrentSource, Plugin,
        // Linear controlled sources, SPICE's E, F, G, H; `value` is the gain.
        VoltageControlledVoltage, CurrentControlledCurrent, VoltageControlledCurrent, CurrentControlledVoltage,
        // B sources: a voltage or a current given by an expression of the unknowns.
        BehaviouralVoltage, BehaviouralCurrent,
        // K: the mutual inductance of two inductors; `value` is the coupling
        // factor k, `nodes` are the first inductor's two nodes and the
        // second's, `coupled` the two inductors.
        MutualInductance,
        // M elements: nodes drain, gate, source inside the series resistances,
        // then the bulk (level 1) or the outer drain and the body diode's
        // anode (VDMOS).
        Mosfet,
        // Q elements: collector, base, emitter inside the series
        // resistances, then the base outside RB.
        Bipolar
    };
    Kind kind = Kind::Resistor;
    std::string name;         // as written, e.g. "R1", "Yswitch"
    std::vector<int> nodes;   // node numbers; 0 is ground. Two for R, C, L, V, I; four for E, G (output, control)
    int control = -1;         // F, H: index of the voltage source whose current controls
    std::array<int, 2> coupled{-1, -1};  // K: element indices of the coupled inductors
    double value = 0.0;       // ohms, farads, henries
    bool hasInitialCondition = false;
    double initialCondition = 0.0;  // IC= of C (volts) or L (amperes)
    Waveform waveform;              // V and I sources
    // Plugin elements:
    int plugin = -1;                // index into Circuit::plugins
    std::string definitionText;     // parameter texts joined with commas in catalogue order
    std::shared_ptr<const BehaviouralExpression> expression;  // B sources
    std::shared_ptr<const MosfetParameters> mosfet;           // M elements
    std::shared_ptr<const BjtParameters> bipolar;             // Q elements
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

// A .meas tran line: one number computed from the waveforms after the run.
struct Measurement {
    enum class Kind { TrigTarg, Avg, Max, Min, PeakToPeak, Rms, Integral, FindWhen, FindAt, When };
    // The instant a signal reaches a value: the count-th rise, fall or
    // crossing after `delay` (count -1: the last one).
    struct Condition {
        enum class Edge { Rise, Fall, Cross };
        PrintItem signal;
        double value = 0.0;
        Edge edge = Edge::Cross;
        int count = 1;
        double delay = 0.0;
    };
    std::string name;
    Kind kind = Kind::Avg;
    PrintItem signal;           // what AVG ... RMS and FIND measure
    double from = 0.0;          // window of AVG ... RMS
    double to = -1.0;           // -1: the end of the run
    double at = 0.0;            // FIND ... AT=
    Condition trig, targ;       // TRIG/TARG; WHEN uses trig
    SourceLocation where;
};

struct TranSpec {
    double step = 0.0;
    double stop = 0.0;
    double start = 0.0;      // printing starts here
    double maxStep = 0.0;    // 0: not given
    bool uic = false;
    bool given = false;
    bool stepGiven = true;   // false: the line gave none, and step was chosen from the span
    // A PULSE edge given as 0: TSTEP, as in SPICE; without a TSTEP, a
    // millionth of the span (an edge as long as a chosen step would smear a
    // pulse train of such a deck's own period).
    double zeroEdge() const { return stepGiven ? step : (stop - start) * 1e-6; }
    // The engine refuses a run that its largest step would cross in more steps.
    static constexpr double kMostSteps = 1e9;
    // The longest step the engine takes: TMAX, else the smaller of TSTEP and TSTOP/50.
    double largestStep() const {
        const double grid = step > 0.0 ? step : stop / 50.0;
        return maxStep > 0.0 ? maxStep : std::min(grid, stop / 50.0);
    }
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
    int maxNewtonIterations = 50;        // itl4: per time point
    int operatingPointIterations = 100;  // itl1: the operating point's first solve
    int steppingIterations = 50;         // itl2: each step of gmin or source stepping
    enum class Method { Trapezoidal, BackwardEuler, Gear };  // Gear: second-order backward difference
    Method method = Method::Trapezoidal;
    std::string solver = "klu";  // or "eigen"
    // Rows at every accepted time point instead of on the TSTEP grid plus the
    // switching instants.
    bool printAllPoints = false;
    // An instance whose inputs stayed within the Newton tolerances since its
    // last evaluation keeps its stamp (SPICE's bypass); 0 evaluates always.
    bool bypass = false;  // off: it changed a charge-storing diode's recovery by volts
};

struct Circuit {
    std::string title;
    std::string sourceFile;
    std::vector<std::string> inputFiles;  // the netlist and every file it includes
    std::vector<std::string> nodeNames;  // index = node number; [0] = "0"
    std::vector<Element> elements;
    std::vector<PluginRef> plugins;
    std::map<std::string, double> params;  // .param values, names in lower case
    TranSpec tran;
    std::vector<PrintItem> prints;
    std::vector<Measurement> measurements;
    bool printOperatingPoint = false;  // .op
    Options options;
    // .ic V(node)=value: held during the operating point (set directly with
    // UIC); .nodeset: where the operating point's iteration starts.
    std::vector<std::pair<int, double>> initialVoltages;
    std::vector<std::pair<int, double>> nodesets;
    // Warnings and notes about what was read but is not simulated as written,
    // each "file:line:column: warning: ..." for the user.
    std::vector<std::string> notes;
};

}  // namespace udmhost
