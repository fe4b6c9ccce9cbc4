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
#include <optional>
#include <set>

namespace udmhost {

namespace {

// Shared between parent and child; the child writes, the parent reads after
// the child ended.
struct SharedState {
    char check[512];
    char activity[512];
};

SharedState* shared = nullptr;

void copyInto(char (&field)[512], const std::string& text) {
    const size_t n = std::min(text.size(), sizeof field - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

void appendField(std::string& out, const std::string& field) {
    out += std::to_string(field.size());
    out += ':';
    out += field;
}

// Reads one "<length>:<bytes>" field; false when `in` holds no complete one.
bool takeField(const std::string& in, size_t& at, std::string& field) {
    const size_t colon = in.find(':', at);
    if (colon == std::string::npos || colon == at) return false;
    size_t length = 0;
    for (size_t i = at; i < colon; ++i) {
        if (in[i] < '0' || in[i] > '9') return false;
        length = length * 10 + static_cast<size_t>(in[i] - '0');
    }
    if (in.size() - colon - 1 < length) return false;
    field = in.substr(colon + 1, length);
    at = colon + 1 + length;
    return true;
}

CheckLine decodeLine(const std::string& body) {
    CheckLine line;
    size_t at = 0;
    std::string verdict, count, kept;
    takeField(body, at, line.name);
    takeField(body, at, verdict);
    takeField(body, at, line.detail);
    takeField(body, at, count);
    takeField(body, at, kept);
    line.verdict = verdict == "P" ? Verdict::Pass : verdict == "S" ? Verdict::Skip : Verdict::Fail;
    line.faultCount = static_cast<size_t>(std::stoull(count.empty() ? "0" : count));
    const size_t n = static_cast<size_t>(std::stoull(kept.empty() ? "0" : kept));
    for (size_t i = 0; i < n; ++i) {
        std::string fault;
        if (!takeField(body, at, fault)) break;
        line.faults.push_back(fault);
    }
    return line;
}

CheckLine failure(const std::string& check, const std::string& what) {
    CheckLine line;
    line.name = check;
    line.verdict = Verdict::Fail;
    line.faults.push_back(what);
    line.faultCount = 1;
    return line;
}

}  // namespace

void noteActivity(const std::string& what) {
    if (shared != nullptr) copyInto(shared->activity, what);
}

void CheckChannel::begin(const std::string& check) {
    if (shared != nullptr) {
        copyInto(shared->check, check);
        copyInto(shared->activity, "");
    }
}

CheckChannel::CheckChannel(int fd) : fd_(fd), owner_(static_cast<int>(::getpid())) {}

void CheckChannel::send(char kind, const std::string& body) {
    if (::getpid() != owner_) _exit(0);
    std::string message(1, kind);
    appendField(message, body);
    const char* data = message.data();
    size_t left = message.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) _exit(3);  // the parent is gone; nobody to report to
        data += written;
        left -= static_cast<size_t>(written);
    }
}

void CheckChannel::emit(const CheckLine& line) {
    std::string body;
    appendField(body, line.name);
    appendField(body, line.verdict == Verdict::Pass ? "P" : line.verdict == Verdict::Skip ? "S" : "F");
    appendField(body, line.detail);
    appendField(body, std::to_string(line.faultCount));
    appendField(body, std::to_string(line.faults.size()));
    for (const std::string& fault : line.faults) appendField(body, fault);
    send('L', body);
}

void CheckChannel::payload(const std::string& text) { send('P', text); }

void CheckChannel::finish() { send('E', ""); }

IsolatedRun runIsolated(const std::vector<std::string>& planned, const std::function<void(CheckChannel&)>& body,
                        int timeoutSeconds, const std::function<void(const CheckLine&)>& onLine) {
    IsolatedRun run;
    auto report = [&](const CheckLine& line) {
        run.lines.push_back(line);
        if (onLine) onLine(line);
    };
    // Each line is held until the next arrives: a crash right after a check
    // reported (freeing memory it corrupted, say) belongs to that check.
    std::optional<CheckLine> pending;
    auto hold = [&](const CheckLine& line) {
        if (pending) report(*pending);
        pending = line;
    };
    void* page = mmap(nullptr, sizeof(SharedState), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    int fds[2];
    if (page == MAP_FAILED || pipe(fds) != 0) {
        if (page != MAP_FAILED) munmap(page, sizeof(SharedState));
        report(failure(planned.empty() ? "child process" : planned.front(),
                       std::string("cannot start a child process: ") + std::strerror(errno)));
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
        report(failure(planned.empty() ? "child process" : planned.front(),
                       std::string("cannot fork: ") + std::strerror(errno)));
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
        shared = state;
        CheckChannel channel(fds[1]);
        try {
            body(channel);
        } catch (const std::exception& error) {
            channel.emit(failure(state->check[0] != '\0' ? state->check : "check", std::string("host error: ") + error.what()));
        }
        channel.finish();
        close(fds[1]);
        _exit(0);
    }
    setpgid(pid, pid);  // also here: the child may not have run yet when the group is killed
    close(fds[1]);

    std::set<std::string> seen;
    std::string buffer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool hung = false;
    bool finished = false;
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
        for (;;) {  // every complete message in the buffer
            if (buffer.empty()) break;
            size_t at = 1;
            std::string messageBody;
            if (!takeField(buffer, at, messageBody)) break;
            if (buffer[0] == 'L') {
                CheckLine line = decodeLine(messageBody);
                seen.insert(line.name);
                hold(line);
            } else if (buffer[0] == 'E') {
                finished = true;  // a process the plug-in started may hold the pipe open
            } else {
                run.payload += messageBody;
            }
            buffer.erase(0, at);
        }
        if (finished) break;
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
    const std::string check = state->check[0] != '\0' ? state->check : (planned.empty() ? "child process" : planned.front());
    const std::string during = state->activity[0] != '\0' ? std::string(" during ") + state->activity : "";
    std::string problem;
    if (hung)
        problem = "no answer within " + std::to_string(timeoutSeconds) + " s" + during + "; the plug-in hangs";
    else if (WIFSIGNALED(status))
        problem = "the plug-in crashed with " + signalName(WTERMSIG(status)) + during;
    else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        problem = "the plug-in ended the process with exit code " + std::to_string(WEXITSTATUS(status)) + during;
    else if (!finished)
        problem = "the plug-in ended the process" + during;
    munmap(page, sizeof(SharedState));
    run.completed = problem.empty();
    run.hung = hung;
    if (!run.completed) {
        run.failedCheck = check;
        if (pending && pending->name == check) {
            pending->verdict = Verdict::Fail;
            pending->faults.insert(pending->faults.begin(), problem);
            ++pending->faultCount;
        } else {
            if (pending) report(*pending);
            pending.reset();
            seen.insert(check);
            report(failure(check, problem));
        }
    }
    if (pending) report(*pending);
    for (const std::string& name : planned)
        if (seen.insert(name).second)
            report(skippedLine(name, run.completed ? "the check did not run" : "not run: the plug-in failed in \"" + check + "\""));
    return run;
}

}  // namespace udmhost
