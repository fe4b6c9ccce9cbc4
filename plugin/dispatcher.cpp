#include "dispatcher.h"

#include <new>

#include "block_locks.h"
#include "block_pair.h"
#include "evaluation.h"
#include "registration.h"
#include "switch_instance.h"

namespace vcswitch {

namespace {

[[gnu::always_inline]] inline int32_t runPhase(int32_t mode, char* text, void* simulation, double* out, void* instanceBlock,
                 void* componentBlock) {
    // The host's block is zero-filled memory of at least UDM_INSTANCE_BYTES,
    // aligned as GlobalLock aligns every block; InstanceData is an
    // implicit-lifetime type, so it lives there without construction.
    auto& inst = *std::launder(static_cast<InstanceData*>(instanceBlock));
    const udm::ComponentRecordView comp(componentBlock);
    const HostCallbacks& host = hostCallbacks();
    // The host's Newton loop calls this one far more than all the others.
    if (mode == UDM_MODE_EVALUATE) [[likely]]
        return evaluateInstance(inst, comp, simulation, host.expression);
    switch (mode) {
        case UDM_MODE_INIT:
            defineInstance(inst, comp, text, host.message);
            return UDM_OK;
        case UDM_MODE_PREPARE:
            return prepareInstance(inst, comp, host.expression);
        case UDM_MODE_ACCEPT: {
#ifdef UDM_BREAK_ACCEPT_NEEDS_BLOCKS  // fault: acceptance insists on the inner blocks
            const BlockLocks<2> inner({comp.vectorBlock(), comp.matrixBlock()});
            if (inner.status() != UDM_OK) return inner.status();
#endif
            acceptStep(inst);
            return UDM_OK;
        }
        case UDM_MODE_OUTPUT_INDEX:
            resolveOutputIndex(text, out);
            return UDM_OK;
        case UDM_MODE_OUTPUT_VALUE:
            return readOutputValue(inst, comp, simulation, out);
        case UDM_MODE_RELEASE:
            releaseInstance(inst);
            return UDM_OK;
        default:  // not a phase of this interface: nothing to do
#ifdef UDM_BREAK_UNKNOWN_MODE  // fault: an unknown mode resets the state
            inst.state = 0;
            inst.acceptedState = 1;
#endif
            return UDM_OK;
    }
}

// Kept out of line with the arguments as they came (GCC's noipa; Clang has
// no such attribute, and does not rewrite the signature of a noinline one).
#if defined(__clang__)
#define UDM_OWN_FRAME [[gnu::noinline]]
#else
#define UDM_OWN_FRAME [[gnu::noipa]]
#endif

// Mode 3 in a frame of its own: the host's Newton loop calls it far more
// than all the others, and apart from them it needs few registers.
// Both take the arguments of UDMMain as they came, so that choosing one is a
// compare and a jump.
UDM_OWN_FRAME int32_t evaluationCall(int32_t, char*, void* simulation, double*, HGLOBAL instance,
                                    HGLOBAL component) {
    const BlockPair blocks(instance, component);
    if (blocks.status() != UDM_OK) [[unlikely]]
        return blocks.status();
    auto& inst = *std::launder(static_cast<InstanceData*>(blocks.first()));
    return evaluateInstance(inst, udm::ComponentRecordView(blocks.second()), simulation, hostCallbacks().expression);
}

UDM_OWN_FRAME int32_t otherPhaseCall(int32_t mode, char* text, void* simulation, double* out, HGLOBAL instance,
                                    HGLOBAL component) {
    const BlockPair blocks(instance, component);
    if (blocks.status() != UDM_OK) return blocks.status();
    return runPhase(mode, text, simulation, out, blocks.first(), blocks.second());
}

}  // namespace

int32_t dispatch(int32_t mode, char* text, void* simulation, double* out, HGLOBAL instance,
                 HGLOBAL component) {
    if (mode == UDM_MODE_EVALUATE) [[likely]]
        return evaluationCall(mode, text, simulation, out, instance, component);
    return otherPhaseCall(mode, text, simulation, out, instance, component);
}

}  // namespace vcswitch
