// SPICE's bypass for plug-in instances: an instance whose inputs did not move
// beyond the Newton tolerances since its last evaluation keeps the stamp that
// evaluation gave, without a call.
//
// What the interface allows: an evaluation decides from the instance block
// (the plug-in keeps no state elsewhere), the node values and derivatives,
// the time only as compared with the start time, and the expression values
// it asks for; between two acceptances the same inputs give the same stamp.
// So a stamp is kept only while
// - the instance block is as that evaluation left it, and the evaluation
//   itself changed nothing in it (an acceptance that moved the plug-in's
//   state, or an evaluation elsewhere that did, ends the bypass);
// - the time lies on the same side of the start time, and is the same time
//   when the evaluation asked for expression values (they may follow time);
// - every terminal that carries a matrix entry moved within the Newton
//   tolerance (reltol of the value plus vntol; its derivative within reltol
//   plus the move vntol makes in it), and the current the stamp's own
//   linearisation predicts for that move is within reltol plus abstol: the
//   stamp is the linearisation SPICE keeps for a bypassed device;
// - every terminal it reads without loading (a switch's control) is exactly
//   where it was: there the plug-in may switch at any value, and a switching
//   within the tolerance would be hidden from the event location.
#pragma once

#include <cstddef>
#include <vector>

#include "netlist/circuit.h"
#include "sim/plugin_instance.h"

namespace udmhost::sim {

class EvaluationBypass {
public:
    // One entry per instance; the stamp of instance n is `stampSize` doubles.
    void setUp(const std::vector<std::unique_ptr<PluginInstance>>& instances);

    // The inputs of instance n about to be evaluated (value and derivative per
    // terminal); `derivativeScale`: how much a move of the value moves its
    // derivative (the discretisation's leading coefficient).
    bool keeps(size_t n, const PluginInstance& instance, const double* values, const double* derivatives,
               bool started, double time, double derivativeScale, const Options& o) const;
    // After a real evaluation with those inputs; `changesBefore`: the
    // instance's block changes before the call.
    void record(size_t n, const PluginInstance& instance, const double* values, const double* derivatives,
                bool started, double time, long changesBefore, const double* stamp);
    // No stamp is kept any longer (the discretisation changed).
    void forgetAll() {
        for (Entry& e : entries_) e.valid = false;
    }
    const double* stampOf(size_t n) const { return entries_[n].stamp.data(); }

private:
    struct Entry {
        bool valid = false, started = false, usedExpressions = false;
        long blockChanges = 0;
        double time = 0.0;
        std::vector<double> values, derivatives, stamp;
    };
    std::vector<Entry> entries_;
};

}  // namespace udmhost::sim
