// Windows: each part of the check in a child process, udmhost.exe itself
// started with the part selector, inside a job object that bounds its
// memory and ends it and whatever it started. Results come back through an
// inherited pipe, the progress record through an inherited file mapping.
#include "check/isolation.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "check/checker.h"
#include "check/isolation_child.h"

namespace udmhost {

namespace {

constexpr const char* kSelector = "--check-part";
constexpr SIZE_T kChildMemoryLimit = SIZE_T{2} << 30;  // bytes a child may commit

// One argument as the C runtime's command-line parser reads it back.
std::string quoted(const std::string& argument) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

std::string exceptionText(DWORD code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    const char* name = code == EXCEPTION_ACCESS_VIOLATION         ? "access violation"
                       : code == EXCEPTION_STACK_OVERFLOW         ? "stack overflow"
                       : code == EXCEPTION_INT_DIVIDE_BY_ZERO     ? "integer division by zero"
                       : code == EXCEPTION_ILLEGAL_INSTRUCTION    ? "illegal instruction"
                       : code == EXCEPTION_PRIV_INSTRUCTION       ? "privileged instruction"
                       : code == EXCEPTION_ARRAY_BOUNDS_EXCEEDED  ? "array bounds exceeded"
                       : code == EXCEPTION_IN_PAGE_ERROR          ? "in-page error"
                       : code == EXCEPTION_DATATYPE_MISALIGNMENT  ? "misaligned data"
                       : code == EXCEPTION_BREAKPOINT             ? "breakpoint"
                       : code == 0xC0000409                       ? "stack buffer overrun or fail-fast"
                       : code == 0xC0000374                       ? "heap corruption"
                       : code == 0xC0000017                       ? "out of memory"
                                                                  : nullptr;
    return std::string("exception ") + hex + (name != nullptr ? std::string(" (") + name + ")" : "");
}

struct Handles {  // closed on every path
    HANDLE readEnd = nullptr, writeEnd = nullptr, mapping = nullptr, job = nullptr, process = nullptr;
    void* view = nullptr;
    ~Handles() {
        if (view != nullptr) UnmapViewOfFile(view);
        for (HANDLE h : {readEnd, writeEnd, mapping, job, process})
            if (h != nullptr) CloseHandle(h);
    }
};

std::string lastError(const char* what) { return std::string(what) + " failed with error " + std::to_string(GetLastError()); }

// Whatever ends the child unexpectedly ends it with the exception's code,
// without a debugger or an error box.
LONG WINAPI endWithExceptionCode(EXCEPTION_POINTERS* info) {
    TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

IsolatedRun runIsolated(const std::vector<std::string>& planned, const std::string& part, const std::string& path,
                        int timeoutSeconds, const std::function<void(const CheckLine&)>& onLine) {
    IsolatedRun run;
    ChildResults results(run, planned, onLine);
    Handles h;
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    char self[MAX_PATH];
    const DWORD selfLength = GetModuleFileNameA(nullptr, self, sizeof self);
    if (selfLength == 0 || selfLength >= sizeof self) {
        results.cannotStart("cannot start a child process: " + lastError("GetModuleFileName"));
        return run;
    }
    if (!CreatePipe(&h.readEnd, &h.writeEnd, &inherited, 0) || !SetHandleInformation(h.readEnd, HANDLE_FLAG_INHERIT, 0)) {
        results.cannotStart("cannot start a child process: " + lastError("CreatePipe"));
        return run;
    }
    h.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &inherited, PAGE_READWRITE, 0, sizeof(SharedState), nullptr);
    h.view = h.mapping != nullptr ? MapViewOfFile(h.mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedState)) : nullptr;
    h.job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION | JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limits.ProcessMemoryLimit = kChildMemoryLimit;
    if (h.view == nullptr || h.job == nullptr ||
        !SetInformationJobObject(h.job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        results.cannotStart("cannot start a child process: " + lastError("setting up its job object"));
        return run;
    }
    auto* state = static_cast<SharedState*>(h.view);
    std::string command = quoted(self) + " " + kSelector + " " + quoted(part) + " " + quoted(path) + " " +
                          std::to_string(reinterpret_cast<uintptr_t>(h.writeEnd)) + " " +
                          std::to_string(reinterpret_cast<uintptr_t>(h.mapping));
    std::cout.flush();
    std::fflush(nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    // A start can fail for the system's reasons, not the plug-in's (Wine
    // under load has answered ERROR_INTERNAL_ERROR): three tries.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0) Sleep(200);
        started = CreateProcessA(self, command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                                 &startup, &child) != FALSE;
    }
    if (!started) {
        results.cannotStart("cannot start a child process: " + lastError("CreateProcess"));
        return run;
    }
    h.process = child.hProcess;
    if (!AssignProcessToJobObject(h.job, child.hProcess)) {
        TerminateProcess(child.hProcess, 1);
        CloseHandle(child.hThread);
        results.cannotStart("cannot start a child process: " + lastError("AssignProcessToJobObject"));
        return run;
    }
    ResumeThread(child.hThread);
    CloseHandle(child.hThread);
    CloseHandle(h.writeEnd);  // the child holds the only writing end now
    h.writeEnd = nullptr;

    std::string buffer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool hung = false;
    for (bool ended = false;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(h.readEnd, nullptr, 0, nullptr, &available, nullptr)) break;  // the child closed it
        if (available > 0) {
            char chunk[65536];
            DWORD got = 0;
            if (!ReadFile(h.readEnd, chunk, available < sizeof chunk ? available : sizeof chunk, &got, nullptr) || got == 0)
                break;
            buffer.append(chunk, got);
            results.take(buffer);
            if (results.finished()) break;
            continue;
        }
        if (ended) break;  // ended, and everything it wrote has been read
        if (std::chrono::steady_clock::now() >= deadline) {
            hung = true;
            break;
        }
        ended = WaitForSingleObject(h.process, 10) == WAIT_OBJECT_0;
    }
    if (hung) TerminateJobObject(h.job, 1);
    WaitForSingleObject(h.process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(h.process, &code);
    TerminateJobObject(h.job, 1);  // whatever the plug-in started
    const std::string during = state->activity[0] != '\0' ? std::string(" during ") + state->activity : "";
    std::string problem;
    if (hung)
        problem = "no answer within " + std::to_string(timeoutSeconds) + " s" + during + "; the plug-in hangs";
    else if (code >= 0xC0000000u || code == EXCEPTION_BREAKPOINT)
        problem = "the plug-in crashed with " + exceptionText(code) + during;
    else if (code != 0)
        problem = "the plug-in ended the process with exit code " + std::to_string(code) + during;
    else if (!results.finished())
        problem = "the plug-in ended the process" + during;
    const SharedState final = *state;
    results.conclude(problem, final, hung);
    return run;
}

int runCheckChild(const std::vector<std::string>& args) {
    if (args.size() != 4) {
        std::cerr << "udmhost: " << kSelector << " is started by udmhost check only\n";
        return 2;
    }
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(endWithExceptionCode);
    const auto pipe = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(args[2].c_str(), nullptr, 10)));
    const auto mapping = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(args[3].c_str(), nullptr, 10)));
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedState));
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(pipe), _O_WRONLY | _O_BINARY);
    if (view == nullptr || fd < 0) return 2;
    auto* state = static_cast<SharedState*>(view);
    shareProgress(state);
    // What a plug-in prints must not mix with the report.
    std::fflush(stdout);
    _dup2(_fileno(stderr), _fileno(stdout));
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    CheckChannel channel(fd);
    try {
        runCheckPart(args[0], args[1], channel);
    } catch (const std::exception& error) {
        channel.emit(checkFailure(state->check[0] != '\0' ? state->check : "check",
                                  std::string("host error: ") + error.what()));
    }
    channel.finish();
    _close(fd);
    std::fflush(nullptr);
    // The plug-in stays loaded to the end: ExitProcess without the C++
    // runtime's teardown, as _exit(0) ends a forked child.
    ExitProcess(0);
}

}  // namespace udmhost
