// Windows: Ctrl-C, Ctrl-Break and closing the console remove the partial
// outputs and end the process (exit code 130, as for SIGINT).
#include "output/interrupt_cleanup.h"

#include <windows.h>

namespace udmhost {

namespace {

BOOL WINAPI removePartialFilesAndExit(DWORD) {
    removePartialFiles();
    static const char kMessage[] = "\nudmhost: interrupted; partial outputs removed\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kMessage, sizeof kMessage - 1, &written, nullptr);
    ExitProcess(130);
}

}  // namespace

void installInterruptCleanup() { SetConsoleCtrlHandler(removePartialFilesAndExit, TRUE); }

}  // namespace udmhost
