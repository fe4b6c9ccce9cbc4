// A small two-terminal resistor plug-in for testing hosts. Built several
// times: once well-behaved, and once for each defect that the compliance
// check must catch (SAMPLE_DEFECT).
#include <charconv>
#include <csignal>
#include <cmath>
#include <new>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

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
#define DEFECT_EXITS 12          // mode 3 ends the process with exit(0)
#define DEFECT_PRINTS 13         // mode 4 prints on standard output
#define DEFECT_FORKS_BOTH 14     // the first mode 2 forks, and both processes return
#define DEFECT_FORKS_SLEEPER 15  // the first mode 2 forks a child that sleeps (its number in $SAMPLE_PID_FILE)
#define DEFECT_SHORT_INFINITE 16 // a resistance of 0 stamps an infinite conductance
#define DEFECT_CRASHES 4         // mode 3 crashes
#define DEFECT_HANGS 5           // mode 2 never returns
#define DEFECT_UNLOCK_ORDER 6    // unlocks the instance block before the component record
#ifndef SAMPLE_ENTRIES           // matrix entries announced in mode 1
#define SAMPLE_ENTRIES 4
#endif

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
    std::strcpy(reinterpret_cast<char*>(entry + UDM_CAT_NAME), item.name);
    udm::storeAt<int32_t>(entry, UDM_CAT_KIND, item.kind);
    std::strcpy(reinterpret_cast<char*>(entry + UDM_CAT_DESCRIPTION), item.description);
    if (item.defaultText != nullptr) std::strcpy(reinterpret_cast<char*>(entry + UDM_CAT_DEFAULT), item.defaultText);
    return entry;
}

}  // extern "C"

namespace {

// Locks both inner blocks, or says why not (the lock taken first is undone).
int32_t lockInner(const udm::ComponentRecordView& c, void** vector, void** matrix) {
    if (c.vectorBlock() == nullptr || c.matrixBlock() == nullptr) return UDM_ERR_NULL_HANDLE;
    *vector = GlobalLock(c.vectorBlock());
    if (*vector == nullptr) return UDM_ERR_LOCK_FAILED;
    *matrix = GlobalLock(c.matrixBlock());
    if (*matrix == nullptr) {
        GlobalUnlock(c.vectorBlock());
        return UDM_ERR_LOCK_FAILED;
    }
    return UDM_OK;
}

void unlockInner(const udm::ComponentRecordView& c) {
    GlobalUnlock(c.matrixBlock());
    GlobalUnlock(c.vectorBlock());
}

// The first field of the definition: a number with an optional k, else an
// expression whose text is copied to the heap.
void define(unsigned char* data, char* text) {
    char* comma = text != nullptr ? std::strchr(text, ',') : nullptr;
    if (comma != nullptr) *comma = '\0';
    double r = 0.0;
    const char* end = text;
    if (text != nullptr) {
        const auto parsed = std::from_chars(text, text + std::strlen(text), r);
        end = parsed.ec == std::errc() ? parsed.ptr : text;
        if (end != text && *end == 'k') r *= 1e3, ++end;
    }
    const bool isExpression = text != nullptr && (end == text || *end != '\0');
    udm::storeAt<double>(data, kResistance, r);
    udm::storeAt<int32_t>(data, kIsExpression, isExpression ? 1 : 0);
    char* copy = nullptr;
    if (isExpression) {
        copy = new (std::nothrow) char[std::strlen(text) + 1];
        if (copy != nullptr) std::strcpy(copy, text);
    }
    udm::storeAt<char*>(data, kText, copy);
}

int32_t evaluate(unsigned char* data, const udm::ComponentRecordView& c) {
    void *vector = nullptr, *matrix = nullptr;
    if (const int32_t status = lockInner(c, &vector, &matrix); status != UDM_OK) return status;
    if (udm::loadAt<int32_t>(data, kIsExpression) != 0) {
        double ids[2] = {static_cast<double>(udm::loadAt<int32_t>(data, kId1)),
                         static_cast<double>(udm::loadAt<int32_t>(data, kId2))};
        double value[2] = {0.0, 0.0};
        expression(UDM_EXPR_EVALUATE, nullptr, ids, value);
        udm::storeAt<double>(data, kResistance, value[0]);
    }
    // A short conducts a large finite conductance: an infinite one would spoil the host's matrix.
    const double r = udm::loadAt<double>(data, kResistance);
    const bool shortIsFinite = SAMPLE_DEFECT != DEFECT_SHORT_INFINITE;
    const double g = shortIsFinite && (r == 0.0 || std::isnan(r)) ? 1e12 : 1.0 / r;
    udm::storeAt<double>(data, kConductance, g);
    const double stamp[4] = {g, -g, -g, g};
    const size_t entries = SAMPLE_DEFECT == DEFECT_WRITES_OUTSIDE ? 5 : 4;
    for (size_t k = 0; k < entries; ++k) udm::storeAt<double>(matrix, c.matrixValueOffset() + 8 * k, stamp[k % 4]);
    udm::storeAt<double>(vector, c.rhsOffset(), 0.0);
    udm::storeAt<double>(vector, c.rhsOffset() + 8, 0.0);
    unlockInner(c);
    return UDM_OK;
}

int32_t prepare(unsigned char* data, const udm::ComponentRecordView& c) {
    void *vector = nullptr, *matrix = nullptr;
    if (const int32_t status = lockInner(c, &vector, &matrix); status != UDM_OK) return status;
    const int32_t rows[4] = {0, 0, 1, 1}, cols[4] = {0, 1, 0, 1};
    for (size_t k = 0; k < 4; ++k) {
        udm::storeAt<int32_t>(matrix, c.rowIndexOffset() + 4 * k, rows[k]);
        udm::storeAt<int32_t>(matrix, c.colIndexOffset() + 4 * k, cols[k]);
    }
    if (udm::loadAt<int32_t>(data, kIsExpression) != 0) {
        double ids[2] = {0.0, 0.0};
        expression(UDM_EXPR_REGISTER, udm::loadAt<char*>(data, kText), nullptr, ids);
        udm::storeAt<int32_t>(data, kId1, static_cast<int32_t>(ids[0]));
        udm::storeAt<int32_t>(data, kId2, static_cast<int32_t>(ids[1]));
    }
    unlockInner(c);
    return UDM_OK;
}

int32_t outputValue(const unsigned char* data, const udm::ComponentRecordView& c, const void* simulation, double* out) {
    if (c.vectorBlock() == nullptr) return UDM_ERR_NULL_HANDLE;
    void* vector = GlobalLock(c.vectorBlock());
    if (vector == nullptr) return UDM_ERR_LOCK_FAILED;
    const double v = udm::loadAt<double>(vector, c.nodeValueOffset()) - udm::loadAt<double>(vector, c.nodeValueOffset() + 8);
    const double selector = udm::loadAt<double>(simulation, UDM_SIM_SELECTOR);
    *out = selector == 1.0 ? v * udm::loadAt<double>(data, kConductance) : 0.0;
    if (SAMPLE_DEFECT == DEFECT_NAN_OUTPUT) *out = std::nan("");
    GlobalUnlock(c.vectorBlock());
    return UDM_OK;
}

#ifdef _WIN32
void forkOnce() {}  // no fork on Windows: the defects that need it stay Linux builds
#else
void forkOnce() {
    static bool forked = false;
    if (forked) return;
    forked = true;
    const pid_t child = fork();
    if (SAMPLE_DEFECT == DEFECT_FORKS_SLEEPER && child == 0) {
        sleep(30);
        _exit(0);
    }
    if (SAMPLE_DEFECT == DEFECT_FORKS_SLEEPER && child > 0)
        if (const char* file = std::getenv("SAMPLE_PID_FILE"))
            if (FILE* out = std::fopen(file, "w")) {
                std::fprintf(out, "%d\n", static_cast<int>(child));
                std::fclose(out);
            }
}
#endif

}  // namespace

