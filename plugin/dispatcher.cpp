#include "dispatcher.h"

#include <new>

#include "registration.h"
#ifdef UDM_BREAK_ACCEPT_NEEDS_BLOCKS
#include "block_locks.h"
#endif
#include "switch_instance.h"

namespace vcswitch {

namespace {

int32_t RunPhase(int32_t mode, char* text, void* simulation, double* out, void* instanceBlock,
                 void* componentBlock) {
    // The host's block is zero-filled memory of at least UDM_INSTANCE_BYTES,
    // aligned as GlobalLock aligns every block; InstanceData is an
    // implicit-lifetime type, so it lives there without construction.
    auto& inst = *std::launder(static_cast<InstanceData*>(instanceBlock));
    const udm::ComponentRecordView comp(componentBlock);
    const HostCallbacks& host = hostCallbacks();
    switch (mode) {
        case UDM_MODE_INIT:
            DefineInstance(inst, comp, text, host.message);
            return UDM_OK;
        case UDM_MODE_PREPARE:
            return PrepareInstance(inst, comp, host.expression);
        case UDM_MODE_EVALUATE:
            return EvaluateInstance(inst, comp, simulation, host.expression);
        case UDM_MODE_ACCEPT: {
#ifdef UDM_BREAK_ACCEPT_NEEDS_BLOCKS  // fault: acceptance insists on the inner blocks
            const VectorMatrixLock blocks(comp);
            if (blocks.status() != UDM_OK) return blocks.status();
#endif
            AcceptStep(inst);
            return UDM_OK;
        }
        case UDM_MODE_OUTPUT_INDEX:
            ResolveOutputIndex(text, out);
            return UDM_OK;
        case UDM_MODE_OUTPUT_VALUE:
            return ReadOutputValue(inst, comp, simulation, out);
        case UDM_MODE_RELEASE:
            ReleaseInstance(inst);
            return UDM_OK;
        default:  // not a phase of this interface: nothing to do
#ifdef UDM_BREAK_UNKNOWN_MODE  // fault: an unknown mode resets the state
            inst.state = 0;
            inst.acceptedState = 1;
#endif
            return UDM_OK;
    }
}

}  // namespace

int32_t Dispatch(int32_t mode, char* text, void* simulation, double* out, HGLOBAL instance,
                 HGLOBAL component) {
    if (instance == nullptr || component == nullptr) return UDM_ERR_NULL_HANDLE;
    void* instanceBlock = GlobalLock(instance);
    if (instanceBlock == nullptr) return UDM_ERR_LOCK_FAILED;
    void* componentBlock = GlobalLock(component);
    if (componentBlock == nullptr) {
#ifndef UDM_BREAK_ERROR_PATH_LOCK  // fault: the instance block stays locked
        GlobalUnlock(instance);
#endif
        return UDM_ERR_LOCK_FAILED;
    }
    const int32_t status = RunPhase(mode, text, simulation, out, instanceBlock, componentBlock);
#ifdef UDM_BREAK_UNLOCK_ORDER  // fault: unlocks in the order it locked
    GlobalUnlock(instance);
    GlobalUnlock(component);
#else
    GlobalUnlock(component);
    GlobalUnlock(instance);
#endif
    return status;
}

}  // namespace vcswitch
