// Loads the installed plug-in, registers, and runs one instance through the
// phases it has, with blocks from the linked platform library.
#include <dlfcn.h>

#include <cstdio>

#include "host_records.h"
#include "udm_interface.h"

namespace {
int UDM_CALL OnMessage(int severity, const char* text) {
    std::printf("message %d: %s\n", severity, text);
    return 0;
}
int UDM_CALL OnExpression(int, const char*, double*, double* out) {
    out[0] = out[1] = 0.0;
    return 0;
}
}  // namespace

int main() {
    void* library = dlopen(PLUGIN_PATH, RTLD_NOW);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto getPlugIn = reinterpret_cast<GetPlugInFn>(dlsym(library, "GetPlugIn"));
    auto udmMain = reinterpret_cast<UDMMainFn>(dlsym(library, "UDMMain"));
    UDMInitFn init = nullptr;
    if (getPlugIn == nullptr || udmMain == nullptr || getPlugIn(&init) != 2 || init == nullptr) return 1;
    RegistrationRecord reg{};
    init(&OnMessage, &OnExpression, &reg);
    HGLOBAL instance = GlobalAlloc(GHND, reg.instanceBytes);
    HGLOBAL component = GlobalAlloc(GHND, UDM_COMPONENT_RECORD_BYTES);
    char definition[] = "1m,1meg,2.5,0.5,0";
    const int32_t status = udmMain(UDM_MODE_INIT, definition, nullptr, nullptr, instance, component);
    udm::ComponentRecordView record(GlobalLock(component));
    const unsigned entries = record.entryCount();
    GlobalUnlock(component);
    udmMain(UDM_MODE_RELEASE, nullptr, nullptr, nullptr, instance, component);
    GlobalFree(component);
    GlobalFree(instance);
    std::printf("registration %u %u %u, status %d, matrix entries %u\n", reg.interfaceCode, reg.instanceBytes,
                reg.reserved, status, entries);
    return status == 0 ? 0 : 1;
}