extern "C" {

UDM_EXPORT int32_t UDM_CALL UDMMain(int32_t mode, char* text, void* simulation, double* out, HGLOBAL instance,
                                    HGLOBAL component) {
    if (instance == nullptr || component == nullptr) return UDM_ERR_NULL_HANDLE;
    auto* data = static_cast<unsigned char*>(GlobalLock(instance));
    if (data == nullptr) return UDM_ERR_LOCK_FAILED;
    void* record = GlobalLock(component);
    if (record == nullptr) {
        GlobalUnlock(instance);
        return UDM_ERR_LOCK_FAILED;
    }
    const udm::ComponentRecordView c(record);
    int32_t status = UDM_OK;
    switch (mode) {
        case UDM_MODE_INIT:
            define(data, text);
            c.clearReserved();
            c.setEntryCount(SAMPLE_ENTRIES);
            break;
        case UDM_MODE_PREPARE:
            if (SAMPLE_DEFECT == DEFECT_HANGS)
                for (volatile bool forever = true; forever;) {
                }
            if (SAMPLE_DEFECT == DEFECT_FORKS_BOTH || SAMPLE_DEFECT == DEFECT_FORKS_SLEEPER) forkOnce();
            status = prepare(data, c);
            break;
        case UDM_MODE_EVALUATE:
#ifdef _WIN32
            // As a stray pointer would, in every build: the exception a host sees.
            if (SAMPLE_DEFECT == DEFECT_CRASHES) RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
#else
            if (SAMPLE_DEFECT == DEFECT_CRASHES) std::raise(SIGSEGV);  // as a stray pointer would, in every build
#endif
            if (SAMPLE_DEFECT == DEFECT_EXITS) std::exit(0);
            status = evaluate(data, c);
            if (SAMPLE_DEFECT == DEFECT_LEAVES_LOCKED) GlobalLock(instance);
            break;
        case UDM_MODE_ACCEPT:
            if (SAMPLE_DEFECT == DEFECT_CHATTY) message(UDM_SEVERITY_WARNING, "step accepted");
            if (SAMPLE_DEFECT == DEFECT_PRINTS) std::printf("plug-in chatter\n");
            break;
        case UDM_MODE_OUTPUT_INDEX: *out = std::strcmp(text, "I") == 0 ? 1.0 : 0.0; break;
        case UDM_MODE_OUTPUT_VALUE: status = outputValue(data, c, simulation, out); break;
        case UDM_MODE_RELEASE:
            delete[] udm::loadAt<char*>(data, kText);
            udm::storeAt<char*>(data, kText, nullptr);  // a second release finds nothing
            break;
        default: break;
    }
    if (SAMPLE_DEFECT == DEFECT_UNLOCK_ORDER) GlobalUnlock(instance);
    GlobalUnlock(component);
    if (SAMPLE_DEFECT != DEFECT_UNLOCK_ORDER) GlobalUnlock(instance);
    return status;
}

}  // extern "C"
