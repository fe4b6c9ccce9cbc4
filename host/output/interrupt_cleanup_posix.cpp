// SIGINT, SIGTERM and SIGHUP remove the partial outputs and end the process.
#include "output/interrupt_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <initializer_list>

namespace udmhost {

namespace {

extern "C" void removePartialFilesAndExit(int signal) {
    removePartialFiles();
    static const char kMessage[] = "\nudmhost: interrupted; partial outputs removed\n";
    const ssize_t ignored = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    (void)ignored;
    _exit(128 + signal);
}

}  // namespace

void installInterruptCleanup() {
    struct sigaction action = {};
    action.sa_handler = removePartialFilesAndExit;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    // Past the file size limit a write fails with EFBIG instead of killing
    // the process: the failed write is reported and its temporary removed
    // as for a full disk.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

}  // namespace udmhost
