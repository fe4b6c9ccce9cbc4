// Modes 2, 3 and 4: preparation, evaluation of the stamp, acceptance.
#include "block_locks.h"
#include "host_numbers.h"
#include "switch_instance.h"

namespace vcswitch {

namespace {

// Stands in for a resistance of zero: its reciprocal is exactly the largest
// finite float, so a shorted switch still gives a finite conductance.
constexpr double kZeroResistanceSubstitute = 2.938736052218037e-39;

// The 2x2 stamp between N1 (0) and N2 (1), entry by entry.
constexpr int32_t kPatternRows[4] = {0, 0, 1, 1};
constexpr int32_t kPatternCols[4] = {0, 1, 0, 1};

inline void SubstituteZeroResistance(double& resistance) {
    // Zero of either sign and NaN all fail both comparisons.
    if (!(resistance < 0.0 || resistance > 0.0)) resistance = kZeroResistanceSubstitute;
}

inline int32_t DecideState(const InstanceData& inst, double controlVoltage) {
    const double threshold = inst.slots[kVthres].value;
    const double hysteresis = inst.slots[kVhyst].value;
    // Written as "stays ... unless": a NaN anywhere fails the comparison and
    // leaves the switch closed from either side.
    if (inst.acceptedState == 1) return controlVoltage <= threshold - hysteresis ? 0 : 1;
    return controlVoltage < threshold + hysteresis ? 0 : 1;
}

}  // namespace

int32_t PrepareInstance(InstanceData& inst, udm::ComponentRecordView comp,
                        ExpressionCallback expression) {
    const VectorMatrixLock blocks(comp);
    if (blocks.status() != UDM_OK) return blocks.status();

    for (ParamSlot& slot : inst.slots) {
        // A slot whose text could not be copied has nothing to register.
        if (!slot.isExpression || slot.exprText == nullptr) continue;
        double ids[2] = {0.0, 0.0};
        expression(UDM_EXPR_REGISTER, slot.exprText, nullptr, ids);
        slot.exprId1 = TruncateToInt32OrZero(ids[0]);
        slot.exprId2 = TruncateToInt32OrZero(ids[1]);
    }

    void* matrix = blocks.matrix();
    const uint16_t rows = comp.rowIndexOffset();
    const uint16_t cols = comp.colIndexOffset();
    for (size_t k = 0; k < 4; ++k) {
        udm::storeAt<int32_t>(matrix, rows + 4 * k, kPatternRows[k]);
        udm::storeAt<int32_t>(matrix, cols + 4 * k, kPatternCols[k]);
    }
    return UDM_OK;
}

int32_t EvaluateInstance(InstanceData& inst, udm::ComponentRecordView comp, const void* simulation,
                         ExpressionCallback expression) {
    if (simulation == nullptr) return UDM_ERR_NULL_HANDLE;
    const VectorMatrixLock blocks(comp);
    if (blocks.status() != UDM_OK) return blocks.status();

    for (ParamSlot& slot : inst.slots) {
        if (!slot.isExpression) continue;
        double ids[2] = {static_cast<double>(slot.exprId1), static_cast<double>(slot.exprId2)};
        double result[2] = {0.0, 0.0};
        expression(UDM_EXPR_EVALUATE, nullptr, ids, result);
        slot.value = result[0];
    }
    SubstituteZeroResistance(inst.slots[kRon].value);
    SubstituteZeroResistance(inst.slots[kRoff].value);

    void* vector = blocks.vector();
    const udm::SimulationRecordView sim(simulation);
    int32_t state;
    if (sim.time() >= sim.startTime()) {
        const uint16_t nodes = comp.nodeValueOffset();
        const double control = udm::loadAt<double>(vector, nodes + 16u) - udm::loadAt<double>(vector, nodes + 24u);
        state = DecideState(inst, control);
    } else {  // before the start (or unordered times): the initial state rules
        const int32_t initial = TruncateToInt32OrZero(inst.slots[kCtrl0].value);
        state = initial == 1 ? 1 : 0;
        inst.acceptedState = initial;
    }
    const double g = 1.0 / inst.slots[state == 1 ? kRon : kRoff].value;
    inst.state = state;

    void* matrix = blocks.matrix();
    const uint16_t values = comp.matrixValueOffset();
    udm::storeAt<double>(matrix, values, g);
    udm::storeAt<double>(matrix, values + 8u, -g);
    udm::storeAt<double>(matrix, values + 16u, -g);
    udm::storeAt<double>(matrix, values + 24u, g);
    inst.conductance = g;

    const uint16_t rhs = comp.rhsOffset();
    udm::storeAt<double>(vector, rhs, 0.0);
    udm::storeAt<double>(vector, rhs + 8u, 0.0);
    return UDM_OK;
}

void AcceptStep(InstanceData& inst) { inst.acceptedState = inst.state; }

}  // namespace vcswitch
