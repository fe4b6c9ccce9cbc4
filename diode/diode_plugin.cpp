// A junction diode as a plug-in of the model interface: terminals A and K,
// the SPICE diode's DC parameters, a linearised stamp per evaluation.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "host_records.h"
#include "junction.h"
#include "udm_interface.h"

namespace {

MessageCallback message = nullptr;
unsigned char entry[UDM_CATALOGUE_ENTRY_BYTES];

struct Item {
    const char* name;
    int32_t kind;
    const char* description;
    const char* defaultText;
};
constexpr Item kCatalogue[] = {
    {"I", UDM_KIND_OUTPUT, "current from anode to cathode", nullptr},
    {"V", UDM_KIND_OUTPUT, "voltage from anode to cathode", nullptr},
    {"IS", UDM_KIND_PARAMETER, "saturation current", "1e-14"},
    {"N", UDM_KIND_PARAMETER, "emission coefficient", "1"},
    {"RS", UDM_KIND_PARAMETER, "series resistance", "0"},
    {"BV", UDM_KIND_PARAMETER, "reverse breakdown voltage (0: none)", "0"},
    {"IBV", UDM_KIND_PARAMETER, "current at the breakdown voltage", "0.001"},
    {"AREA", UDM_KIND_PARAMETER, "area factor", "1"},
    {"M", UDM_KIND_PARAMETER, "parallel copies", "1"},
    {"A", UDM_KIND_TERMINAL, "anode", nullptr},
    {"K", UDM_KIND_TERMINAL, "cathode", nullptr},
};
constexpr size_t kParameters = 7;

// Instance block: the parameters, then what the last evaluation found.
constexpr size_t kJunctionVoltage = 8 * kParameters, kCurrent = kJunctionVoltage + 8, kVoltage = kCurrent + 8;
constexpr size_t kInstanceBytes = kVoltage + 8;

udmdiode::DiodeParameters parametersOf(const unsigned char* data) {
    udmdiode::DiodeParameters p;
    double* fields[kParameters] = {&p.saturationCurrent, &p.emission, &p.seriesResistance, &p.breakdownVoltage,
                                   &p.breakdownCurrent,  &p.area,     &p.multiplier};
    for (size_t i = 0; i < kParameters; ++i) *fields[i] = udm::loadAt<double>(data, 8 * i);
    return p;
}

// Reads the comma-separated numbers; false (with a message) when one is
// not a number or out of its range.
bool define(unsigned char* data, const char* text) {
    const char* at = text == nullptr ? "" : text;
    for (size_t i = 0; i < kParameters; ++i) {
        char* end = nullptr;
        double value = std::strtod(at, &end);
        const bool empty = end == at && (*at == ',' || *at == '\0');
        if (empty) value = std::strtod(kCatalogue[2 + i].defaultText, nullptr);
        else if (end == at || (*end != ',' && *end != '\0') || !std::isfinite(value)) {
            if (message != nullptr) message(UDM_SEVERITY_FAILURE, "DIODE: every parameter must be a plain number");
            return false;
        }
        udm::storeAt<double>(data, 8 * i, value);
        at = end;
        if (*at == ',') ++at;
    }
    const udmdiode::DiodeParameters p = parametersOf(data);
    if (!(p.saturationCurrent > 0.0 && p.emission > 0.0 && p.seriesResistance >= 0.0 && p.breakdownVoltage >= 0.0 &&
          p.breakdownCurrent > 0.0 && p.area > 0.0 && p.multiplier > 0.0)) {
        if (message != nullptr)
            message(UDM_SEVERITY_FAILURE, "DIODE: IS, N, IBV, AREA and M must be positive, RS and BV not negative");
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

UDM_EXPORT int UDM_CALL UDMInit(MessageCallback m, ExpressionCallback, RegistrationRecord* record) {
    message = m;
    record->interfaceCode = UDM_REG_INTERFACE;
    record->instanceBytes = kInstanceBytes;
    record->reserved = 0;
    return 0;
}

UDM_EXPORT int UDM_CALL GetPlugIn(UDMInitFn* slot) {
    *slot = UDMInit;
    return 2;
}

UDM_EXPORT int UDM_CALL GetVersionNumber(void) { return 1; }

UDM_EXPORT void* UDM_CALL ListNodeInfo(uint32_t index) {
    if (index >= sizeof kCatalogue / sizeof kCatalogue[0]) return nullptr;
    const Item& item = kCatalogue[index];
    std::memset(entry, 0, sizeof entry);
    std::strcpy(reinterpret_cast<char*>(entry + UDM_CAT_NAME), item.name);
    udm::storeAt<int32_t>(entry, UDM_CAT_KIND, item.kind);
    std::strcpy(reinterpret_cast<char*>(entry + UDM_CAT_DESCRIPTION), item.description);
    if (item.defaultText != nullptr) std::strcpy(reinterpret_cast<char*>(entry + UDM_CAT_DEFAULT), item.defaultText);
    return entry;
}

UDM_EXPORT int32_t UDM_CALL UDMMain(int32_t mode, char* text, void* simulation, double* out, HGLOBAL instance,
                                    HGLOBAL component) {
    if (instance == nullptr || component == nullptr) return UDM_ERR_NULL_HANDLE;
    auto* data = static_cast<unsigned char*>(GlobalLock(instance));
    void* record = GlobalLock(component);
    if (data == nullptr || record == nullptr) {
        if (record != nullptr) GlobalUnlock(component);
        if (data != nullptr) GlobalUnlock(instance);
        return UDM_ERR_LOCK_FAILED;
    }
    const udm::ComponentRecordView c(record);
    int32_t status = 0;
    switch (mode) {
        case UDM_MODE_INIT:
            define(data, text);
            c.setEntryCount(4);
            break;
        case UDM_MODE_PREPARE: {
            void* matrix = GlobalLock(c.matrixBlock());
            if (matrix == nullptr) {
                status = UDM_ERR_LOCK_FAILED;
                break;
            }
            const int32_t rows[4] = {0, 0, 1, 1}, cols[4] = {0, 1, 0, 1};
            for (size_t k = 0; k < 4; ++k) {
                udm::storeAt<int32_t>(matrix, c.rowIndexOffset() + 4 * k, rows[k]);
                udm::storeAt<int32_t>(matrix, c.colIndexOffset() + 4 * k, cols[k]);
            }
            GlobalUnlock(c.matrixBlock());
            break;
        }
        case UDM_MODE_EVALUATE: {
            void* vector = GlobalLock(c.vectorBlock());
            void* matrix = vector == nullptr ? nullptr : GlobalLock(c.matrixBlock());
            if (matrix == nullptr) {
                if (vector != nullptr) GlobalUnlock(c.vectorBlock());
                status = UDM_ERR_LOCK_FAILED;
                break;
            }
            const double v = udm::loadAt<double>(vector, c.nodeValueOffset()) -
                             udm::loadAt<double>(vector, c.nodeValueOffset() + 8);
            const udmdiode::Linearised l =
                udmdiode::linearise(parametersOf(data), v, udm::loadAt<double>(data, kJunctionVoltage));
            udm::storeAt<double>(data, kJunctionVoltage, l.junctionVoltage);
            udm::storeAt<double>(data, kCurrent, l.offset + l.conductance * v);
            udm::storeAt<double>(data, kVoltage, v);
            const double stamp[4] = {l.conductance, -l.conductance, -l.conductance, l.conductance};
            for (size_t k = 0; k < 4; ++k) udm::storeAt<double>(matrix, c.matrixValueOffset() + 8 * k, stamp[k]);
            // The offset current leaves the anode and enters the cathode.
            udm::storeAt<double>(vector, c.rhsOffset(), -l.offset);
            udm::storeAt<double>(vector, c.rhsOffset() + 8, l.offset);
            GlobalUnlock(c.matrixBlock());
            GlobalUnlock(c.vectorBlock());
            break;
        }
        case UDM_MODE_OUTPUT_INDEX:
            if (out != nullptr)
                *out = text == nullptr ? 0.0 : std::strcmp(text, "I") == 0 ? 1.0 : std::strcmp(text, "V") == 0 ? 2.0 : 0.0;
            break;
        case UDM_MODE_OUTPUT_VALUE: {
            const double selector = simulation == nullptr ? 0.0 : udm::loadAt<double>(simulation, UDM_SIM_SELECTOR);
            if (out != nullptr)
                *out = selector == 1.0 ? udm::loadAt<double>(data, kCurrent)
                       : selector == 2.0 ? udm::loadAt<double>(data, kVoltage)
                                         : 0.0;
            break;
        }
        default: break;
    }
    GlobalUnlock(component);
    GlobalUnlock(instance);
    return status;
}

}  // extern "C"
