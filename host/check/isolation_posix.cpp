// Each part of the check in a forked child, in a process group of its own.
#include "check/isolation.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "check/checker.h"
#include "check/isolation_child.h"

namespace udmhost {

IsolatedRun runIsolated(const std::vector<std::string>& planned, const std::string& part, const std::string& path,
                        int timeoutSeconds, const std::function<void(const CheckLine&)>& onLine) {
    IsolatedRun run;
    ChildResults results(run, planned, onLine);
    void* page = mmap(nullptr, sizeof(SharedState), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    int fds[2];
    if (page == MAP_FAILED || pipe(fds) != 0) {
        if (page != MAP_FAILED) munmap(page, sizeof(SharedState));
        results.cannotStart(std::string("cannot start a child process: ") + std::strerror(errno));
        return run;
    }
    auto* state = static_cast<SharedState*>(page);
    std::memset(state, 0, sizeof *state);
    std::cout.flush();
    std::fflush(nullptr);  // a plug-in calling exit() must not print our buffers twice
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        munmap(page, sizeof(SharedState));
        results.cannotStart(std::string("cannot fork: ") + std::strerror(errno));
        return run;
    }
    if (pid == 0) {
        // A group of its own: whatever a plug-in starts is ended with it.
        setpgid(0, 0);
        close(fds[0]);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);  // a crash is a finding, not a core file
        // The plug-in's crash ends the child by its signal, also where a
        // sanitizer runtime would catch it and exit instead.
        for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) std::signal(signal, SIG_DFL);
        dup2(STDERR_FILENO, STDOUT_FILENO);  // what a plug-in prints must not mix with the report
        shareProgress(state);
        CheckChannel channel(fds[1]);
        try {
            runCheckPart(part, path, channel);
        } catch (const std::exception& error) {
            channel.emit(checkFailure(state->check[0] != '\0' ? state->check : "check",
                                      std::string("host error: ") + error.what()));
        }
        channel.finish();
        close(fds[1]);
        _exit(0);
    }
    setpgid(pid, pid);  // also here: the child may not have run yet when the group is killed
    close(fds[1]);

    std::string buffer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool hung = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            hung = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char chunk[65536];
        const ssize_t got = ::read(fds[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        buffer.append(chunk, static_cast<size_t>(got));
        results.take(buffer);
        if (results.finished()) break;
    }
    close(fds[0]);
    if (hung) kill(pid, SIGKILL);
    // Then the rest of the checker child's group: any process a plug-in
    // started. The child is waited for but not reaped first, so that its
    // number, the group's, cannot have been reused.
    siginfo_t ended = {};
    while (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    kill(-pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const std::string during = state->activity[0] != '\0' ? std::string(" during ") + state->activity : "";
    std::string problem;
    if (hung)
        problem = "no answer within " + std::to_string(timeoutSeconds) + " s" + during + "; the plug-in hangs";
    else if (WIFSIGNALED(status))
        problem = "the plug-in crashed with " + signalName(WTERMSIG(status)) + during;
    else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        problem = "the plug-in ended the process with exit code " + std::to_string(WEXITSTATUS(status)) + during;
    else if (!results.finished())
        problem = "the plug-in ended the process" + during;
    const SharedState final = *state;
    munmap(page, sizeof(SharedState));
    results.conclude(problem, final, hung);
    return run;
}

}  // namespace udmhost
