// libFuzzer target: any byte string is a host session against the loaded
// plug-in (see interface_session.h); a broken rule aborts with its reason.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "interface_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const udmfuzz::SessionResult result = udmfuzz::runInterfaceSession(data, size);
    if (!result.problem.empty()) {
        std::fprintf(stderr, "interface rule broken: %s\n", result.problem.c_str());
        std::abort();
    }
    return 0;
}
