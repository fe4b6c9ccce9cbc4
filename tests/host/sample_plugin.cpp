// A small two-terminal resistor plug-in for testing hosts. Built several
// times: once well-behaved, and once for each defect that the compliance
// check must catch (SAMPLE_DEFECT).
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "host_records.h"
#include "udm_interface.h"

#ifndef SAMPLE_DEFECT
#define SAMPLE_DEFECT 0
#endif
#define DEFECT_NONE 0
#define DEFECT_LEAVES_LOCKED 1   // mode 3 leaves the instance block locked
#define DEFECT_WRITES_OUTSIDE 2  // mode 3 writes one value past its entries
#define DEFECT_CHATTY 3          // mode 4 reports a message
#define DEFECT_NAN_OUTPUT 10     // mode 6 returns NaN
#define DEFECT_NO_INSTANCE 11    // registers an instance block of 0 bytes

namespace {

MessageCallback message = nullptr;
ExpressionCallback expression = nullptr;
unsigned char entry[UDM_CATALOGUE_ENTRY_BYTES];

struct Item {
    const char* name;
    int32_t kind;
    const char* description;
    const char* defaultText;
};
constexpr Item kCatalogue[] = {
    {"I", UDM_KIND_OUTPUT, "current", nullptr},
    {"R", UDM_KIND_PARAMETER, "resistance", "1k"},
    {"A", UDM_KIND_TERMINAL, "first terminal", nullptr},
    {"B", UDM_KIND_TERMINAL, "second terminal", nullptr},
};

// Instance block: resistance, expression flag and identifiers, conductance.
constexpr size_t kResistance = 0, kIsExpression = 8, kId1 = 12, kId2 = 16, kConductance = 24, kText = 32;
constexpr size_t kInstanceBytes = 96;

}  // namespace

extern "C" {

UDM_EXPORT int UDM_CALL UDMInit(MessageCallback m, ExpressionCallback e, RegistrationRecord* record) {
    message = m;
    expression = e;
    record->interfaceCode = UDM_REG_INTERFACE;
    record->instanceBytes = SAMPLE_DEFECT == DEFECT_NO_INSTANCE ? 0 : kInstanceBytes;
    record->reserved = 0;
    return 0;
}

UDM_EXPORT int UDM_CALL GetPlugIn(UDMInitFn* slot) {
    *slot = UDMInit;
    return 2;
}

UDM_EXPORT int UDM_CALL GetVersionNumber(void) { return 2; }

UDM_EXPORT void* UDM_CALL ListNodeInfo(uint32_t index) {
    if (index >= sizeof kCatalogue / sizeof kCatalogue[0]) return nullptr;
    const Item& item = kCatalogue[index];
    std::memset(entry, 0, sizeof entry);
    const udm::CatalogueEntryWriter writer(entry);
    writer.setName(item.name);
    writer.setKind(item.kind);
    writer.setDescription(item.description);
    if (item.defaultText != nullptr) writer.setDefaultText(item.defaultText);
    return entry;
}

UDM_EXPORT int32_t UDM_CALL UDMMain(int32_t mode, char* text, void* simulation, double* out, HGLOBAL instance,
                                    HGLOBAL component) {
    if (instance == nullptr || component == nullptr) return UDM_ERR_NULL_HANDLE;
    auto* data = static_cast<unsigned char*>(GlobalLock(instance));
    void* record = GlobalLock(component);
    const udm::ComponentRecordView c(record);
    switch (mode) {
        case UDM_MODE_INIT: {
            char* end = nullptr;
            double r = std::strtod(text, &end);
            if (end != nullptr && *end == 'k') r *= 1e3, ++end;
            const bool isExpression = end == text || *end != '\0';
            udm::storeAt<double>(data, kResistance, r);
            udm::storeAt<int32_t>(data, kIsExpression, isExpression ? 1 : 0);
            if (isExpression) std::strncpy(reinterpret_cast<char*>(data + kText), text, kInstanceBytes - kText - 1);
            c.setEntryCount(4);
            break;
        }
        case UDM_MODE_PREPARE: {
            const udm::MatrixBlockView matrix(GlobalLock(c.matrixBlock()), c);
            const int32_t rows[4] = {0, 0, 1, 1}, cols[4] = {0, 1, 0, 1};
            for (size_t k = 0; k < 4; ++k) {
                matrix.setRowIndex(k, rows[k]);
                matrix.setColumnIndex(k, cols[k]);
            }
            if (udm::loadAt<int32_t>(data, kIsExpression) != 0) {
                double ids[2] = {0.0, 0.0};
                expression(UDM_EXPR_REGISTER, reinterpret_cast<const char*>(data + kText), nullptr, ids);
                udm::storeAt<int32_t>(data, kId1, static_cast<int32_t>(ids[0]));
                udm::storeAt<int32_t>(data, kId2, static_cast<int32_t>(ids[1]));
            }
            GlobalUnlock(c.matrixBlock());
            break;
        }
        case UDM_MODE_EVALUATE: {
            if (udm::loadAt<int32_t>(data, kIsExpression) != 0) {
                double ids[2] = {static_cast<double>(udm::loadAt<int32_t>(data, kId1)),
                                 static_cast<double>(udm::loadAt<int32_t>(data, kId2))};
                double value[2] = {0.0, 0.0};
                expression(UDM_EXPR_EVALUATE, nullptr, ids, value);
                udm::storeAt<double>(data, kResistance, value[0]);
            }
            const double g = 1.0 / udm::loadAt<double>(data, kResistance);
            udm::storeAt<double>(data, kConductance, g);
            const udm::VectorBlockView vector(GlobalLock(c.vectorBlock()), c);
            const udm::MatrixBlockView matrix(GlobalLock(c.matrixBlock()), c);
            const double stamp[4] = {g, -g, -g, g};
            const size_t entries = SAMPLE_DEFECT == DEFECT_WRITES_OUTSIDE ? 5 : 4;
            for (size_t k = 0; k < entries; ++k) matrix.setValue(k, stamp[k % 4]);
            vector.setRhs(0, 0.0);
            vector.setRhs(1, 0.0);
            GlobalUnlock(c.matrixBlock());
            GlobalUnlock(c.vectorBlock());
            if (SAMPLE_DEFECT == DEFECT_LEAVES_LOCKED) GlobalLock(instance);
            break;
        }
        case UDM_MODE_ACCEPT:
            if (SAMPLE_DEFECT == DEFECT_CHATTY) message(UDM_SEVERITY_WARNING, "step accepted");
            break;
        case UDM_MODE_OUTPUT_INDEX: *out = std::strcmp(text, "I") == 0 ? 1.0 : 0.0; break;
        case UDM_MODE_OUTPUT_VALUE: {
            const udm::VectorBlockView vector(GlobalLock(c.vectorBlock()), c);
            const double v = vector.node(0) - vector.node(1);
            const double selector = udm::SimulationRecordView(simulation).selector();
            *out = selector == 1.0 ? v * udm::loadAt<double>(data, kConductance) : 0.0;
            if (SAMPLE_DEFECT == DEFECT_NAN_OUTPUT) *out = std::nan("");
            GlobalUnlock(c.vectorBlock());
            break;
        }
        default: break;
    }
    GlobalUnlock(component);
    GlobalUnlock(instance);
    return 0;
}

}  // extern "C"
