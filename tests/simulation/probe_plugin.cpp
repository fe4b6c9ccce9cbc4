// A small plug-in of the model interface that the simulation tests host
// beside the real one: a hysteresis switch (same terminals and parameters)
// with a parameter FAILAT that makes it report a failure from that time
// on, a count of release calls that the tests can read, and an output DN1
// with the time derivative of terminal N1 that the host last handed it.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "host_records.h"
#include "udm_interface.h"

namespace {

MessageCallback gMessage = nullptr;
ExpressionCallback gExpression = nullptr;
int gReleases = 0;

constexpr int kParams = 6;  // RON ROFF VTHRES VHYST CTRL0 FAILAT

struct Probe {
    double value[kParams];
    bool isExpression[kParams];
    char text[kParams][64];
    double ids[kParams][2];
    int state, accepted;
    double conductance;
};

struct Entry {
    const char* name;
    int32_t kind;
    const char* defaultText;
};
const Entry kCatalogue[] = {
    {"STATE", UDM_KIND_OUTPUT, ""},     {"DN1", UDM_KIND_OUTPUT, ""},       {"RON", UDM_KIND_PARAMETER, "1"},
    {"ROFF", UDM_KIND_PARAMETER, "1e9"}, {"VTHRES", UDM_KIND_PARAMETER, "0"}, {"VHYST", UDM_KIND_PARAMETER, "0"},
    {"CTRL0", UDM_KIND_PARAMETER, "0"}, {"FAILAT", UDM_KIND_PARAMETER, "-1"}, {"N1", UDM_KIND_TERMINAL, ""},
    {"N2", UDM_KIND_TERMINAL, ""},     {"NC1", UDM_KIND_TERMINAL, ""},     {"NC2", UDM_KIND_TERMINAL, ""}};
unsigned char gEntry[UDM_CATALOGUE_ENTRY_BYTES];

template <class F>
int32_t withBlocks(udm::ComponentRecordView comp, F&& f) {
    auto* vec = static_cast<unsigned char*>(GlobalLock(comp.vectorBlock()));
    auto* mat = static_cast<unsigned char*>(GlobalLock(comp.matrixBlock()));
    if (vec == nullptr || mat == nullptr) return UDM_ERR_LOCK_FAILED;
    f(vec, mat);
    GlobalUnlock(comp.matrixBlock());
    GlobalUnlock(comp.vectorBlock());
    return UDM_OK;
}

void define(Probe& p, udm::ComponentRecordView comp, char* text) {
    for (int i = 0; i < kParams && text != nullptr; ++i) {
        char* comma = std::strchr(text, ',');
        if (comma != nullptr) *comma = '\0';
        char* end = nullptr;
        const double v = std::strtod(text, &end);
        if (end != text && *end == '\0') {
            p.value[i] = v;
        } else {
            p.isExpression[i] = true;
            std::strncpy(p.text[i], text, sizeof p.text[i] - 1);
        }
        text = comma != nullptr ? comma + 1 : nullptr;
    }
    comp.setEntryCount(4);
}

int32_t evaluate(Probe& p, udm::ComponentRecordView comp, const void* simulation) {
    const udm::SimulationRecordView sim(simulation);
    for (int i = 0; i < kParams; ++i) {
        if (!p.isExpression[i]) continue;
        double out[2] = {0, 0};
        gExpression(UDM_EXPR_EVALUATE, nullptr, p.ids[i], out);
        p.value[i] = out[0];
    }
    if (p.value[5] >= 0.0 && sim.time() >= p.value[5]) gMessage(UDM_SEVERITY_FAILURE, "probe failure");
    return withBlocks(comp, [&](unsigned char* vectorBlock, unsigned char* matrixBlock) {
        const udm::VectorBlockView vec(vectorBlock, comp);
        const udm::MatrixBlockView mat(matrixBlock, comp);
        const double v = vec.node(2) - vec.node(3);
        if (sim.time() < sim.startTime()) {
            p.accepted = static_cast<int>(p.value[4]);
            p.state = p.accepted == 1;
        } else if (p.accepted == 1) {
            p.state = v <= p.value[2] - p.value[3] ? 0 : 1;
        } else {
            p.state = v < p.value[2] + p.value[3] ? 0 : 1;
        }
        p.conductance = 1.0 / (p.state == 1 ? p.value[0] : p.value[1]);
        const double g = p.conductance, stamp[4] = {g, -g, -g, g};
        for (size_t k = 0; k < 4; ++k) mat.setValue(k, stamp[k]);
        vec.setRhs(0, 0.0);
        vec.setRhs(1, 0.0);
        // FAILAT -2: a leak of 10 uA into the control terminal, which no
        // matrix entry shows.
        if (p.value[5] == -2.0) vec.setRhs(2, 1e-5);
    });
}

}  // namespace

