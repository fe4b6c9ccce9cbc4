// The five functions a host finds by name.
#include "dispatcher.h"
#include "registration.h"
#include "udm_interface.h"

namespace vcswitch {

constinit HostCallbacks g_hostCallbacks;

}  // namespace vcswitch

extern "C" {

UDM_EXPORT int UDM_CALL GetPlugIn(UDMInitFn* slot) {
    if (slot != nullptr) *slot = &UDMInit;
    return UDM_PLUGIN_VERSION;
}

UDM_EXPORT int UDM_CALL UDMInit(MessageCallback message, ExpressionCallback expression,
                                RegistrationRecord* record) {
    auto& callbacks = vcswitch::hostCallbacks();
    callbacks.message = message;
    callbacks.expression = expression;
    if (record != nullptr) {
        record->interfaceCode = UDM_REG_INTERFACE;
#ifdef UDM_BREAK_BLOCK_SIZE  // fault: registers less than its instance record needs
        record->instanceBytes = 128;
#else
        record->instanceBytes = UDM_INSTANCE_BYTES;
#endif
        record->reserved = UDM_REG_RESERVED;
    }
    return 0;
}

UDM_EXPORT int UDM_CALL GetVersionNumber(void) { return UDM_PLUGIN_VERSION; }

UDM_EXPORT int32_t UDM_CALL UDMMain(int32_t mode, char* text, void* simulation, double* out,
                                    HGLOBAL instance, HGLOBAL component) {
    return vcswitch::dispatch(mode, text, simulation, out, instance, component);
}

}  // extern "C"
