// A junction diode as a plug-in of the model interface: terminals A and K,
// the SPICE diode's parameters, a linearised stamp per evaluation with the
// companion model of the junction's charge under the host's integration rule.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "block_locks.h"
#include "host_records.h"
#include "junction.h"
#include "udm_interface.h"

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
    {"I", UDM_KIND_OUTPUT, "current from anode to cathode", nullptr},
    {"V", UDM_KIND_OUTPUT, "voltage from anode to cathode", nullptr},
    {"STATE", UDM_KIND_OUTPUT, "conducting (1: junction forward biased) or not (0)", nullptr},
    {"Q", UDM_KIND_OUTPUT, "charge stored in the junction (depletion and diffusion)", nullptr},
    {"IS", UDM_KIND_PARAMETER, "saturation current", "1e-14"},
    {"N", UDM_KIND_PARAMETER, "emission coefficient", "1"},
    {"RS", UDM_KIND_PARAMETER, "series resistance", "0"},
    {"BV", UDM_KIND_PARAMETER, "reverse breakdown voltage (0: none)", "0"},
    {"IBV", UDM_KIND_PARAMETER, "current at the breakdown voltage", "0.001"},
    {"AREA", UDM_KIND_PARAMETER, "area factor", "1"},
    {"M", UDM_KIND_PARAMETER, "parallel copies", "1"},
    {"CJO", UDM_KIND_PARAMETER, "zero-bias junction capacitance", "0"},
    {"VJ", UDM_KIND_PARAMETER, "junction potential", "1"},
    {"MJ", UDM_KIND_PARAMETER, "junction grading coefficient", "0.5"},
    {"FC", UDM_KIND_PARAMETER, "forward-bias depletion coefficient", "0.5"},
    {"TT", UDM_KIND_PARAMETER, "transit time", "0"},
    {"A", UDM_KIND_TERMINAL, "anode", nullptr},
    {"K", UDM_KIND_TERMINAL, "cathode", nullptr},
};
constexpr size_t kParameters = 12;
constexpr size_t kFirstParameter = 4;  // in the catalogue

// Instance block: the parameter values, which of them are expressions the
// host evaluates (with their identifiers and owned copies of their texts),
// the junction voltage of the last evaluation and of the last accepted step,
// what the last evaluation found, then the junction's charge and the
// current into it at the last evaluation and at the last accepted points
// (the charge also at the one before), which the integration rule needs,
// and the junction voltage of the last Newton iterate with its solve.
constexpr size_t kIsExpression = 8 * kParameters;                   // int32 each
constexpr size_t kIds = kIsExpression + 4 * kParameters;            // two int32 each
constexpr size_t kJunctionVoltage = (kIds + 8 * kParameters + 7) / 8 * 8;
constexpr size_t kAcceptedJunctionVoltage = kJunctionVoltage + 8;
constexpr size_t kCurrent = kAcceptedJunctionVoltage + 8, kVoltage = kCurrent + 8;
constexpr size_t kCharge = kVoltage + 8, kChargeCurrent = kCharge + 8;
constexpr size_t kAcceptedCharge = kChargeCurrent + 8, kOlderCharge = kAcceptedCharge + 8;
constexpr size_t kAcceptedChargeCurrent = kOlderCharge + 8;
constexpr size_t kTexts = kAcceptedChargeCurrent + 8;               // a char* each
// Conduction (int32) at the last evaluation and at the last accepted step.
constexpr size_t kConducting = kTexts + sizeof(char*) * kParameters;
constexpr size_t kAcceptedConducting = kConducting + 4;
constexpr size_t kIterateJunctionVoltage = (kAcceptedConducting + 4 + 7) / 8 * 8;
constexpr size_t kIterateSolve = kIterateJunctionVoltage + 8;
constexpr size_t kInstanceBytes = kIterateSolve + 8;

char* textAt(const unsigned char* data, size_t i) { return udm::loadAt<char*>(data, kTexts + sizeof(char*) * i); }

double defaultOf(size_t i) { return std::strtod(kCatalogue[kFirstParameter + i].defaultText, nullptr); }

// Fields that may be zero: RS, BV, CJO, MJ, FC and TT; the others must be
// positive. MJ and FC are taken at most 0.9 and 0.95 by the charge law.
bool mayBeZero(size_t i) { return i == 2 || i == 3 || i == 7 || i == 9 || i == 10 || i == 11; }
bool inRange(size_t i, double v) { return std::isfinite(v) && (v > 0.0 || (mayBeZero(i) && v == 0.0)); }

// The parameters in use. A value out of its range (a number at definition,
// an expression's value at its refresh) is stored as the default, so that
// every stamp is finite and an evaluation reads the slots as they are.
double usableValue(size_t i, double v) { return inRange(i, v) ? v : defaultOf(i); }