extern "C" {

UDM_EXPORT int UDM_CALL UDMInit(MessageCallback message, ExpressionCallback expression, RegistrationRecord* r) {
    gMessage = message;
    gExpression = expression;
    *r = RegistrationRecord{UDM_REG_INTERFACE, static_cast<uint16_t>(sizeof(Probe)), 0};
    return 0;
}

UDM_EXPORT int UDM_CALL GetPlugIn(UDMInitFn* slot) {
    *slot = &UDMInit;
    return UDM_PLUGIN_VERSION;
}

UDM_EXPORT int UDM_CALL GetVersionNumber(void) { return UDM_PLUGIN_VERSION; }

UDM_EXPORT void* UDM_CALL ListNodeInfo(uint32_t index) {
    if (index >= sizeof kCatalogue / sizeof kCatalogue[0]) return nullptr;
    std::memset(gEntry, 0, sizeof gEntry);
    const udm::CatalogueEntryWriter entry(gEntry);
    entry.setName(kCatalogue[index].name);
    entry.setKind(kCatalogue[index].kind);
    entry.setDefaultText(kCatalogue[index].defaultText);
    return gEntry;
}

UDM_EXPORT int32_t UDM_CALL UDMMain(int32_t mode, char* text, void* simulation, double* out, HGLOBAL instance,
                                    HGLOBAL component) {
    auto* p = static_cast<Probe*>(GlobalLock(instance));
    void* record = GlobalLock(component);
    const udm::ComponentRecordView comp(record);
    int32_t status = UDM_OK;
    switch (mode) {
        case UDM_MODE_INIT: define(*p, comp, text); break;
        case UDM_MODE_PREPARE:
            for (int i = 0; i < kParams; ++i)
                if (p->isExpression[i]) gExpression(UDM_EXPR_REGISTER, p->text[i], nullptr, p->ids[i]);
            status = withBlocks(comp, [&](unsigned char*, unsigned char* matrixBlock) {
                const udm::MatrixBlockView mat(matrixBlock, comp);
                const int32_t rows[4] = {0, 0, 1, 1}, cols[4] = {0, 1, 0, 1};
                for (size_t k = 0; k < 4; ++k) {
                    mat.setRowIndex(k, rows[k]);
                    mat.setColumnIndex(k, cols[k]);
                }
            });
            break;
        case UDM_MODE_EVALUATE: status = evaluate(*p, comp, simulation); break;
        case UDM_MODE_ACCEPT: p->accepted = p->state; break;
        case UDM_MODE_OUTPUT_INDEX:
            *out = std::strcmp(text, "STATE") == 0 ? 1.0 : std::strcmp(text, "DN1") == 0 ? 2.0 : 0.0;
            break;
        case UDM_MODE_OUTPUT_VALUE: {
            const double index = udm::SimulationRecordView(simulation).selector();
            // The derivative as the host hands it with the accepted point.
            if (index == 2.0)
                withBlocks(comp, [&](unsigned char* vectorBlock, unsigned char*) {
                    *out = udm::VectorBlockView(vectorBlock, comp).derivative(0);
                });
            else *out = index == 1.0 ? p->state : 0.0;
            break;
        }
        case UDM_MODE_RELEASE: ++gReleases; break;
        default: break;
    }
    GlobalUnlock(component);
    GlobalUnlock(instance);
    return status;
}

// Test hook: how many instances were released since the library was loaded.
UDM_EXPORT int ProbeReleaseCount(void) { return gReleases; }

}  // extern "C"
