// Mode 3, the evaluation of the stamp. Inline, so that the frame of UDMMain
// and the evaluation share one function: the host calls it at every Newton
// iteration, and apart from the four lock pairs it is a few dozen
// instructions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "block_pair.h"
#include "switch_instance.h"
#include "switch_law.h"

namespace vcswitch {

// Terminals in catalogue order.
enum Terminal : std::size_t { kN1 = 0, kN2 = 1, kNC1 = 2, kNC2 = 3 };

// Whether some parameter is an expression, without a branch per slot.
inline bool hasExpression(const InstanceData& inst) {
    static_assert(kSlotCount == 5);
    const ParamSlot* s = inst.slots;
    return (s[0].isExpression | s[1].isExpression | s[2].isExpression | s[3].isExpression | s[4].isExpression) != 0;
}

// Every expression parameter, refreshed through the host in slot order.
void refreshExpressions(InstanceData& inst, ExpressionCallback expression);

// The callback is taken by reference: it is read only for an instance with
// expressions.
[[gnu::always_inline]] inline int32_t evaluateInstance(InstanceData& inst, udm::ComponentRecordView comp, const void* simulation,
                                const ExpressionCallback& expression) {
    if (simulation == nullptr) return UDM_ERR_NULL_HANDLE;
    // Which rule applies is settled before the blocks are locked, so that the
    // record is not held across the locks; both handles are read again from
    // the component record to be released, for the same reason.
    const udm::SimulationRecordView sim(simulation);
    const bool started = hasStarted(sim.time(), sim.startTime());
    const InnerBlocks blocks(comp);
    if (blocks.status() != UDM_OK) return blocks.status();

    if (hasExpression(inst)) [[unlikely]]
        refreshExpressions(inst, expression);
    // The substitute is kept: the RON and ROFF outputs show it.
    inst.slots[kRon].value = usableResistance(inst.slots[kRon].value);
    inst.slots[kRoff].value = usableResistance(inst.slots[kRoff].value);

    double values[kSlotCount];
    for (std::size_t i = 0; i < kSlotCount; ++i) values[i] = inst.slots[i].value;
#ifdef UDM_BREAK_KEEPS_ADDRESS  // fault: keeps the first vector block address it saw
    static void* kept = nullptr;
    if (kept == nullptr) kept = blocks.first();
    const udm::VectorBlockView vector(kept, comp);
#else
    const udm::VectorBlockView vector(blocks.first(), comp);
#endif
#ifdef UDM_BREAK_GLOBAL_STATE  // fault: one accepted state for all instances
    static int32_t shared = 0;
    inst.acceptedState = shared;
#endif
    // The control voltage is read only when the law needs it.
#ifdef UDM_BREAK_TIME_MEMO  // fault: an evaluation at the time of the previous one reuses its decision
    static double lastTime = __builtin_nan("");
    static SwitchStep lastStep{};
    const SwitchStep step = sim.time() == lastTime ? lastStep
                            : started
                                ? decidedStep(values, vector.node(kNC1) - vector.node(kNC2), inst.acceptedState)
                                : initialStep(values);
    lastTime = sim.time();
    lastStep = step;
#else
    SwitchStep step;
    if (started) [[likely]]
        step = decidedStep(values, vector.node(kNC1) - vector.node(kNC2), inst.acceptedState);
    else
        step = initialStep(values);
#endif
    const double g = step.conductance;
#ifdef UDM_BREAK_STAMP_SKIPPED
    const bool unchanged = inst.conductance == g && inst.state == step.state;
#endif
    inst.state = step.state;
    inst.acceptedState = step.acceptedState;
#ifdef UDM_BREAK_GLOBAL_STATE
    shared = step.state;
#endif
#ifdef UDM_BREAK_REJECTED_STEP  // fault: an evaluation moves the starting state
    inst.acceptedState = step.state;
#endif

    const udm::MatrixBlockView matrix(blocks.second(), comp);
#ifdef UDM_BREAK_STAMP_ADDED  // fault: adds to what the entries held
    const double held[4] = {matrix.value(0), matrix.value(1), matrix.value(2), matrix.value(3)};
#endif
#ifdef UDM_BREAK_STAMP_SKIPPED  // fault: writes the stamp only when it changed
    if (!unchanged)
#endif
    {
#ifdef UDM_BREAK_SIGNED_OFFSETS  // fault: reads the offset as a signed 16-bit number
        const auto at = static_cast<int16_t>(comp.matrixValueOffset());
        for (int k = 0; k < 4; ++k)
            udm::storeAt<double>(blocks.second(), static_cast<std::size_t>(at + 8 * k), k == 0 || k == 3 ? g : -g);
#else
        matrix.setValue(0, g);
        matrix.setValue(1, -g);
#ifdef UDM_BREAK_STAMP_SIGN  // fault: one off-diagonal entry loses its minus sign
        matrix.setValue(2, g);
#else
        matrix.setValue(2, -g);
#endif
        matrix.setValue(3, g);
#endif
    }
#ifdef UDM_BREAK_STAMP_ADDED
    for (std::size_t k = 0; k < 4; ++k) matrix.setValue(k, held[k] + matrix.value(k));
#endif
    inst.conductance = g;

    vector.setRhs(kN1, 0.0);
    vector.setRhs(kN2, 0.0);
    return UDM_OK;
}

}  // namespace vcswitch
