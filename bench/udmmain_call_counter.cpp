// Makes N calls of one kind, for instruction counting under callgrind: run
// it with N and 2N calls, and the difference of the two totals divided by N
// is the cost of one call, free of start-up and set-up.
//
//   udmmain_call_counter frame|evaluate|evaluate-expr|output|lock-pair|deref N
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_scenario.h"

namespace {

// Keeps a value alive without letting the compiler drop the call behind it.
volatile double g_sink = 0.0;
volatile int32_t g_status = 0;

int RunUdmMain(const char* kind, long calls) {
    const bool expressions = std::strcmp(kind, "evaluate-expr") == 0;
    udmbench::PreparedSwitch s(expressions ? udmbench::kExpressionDefinition : udmbench::kNumericDefinition);
    if (!s.ok()) {
        std::fprintf(stderr, "the instance could not be defined and prepared\n");
        return 1;
    }
    double value = 0.0;
    if (std::strcmp(kind, "frame") == 0) {
        for (long i = 0; i < calls; ++i) g_status = s.frame();
    } else if (std::strcmp(kind, "evaluate") == 0 || expressions) {
        for (long i = 0; i < calls; ++i) g_status = s.evaluate();
    } else if (std::strcmp(kind, "output") == 0) {
        for (long i = 0; i < calls; ++i) g_status = s.outputValue(&value);
        g_sink = value;
    } else {
        return 2;
    }
    return 0;
}

int RunPlatform(const char* kind, long calls) {
    udmtest::PluginLibrary& p = udmtest::plugin();
    HGLOBAL h = p.globalAlloc(GHND, 64);
    if (h == nullptr) return 1;
    if (std::strcmp(kind, "lock-pair") == 0) {
        for (long i = 0; i < calls; ++i) {
            g_sink = *static_cast<double*>(p.globalLock(h));
            p.globalUnlock(h);
        }
    } else {
        double* volatile block = static_cast<double*>(p.globalLock(h));
        for (long i = 0; i < calls; ++i) g_sink = *block;
        p.globalUnlock(h);
    }
    p.globalFree(h);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s frame|evaluate|evaluate-expr|output|lock-pair|deref N\n", argv[0]);
        return 2;
    }
    const char* kind = argv[1];
    const long calls = std::strtol(argv[2], nullptr, 10);
    if (calls <= 0) {
        std::fprintf(stderr, "N must be a positive number of calls\n");
        return 2;
    }
    if (std::strcmp(kind, "lock-pair") == 0 || std::strcmp(kind, "deref") == 0) return RunPlatform(kind, calls);
    const int status = RunUdmMain(kind, calls);
    if (status == 2) std::fprintf(stderr, "unknown kind %s\n", kind);
    return status;
}