udmdiode::DiodeParameters parametersOf(const unsigned char* data) {
    static_assert(std::is_standard_layout_v<udmdiode::DiodeParameters> &&
                  sizeof(udmdiode::DiodeParameters) == 8 * kParameters);
    udmdiode::DiodeParameters p;
    std::memcpy(&p, data, sizeof p);  // the slots in the order of the fields
    return p;
}

// Whether some parameter is an expression, without a branch per slot.
bool anyExpression(const unsigned char* data) {
    int32_t any = 0;
    for (size_t i = 0; i < kParameters; ++i) any |= udm::loadAt<int32_t>(data, kIsExpression + 4 * i);
    return any != 0;
}

// The charge's companion under the rule the host integrates with at this
// evaluation: the charge current is rate * q plus what the accepted points
// give. Weights that are not finite count as an operating point.
udmdiode::ChargeCompanion companionOf(const unsigned char* data, const void* simulation) {
    if (simulation == nullptr) return {};
    const udm::SimulationRecordView record(simulation);
    const double ofNew = record.rateOfNew(), ofOlder = record.rateOfOlder(), ofLast = record.rateOfLastDerivative();
    if (!std::isfinite(ofNew) || !std::isfinite(ofOlder) || !std::isfinite(ofLast) || ofNew == 0.0) return {};
    const double q1 = udm::loadAt<double>(data, kAcceptedCharge), q2 = udm::loadAt<double>(data, kOlderCharge);
    const double i1 = udm::loadAt<double>(data, kAcceptedChargeCurrent);
    return {ofNew, -ofNew * q1 + ofOlder * (q2 - q1) - ofLast * i1};
}

// A decimal number with a full stop whatever the process's locale, blanks
// around it allowed; anything else is not a number.
bool parseNumber(const std::string& field, double* value) {
    const size_t first = field.find_first_not_of(' ');
    const size_t last = field.find_last_not_of(' ');
    if (first == std::string::npos) return false;
    const char* begin = field.data() + first;
    const char* end = field.data() + last + 1;
    if (*begin == '+') ++begin;
    const std::from_chars_result r = std::from_chars(begin, end, *value);
    return r.ec == std::errc() && r.ptr == end && std::isfinite(*value);
}

// Texts are owned by the instance from definition to release.
void releaseTexts(unsigned char* data) {
    for (size_t i = 0; i < kParameters; ++i) {
        std::free(textAt(data, i));
        udm::storeAt<char*>(data, kTexts + sizeof(char*) * i, nullptr);  // a repeated release frees nothing
    }
}

// Reads the comma-separated fields: a number, or else an expression for
// the host. Reports a number out of its range or a text that cannot be kept.
void define(unsigned char* data, const char* text) {
    const char* at = text == nullptr ? "" : text;
    for (size_t i = 0; i < kParameters; ++i) {
        const char* end = std::strchr(at, ',');
        if (end == nullptr) end = at + std::strlen(at);
        const std::string field(at, static_cast<size_t>(end - at));
        double value = 0.0;
        const bool empty = field.find_first_not_of(' ') == std::string::npos;
        const bool number = !empty && parseNumber(field, &value);
        if (empty) value = defaultOf(i);
        udm::storeAt<int32_t>(data, kIsExpression + 4 * i, !empty && !number ? 1 : 0);
        udm::storeAt<char*>(data, kTexts + sizeof(char*) * i, nullptr);  // earlier texts are release's to free
        if (!empty && !number) {
            value = defaultOf(i);
            char* copy = static_cast<char*>(std::malloc(field.size() + 1));
            if (copy != nullptr) std::memcpy(copy, field.c_str(), field.size() + 1);
            else if (message != nullptr) message(UDM_SEVERITY_FAILURE, "DIODE: no memory for a parameter expression");
            udm::storeAt<char*>(data, kTexts + sizeof(char*) * i, copy);
        } else if (number && !inRange(i, value) && message != nullptr) {
            message(UDM_SEVERITY_FAILURE,
                    "DIODE: IS, N, IBV, AREA, M and VJ must be positive, RS, BV, CJO, MJ, FC and TT not negative");
        } else if (number && message != nullptr &&
                   ((i == 9 && value > udmdiode::kLargestGrading) ||
                    (i == 10 && value > udmdiode::kLargestForwardCoefficient))) {
            message(UDM_SEVERITY_WARNING, i == 9 ? "DIODE: MJ above 0.9 is taken as 0.9" : "DIODE: FC above 0.95 is taken as 0.95");
        }
        udm::storeAt<double>(data, 8 * i, usableValue(i, value));
        at = *end == ',' ? end + 1 : end;
    }
}

