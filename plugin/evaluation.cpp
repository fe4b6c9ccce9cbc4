// Modes 2, 3 and 4: preparation, evaluation of the stamp, acceptance.
#include "block_locks.h"
#include "host_numbers.h"
#include "switch_instance.h"
#include "switch_law.h"

namespace vcswitch {

namespace {

// The 2x2 stamp between N1 (0) and N2 (1), entry by entry.
constexpr int32_t kPatternRows[4] = {0, 0, 1, 1};
constexpr int32_t kPatternCols[4] = {0, 1, 0, 1};
// Terminals in catalogue order.
enum Terminal : std::size_t { kN1 = 0, kN2 = 1, kNC1 = 2, kNC2 = 3 };

}  // namespace

int32_t prepareInstance(InstanceData& inst, udm::ComponentRecordView comp, ExpressionCallback expression) {
    const BlockLocks<2> blocks({comp.vectorBlock(), comp.matrixBlock()});
    if (blocks.status() != UDM_OK) return blocks.status();

    for (std::size_t s = 0; s < kSlotCount; ++s) {
#ifdef UDM_BREAK_REGISTRATION_ORDER  // fault: registers the last parameter first
        ParamSlot& slot = inst.slots[kSlotCount - 1 - s];
#else
        ParamSlot& slot = inst.slots[s];
#endif
        // A slot whose text could not be copied has nothing to register.
        if (!slot.isExpression || slot.exprText == nullptr) continue;
        double ids[2] = {0.0, 0.0};
        expression(UDM_EXPR_REGISTER, slot.exprText, nullptr, ids);
#ifdef UDM_BREAK_ID_ROUNDED  // fault: rounds the identifiers instead of truncating
        ids[0] = __builtin_round(ids[0]);
        ids[1] = __builtin_round(ids[1]);
#endif
        slot.exprId1 = truncateToInt32OrZero(ids[0]);
        slot.exprId2 = truncateToInt32OrZero(ids[1]);
    }

    const udm::MatrixBlockView matrix(blocks.block(1), comp);
    for (std::size_t k = 0; k < 4; ++k) {
        matrix.setRowIndex(k, kPatternRows[k]);
        matrix.setColumnIndex(k, kPatternCols[k]);
    }
    return UDM_OK;
}

int32_t evaluateInstance(InstanceData& inst, udm::ComponentRecordView comp, const void* simulation,
                         ExpressionCallback expression) {
    if (simulation == nullptr) return UDM_ERR_NULL_HANDLE;
    const BlockLocks<2> blocks({comp.vectorBlock(), comp.matrixBlock()});
    if (blocks.status() != UDM_OK) return blocks.status();

    for (ParamSlot& slot : inst.slots) {
        if (!slot.isExpression) continue;
        double ids[2] = {static_cast<double>(slot.exprId1), static_cast<double>(slot.exprId2)};
        double result[2] = {0.0, 0.0};
        expression(UDM_EXPR_EVALUATE, nullptr, ids, result);
        slot.value = result[0];
    }
    // The substitute is kept: the RON and ROFF outputs show it.
    inst.slots[kRon].value = usableResistance(inst.slots[kRon].value);
    inst.slots[kRoff].value = usableResistance(inst.slots[kRoff].value);

    double values[kSlotCount];
    for (std::size_t i = 0; i < kSlotCount; ++i) values[i] = inst.slots[i].value;
#ifdef UDM_BREAK_KEEPS_ADDRESS  // fault: keeps the first vector block address it saw
    static void* kept = nullptr;
    if (kept == nullptr) kept = blocks.block(0);
    const udm::VectorBlockView vector(kept, comp);
#else
    const udm::VectorBlockView vector(blocks.block(0), comp);
#endif
#ifdef UDM_BREAK_GLOBAL_STATE  // fault: one accepted state for all instances
    static int32_t shared = 0;
    inst.acceptedState = shared;
#endif
    const udm::SimulationRecordView sim(simulation);
    // The control voltage is read only when the law needs it.
#ifdef UDM_BREAK_TIME_MEMO  // fault: an evaluation at the time of the previous one reuses its decision
    static double lastTime = __builtin_nan("");
    static SwitchStep lastStep{};
    const SwitchStep step = sim.time() == lastTime ? lastStep
                            : hasStarted(sim.time(), sim.startTime())
                                ? decidedStep(values, vector.node(kNC1) - vector.node(kNC2), inst.acceptedState)
                                : initialStep(values);
    lastTime = sim.time();
    lastStep = step;
#else
    const SwitchStep step = hasStarted(sim.time(), sim.startTime())
                                ? decidedStep(values, vector.node(kNC1) - vector.node(kNC2), inst.acceptedState)
                                : initialStep(values);
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

    const udm::MatrixBlockView matrix(blocks.block(1), comp);
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
            udm::storeAt<double>(blocks.block(1), static_cast<std::size_t>(at + 8 * k), k == 0 || k == 3 ? g : -g);
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

void acceptStep(InstanceData& inst) { inst.acceptedState = inst.state; }

}  // namespace vcswitch
