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

    for (ParamSlot& slot : inst.slots) {
        // A slot whose text could not be copied has nothing to register.
        if (!slot.isExpression || slot.exprText == nullptr) continue;
        double ids[2] = {0.0, 0.0};
        expression(UDM_EXPR_REGISTER, slot.exprText, nullptr, ids);
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
    const udm::VectorBlockView vector(blocks.block(0), comp);
    const udm::SimulationRecordView sim(simulation);
    // The control voltage is read only when the law needs it.
    const SwitchStep step = hasStarted(sim.time(), sim.startTime())
                                ? decidedStep(values, vector.node(kNC1) - vector.node(kNC2), inst.acceptedState)
                                : initialStep(values);
    const double g = step.conductance;
    inst.state = step.state;
    inst.acceptedState = step.acceptedState;

    const udm::MatrixBlockView matrix(blocks.block(1), comp);
    matrix.setValue(0, g);
    matrix.setValue(1, -g);
    matrix.setValue(2, -g);
    matrix.setValue(3, g);
    inst.conductance = g;

    vector.setRhs(kN1, 0.0);
    vector.setRhs(kN2, 0.0);
    return UDM_OK;
}

void acceptStep(InstanceData& inst) { inst.acceptedState = inst.state; }

}  // namespace vcswitch