// Conducting: the junction forward biased. A diode that stores charge (CJO
// or TT) reports it as Q: the host bounds its step by that charge's
// truncation error, as a capacitor's, which steps through the end of a
// reverse recovery (the junction falling from forward bias to reverse within
// nanoseconds) without ringing, and this state is then only an output. A
// diode without charge turns on and off within a step, which the host
// locates as a switching of this state. It turns a nanovolt above zero
// bias, not at zero: a junction at rest at zero bias (two charge-free
// diodes back to back around a floating node, as makers model ESD
// protection) carries nothing there, and the sign of its voltage is the
// rounding of the node voltages around it (some 1e-15 V at 10 V), which
// turned the state at every step. Nothing a circuit does rests a nanovolt
// into forward bias.
constexpr double kConductingAbove = 1e-9;  // volts
int32_t conductingAt(double junctionVoltage) { return junctionVoltage > kConductingAbove ? 1 : 0; }

}  // namespace

extern "C" {

UDM_EXPORT int UDM_CALL UDMInit(MessageCallback m, ExpressionCallback e, RegistrationRecord* record) {
    message = m;
    expression = e;
    record->interfaceCode = UDM_REG_INTERFACE;
    record->instanceBytes = kInstanceBytes;
    record->reserved = 0;
    return 0;
}

UDM_EXPORT int UDM_CALL GetPlugIn(UDMInitFn* slot) {
    *slot = UDMInit;
    return 2;
}

UDM_EXPORT int UDM_CALL GetVersionNumber(void) { return 2; }  // the interface version

UDM_EXPORT void* UDM_CALL ListNodeInfo(uint32_t index) {
    if (index >= sizeof kCatalogue / sizeof kCatalogue[0]) return nullptr;
    const Item& item = kCatalogue[index];
    std::memset(entry, 0, sizeof entry);
    const udm::CatalogueEntryWriter record(entry);
    record.setName(item.name);
    record.setKind(item.kind);
    record.setDescription(item.description);
    if (item.defaultText != nullptr) record.setDefaultText(item.defaultText);
    return entry;
}

UDM_EXPORT int32_t UDM_CALL UDMMain(int32_t mode, char* text, void* simulation, double* out, HGLOBAL instance,
                                    HGLOBAL component) {
    const vcswitch::BlockLocks<2> outer({instance, component});
    if (outer.status() != 0) return outer.status();
    auto* data = static_cast<unsigned char*>(outer.block(0));
    const udm::ComponentRecordView c(outer.block(1));
    int32_t status = 0;
    switch (mode) {
        case UDM_MODE_INIT:
            define(data, text);
            udm::storeAt<double>(data, kJunctionVoltage, 0.0);
            udm::storeAt<double>(data, kAcceptedJunctionVoltage, 0.0);
            udm::storeAt<int32_t>(data, kConducting, 0);
            udm::storeAt<int32_t>(data, kAcceptedConducting, 0);
            for (size_t at : {kCharge, kChargeCurrent, kAcceptedCharge, kOlderCharge, kAcceptedChargeCurrent})
                udm::storeAt<double>(data, at, 0.0);
            c.clearReserved();
            c.setEntryCount(4);
            break;
        case UDM_MODE_PREPARE: {
            const vcswitch::BlockLocks<2> blocks({c.vectorBlock(), c.matrixBlock()});
            status = blocks.status();
            if (status != 0) break;
            void* matrix = blocks.block(1);
            const int32_t rows[4] = {0, 0, 1, 1}, cols[4] = {0, 1, 0, 1};
            for (size_t k = 0; k < 4; ++k) {
                udm::storeAt<int32_t>(matrix, c.rowIndexOffset() + 4 * k, rows[k]);
                udm::storeAt<int32_t>(matrix, c.colIndexOffset() + 4 * k, cols[k]);
            }
            for (size_t i = 0; i < kParameters && expression != nullptr; ++i) {
                // A text that could not be copied has nothing to register.
                if (udm::loadAt<int32_t>(data, kIsExpression + 4 * i) == 0 || textAt(data, i) == nullptr) continue;
                double ids[2] = {0.0, 0.0};
                expression(UDM_EXPR_REGISTER, textAt(data, i), nullptr, ids);
                for (size_t k = 0; k < 2; ++k)
                    udm::storeAt<int32_t>(data, kIds + 8 * i + 4 * k,
                                          std::isfinite(ids[k]) && std::abs(ids[k]) < 2e9 ? static_cast<int32_t>(ids[k]) : -1);
            }
            break;
        }
        case UDM_MODE_EVALUATE: {
            const vcswitch::BlockLocks<2> blocks({c.vectorBlock(), c.matrixBlock()});
            status = blocks.status();
            if (status != 0) break;
            void* vector = blocks.block(0);
            void* matrix = blocks.block(1);
            for (size_t i = 0; i < kParameters && expression != nullptr && anyExpression(data); ++i) {
                if (udm::loadAt<int32_t>(data, kIsExpression + 4 * i) == 0) continue;
                double ids[2] = {static_cast<double>(udm::loadAt<int32_t>(data, kIds + 8 * i)),
                                 static_cast<double>(udm::loadAt<int32_t>(data, kIds + 8 * i + 4))};
                double value[2] = {0.0, 0.0};
                expression(UDM_EXPR_EVALUATE, nullptr, ids, value);
                udm::storeAt<double>(data, 8 * i, usableValue(i, value[0]));
            }
            const double v = udm::loadAt<double>(vector, c.nodeValueOffset()) -
                             udm::loadAt<double>(vector, c.nodeValueOffset() + 8);
            // The stamp follows from the inputs and the accepted points (the
            // accepted junction voltage only starts the series-resistance
            // solve), so a rejected step or a repeated call leaves no trace;
            // only within one Newton solve is an iterate limited against the
            // one before (the first against the accepted step's), which a
            // converged iterate never is.
            const double solve = simulation == nullptr ? 0.0 : udm::SimulationRecordView(simulation).newtonSolve();
            const double accepted = udm::loadAt<double>(data, kAcceptedJunctionVoltage);
            const double limitFrom = solve == 0.0                                ? udmdiode::kUnlimited
                                     : udm::loadAt<double>(data, kIterateSolve) == solve
                                         ? udm::loadAt<double>(data, kIterateJunctionVoltage)
                                         : accepted;
            const udmdiode::Linearised l =
                udmdiode::linearise(parametersOf(data), v, accepted, companionOf(data, simulation), limitFrom);
            if (solve != 0.0) {
                udm::storeAt<double>(data, kIterateJunctionVoltage, l.junctionVoltage);
                udm::storeAt<double>(data, kIterateSolve, solve);
            }
            udm::storeAt<double>(data, kJunctionVoltage, l.junctionVoltage);
            udm::storeAt<int32_t>(data, kConducting, conductingAt(l.junctionVoltage));
            udm::storeAt<double>(data, kCharge, l.charge);
            udm::storeAt<double>(data, kChargeCurrent, l.chargeCurrent);
            udm::storeAt<double>(data, kCurrent, l.offset + l.conductance * v);
            udm::storeAt<double>(data, kVoltage, v);
            const double stamp[4] = {l.conductance, -l.conductance, -l.conductance, l.conductance};
            for (size_t k = 0; k < 4; ++k) udm::storeAt<double>(matrix, c.matrixValueOffset() + 8 * k, stamp[k]);
            // The offset current leaves the anode and enters the cathode.
            udm::storeAt<double>(vector, c.rhsOffset(), -l.offset);
            udm::storeAt<double>(vector, c.rhsOffset() + 8, l.offset);
            break;
        }
        case UDM_MODE_ACCEPT:
            udm::storeAt<double>(data, kAcceptedJunctionVoltage, udm::loadAt<double>(data, kJunctionVoltage));
            udm::storeAt<double>(data, kOlderCharge, udm::loadAt<double>(data, kAcceptedCharge));
            udm::storeAt<double>(data, kAcceptedCharge, udm::loadAt<double>(data, kCharge));
            udm::storeAt<double>(data, kAcceptedChargeCurrent, udm::loadAt<double>(data, kChargeCurrent));
            udm::storeAt<int32_t>(data, kAcceptedConducting, udm::loadAt<int32_t>(data, kConducting));
            break;
        case UDM_MODE_OUTPUT_INDEX:
            if (out != nullptr)
                *out = text == nullptr                   ? 0.0
                       : std::strcmp(text, "I") == 0     ? 1.0
                       : std::strcmp(text, "V") == 0     ? 2.0
                       : std::strcmp(text, "STATE") == 0 ? 3.0
                       : std::strcmp(text, "Q") == 0     ? 4.0
                                                         : 0.0;
            break;
        case UDM_MODE_OUTPUT_VALUE: {
            const vcswitch::BlockLocks<1> blocks({c.vectorBlock()});
            status = blocks.status();
            if (status != 0) break;
            const double selector = simulation == nullptr ? 0.0 : udm::SimulationRecordView(simulation).selector();
            if (out != nullptr)
                *out = selector == 1.0 ? udm::loadAt<double>(data, kCurrent)
                       : selector == 2.0 ? udm::loadAt<double>(data, kVoltage)
                       : selector == 3.0 ? udm::loadAt<int32_t>(data, kConducting)
                       : selector == 4.0 ? udm::loadAt<double>(data, kCharge)
                                         : 0.0;
            break;
        }
        case UDM_MODE_RELEASE:
            releaseTexts(data);
            break;
        default: break;
    }
    return status;
}

}  // extern "C"
