// udmhost: a command-line host for model plug-ins of the UDM interface.
#include <unistd.h>

#include <cerrno>
#include <new>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "check/isolation.h"
#endif

namespace {

const char* kHelp =
    "udmhost - runs model plug-ins the way a circuit simulator does\n"
    "\n"
    "  udmhost info PLUGIN     interface version, registration, version record, catalogue\n"
    "  udmhost check PLUGIN    compliance check; exit code 0 only when every check passes\n"
    "                          (--json, --timeout S, --record FILE, --against FILE)\n"
    "  udmhost run NETLIST [-o FILE.csv] [--raw FILE.raw [--ascii]] [--plot FILE.png] [--events FILE.csv]\n"
    "                          [--plugin NAME=PATH] [--verbose]\n"
    "                          transient simulation; CSV to standard output without -o;\n"
    "                          --plugin replaces the library path of a .plugin line;\n"
    "                          --verbose names each plug-in before it is loaded\n"
    "  udmhost help run        the options of run; udmhost --version\n";

// What a command printed must have reached standard output (a full disk,
// a closed pipe): otherwise the command failed, whatever it concluded.
int checkedExit(int code) {
    errno = 0;
    std::cout.flush();
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout) return code;
    std::cerr << "udmhost: cannot write standard output: " << (errno != 0 ? std::strerror(errno) : "write error") << "\n";
    return udmhost::kExitFailure;
}

int dispatch(std::vector<std::string> args) {
    if (!args.empty() && (args[0] == "--version" || args[0] == "-V")) {
        std::cout << "udmhost " UDMHOST_VERSION "\n";
        return udmhost::kExitOk;
    }
    if (args.size() == 2 && args[0] == "help" && args[1] == "run") {
        std::cout << udmhost::runUsage();
        return udmhost::kExitOk;
    }
    if (args.empty() || args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
        std::cout << kHelp;
        return args.empty() ? udmhost::kExitUsage : udmhost::kExitOk;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "info") return udmhost::infoCommand(args);
    if (command == "check") return udmhost::checkCommand(args);
    if (command == "run") return udmhost::runCommand(args);
    std::cerr << "udmhost: unknown command '" << command << "'\n" << kHelp;
    return udmhost::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Outputs are byte-exact as on Linux (no CR before each LF); a missing
    // library is an error message, not a dialog box.
    _setmode(_fileno(stdout), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    if (argc >= 2 && std::string(argv[1]) == "--check-part")
        return udmhost::runCheckChild(std::vector<std::string>(argv + 2, argv + argc));
#endif
    try {
        return checkedExit(dispatch(std::vector<std::string>(argv + 1, argv + argc)));
    } catch (const std::bad_alloc&) {
        // A command catches what it can name; this is what escaped it.
        static const char kMessage[] = "udmhost: out of memory\n";
        const ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
        (void)ignored;
        return udmhost::kExitFailure;
    }
}
