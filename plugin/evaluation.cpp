// Modes 2 and 4, preparation and acceptance, and the expression refresh of
// mode 3 (whose frame is inline in evaluation.h).
#include "block_locks.h"
#include "host_numbers.h"
#include "switch_instance.h"
#include "evaluation.h"
#include "switch_law.h"

namespace vcswitch {

namespace {

// The 2x2 stamp between N1 (0) and N2 (1), entry by entry.
constexpr int32_t kPatternRows[4] = {0, 0, 1, 1};
constexpr int32_t kPatternCols[4] = {0, 1, 0, 1};

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

void refreshExpressions(InstanceData& inst, ExpressionCallback expression) {
    for (ParamSlot& slot : inst.slots) {
        if (!slot.isExpression) continue;
        double ids[2] = {static_cast<double>(slot.exprId1), static_cast<double>(slot.exprId2)};
        double result[2] = {0.0, 0.0};
        expression(UDM_EXPR_EVALUATE, nullptr, ids, result);
        slot.value = result[0];
    }
}

void acceptStep(InstanceData& inst) { inst.acceptedState = inst.state; }

}  // namespace vcswitch
