// A shell command's exit code and everything it printed, for tests that run
// udmhost as a user does.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output, and standard error unless the command redirects it
};

inline CommandResult runCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
