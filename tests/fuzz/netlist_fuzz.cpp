// libFuzzer target: any text is a netlist for the reference host's reader,
// which must give a circuit or a clear error (NetlistError with its place,
// or another std::runtime_error with a message), never anything else.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fake_catalogue.h"
#include "netlist/netlist_error.h"
#include "netlist/netlist_reader.h"

namespace {

[[noreturn]] void Broken(const char* why, const char* detail) {
    std::fprintf(stderr, "netlist reader rule broken: %s: %s\n", why, detail);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const hosttest::FakeLoader loader;
    try {
        const udmhost::Circuit circuit = udmhost::readNetlist(text, "fuzz.cir", "/nonexistent", loader);
        (void)circuit;
    } catch (const udmhost::NetlistError& e) {
        if (std::strncmp(e.what(), "fuzz.cir:", 9) != 0) Broken("error without its place", e.what());
        if (e.detail().empty()) Broken("error without a message", e.what());
    } catch (const std::runtime_error& e) {
        if (*e.what() == '\0') Broken("error without a message", "");
    } catch (const std::exception& e) {
        Broken("unexpected exception", e.what());
    }
    return 0;
}
