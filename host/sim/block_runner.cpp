#include "sim/block_runner.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "sim/block_outputs.h"
#include "sim/coupled_group.h"
#include "sim/transient_engine.h"

namespace udmhost::sim {

namespace {
// Grid rows per stretch: few enough to hold, many enough that the point
// each block steps onto at a stretch's end costs nothing.
constexpr double kStretchRows = 256.0;
}  // namespace

SimulationOutput runBlocks(const Circuit& whole, const std::vector<CircuitBlock>& blocks, std::ostream& messages,
                           const ProgressFn& progress) {
    // Within a stretch the blocks are at different times: progress is
    // reported as the stretch before, but reported, so that a caller
    // watching the run (and able to stop it) hears from it often.
    double done = 0.0;
    const ProgressFn within = [&](double) {
        if (progress) progress(done);
    };
    std::vector<std::unique_ptr<TransientEngine>> engines;
    for (const CircuitBlock& block : blocks) {
        engines.push_back(std::make_unique<TransientEngine>(block.circuit, messages, within));
        engines.back()->recordNodes(block.exports);
        engines.back()->tagRows();
        std::vector<int> sources;
        for (const auto& input : block.inputs) sources.push_back(input.first);
        engines.back()->followInputs(std::move(sources));
    }
    // Upstream first: a block starts from the initial values of those it
    // reads, and a grouped one from its neighbours' in the whole circuit.
    const CouplingSeeds seeds(whole, blocks);
    for (auto& engine : engines) engine->start();
    seeds.started();
    std::vector<std::unique_ptr<CoupledGroup>> groups(blocks.size());  // at a group's first block
    for (size_t b = 0, last = 0; b < blocks.size(); b = last) {
        for (last = b + 1; last < blocks.size() && blocks[b].group >= 0 && blocks[last].group == blocks[b].group;)
            ++last;
        if (blocks[b].group < 0) continue;
        std::vector<TransientEngine*> members;
        for (size_t m = b; m < last; ++m) members.push_back(engines[m].get());
        groups[b] = std::make_unique<CoupledGroup>(std::move(members), blocks, b, last, whole.tran.stop);
    }

    SimulationOutput output;
    BlockJoiner joiner(whole, blocks);
    output.columns = joiner.columns();
    const TranSpec& tran = whole.tran;
    const double gridStep = tran.step > 0.0 ? tran.step : tran.stop / 50.0;
    std::vector<TransientEngine::Rows> rows(blocks.size());
    for (double k = 1.0;; k += 1.0) {
        const double end = std::min(tran.stop, k * kStretchRows * gridStep);
        for (size_t b = 0; b < blocks.size(); ++b) {
            TransientEngine& engine = *engines[b];
            if (blocks[b].group >= 0) {
                // The group's blocks together, once, at its first.
                if (groups[b]) groups[b]->advancePast(end);
            } else if (blocks[b].inputs.empty()) {
                // On its own steps, as if it were alone.
                engine.advancePast(end);
            } else {
                // As far as the blocks it reads have gone.
                double limit = tran.stop;
                for (const auto& input : blocks[b].inputs) limit = std::min(limit, input.second->lastTime());
                if (blocks[b].inputCornersMatter) {
                    // A linear element follows its input between points only
                    // as well as its own steps sample it: it steps onto every
                    // point of the input, and restarts at its corners.
                    std::vector<double> corners, times;
                    for (const auto& input : blocks[b].inputs) {
                        input.second->appendCorners(engine.time(), limit, corners);
                        input.second->appendTimes(engine.time(), limit, times);
                    }
                    engine.addBreakpoints(std::move(corners));
                    std::sort(times.begin(), times.end());
                    for (double t : times) engine.advanceTo(t);
                }
                engine.advanceTo(limit);
            }
            rows[b] = engine.takeRows();
        }
        joiner.join(rows, end, output.rows);
        for (const CircuitBlock& block : blocks)
            for (const auto& exported : block.exports) exported.second->forgetBefore(end);
        done = end / tran.stop;
        if (progress) progress(done);
        if (end >= tran.stop) break;
    }
    output.stats.fewestPartPoints = std::numeric_limits<long>::max();
    for (auto& engine : engines) {
        SimulationOutput part = engine->finish();
        output.events.insert(output.events.end(), part.events.begin(), part.events.end());
        output.stats.accepted += part.stats.accepted;
        output.stats.mostPartPoints = std::max(output.stats.mostPartPoints, part.stats.accepted);
        output.stats.fewestPartPoints = std::min(output.stats.fewestPartPoints, part.stats.accepted);
        output.stats.rejected += part.stats.rejected;
        output.stats.newtonIterations += part.stats.newtonIterations;
        output.stats.evaluations += part.stats.evaluations;
        output.stats.bypassed += part.stats.bypassed;
        output.stats.watchEvaluations += part.stats.watchEvaluations;
        output.stats.factorisations += part.stats.factorisations;
        output.stats.events += part.stats.events;
    }
    output.stats.parts = static_cast<long>(blocks.size());
    std::stable_sort(output.events.begin(), output.events.end(),
                     [](const SwitchEvent& a, const SwitchEvent& b) { return a.time < b.time; });
    return output;
}

}  // namespace udmhost::sim
