#include "output/plotter_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "output/atomic_file.h"
#include "output/interrupt_cleanup.h"

extern char** environ;

namespace udmhost {

namespace {

// The script file: private, removed on every path out (and on SIGINT).
class ScriptFile {
public:
    ScriptFile()
        : path_((std::filesystem::temp_directory_path() / "udmhost_plot_XXXXXX").string()) {
        fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error(writeFailure("a temporary gnuplot script", errno));
        remembered_ = rememberPartialFile(path_.c_str());
    }
    void write(const std::function<void(std::ostream&)>& writeScript) {
        CheckedStream out(fd_);
        writeScript(out.stream());
        out.finish("the gnuplot script " + path_);
    }
    ~ScriptFile() {
        ::close(fd_);
        ::unlink(path_.c_str());
        if (remembered_) forgetPartialFile(path_.c_str());
    }
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    bool remembered_ = false;
};

// What gnuplot said on its standard error, read back from an unnamed file.
std::string messagesOf(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, file)) text.append(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

std::string runPlotter(const std::function<void(std::ostream&)>& writeScript, int imageFd, const std::string& what) {
    ScriptFile file;
    file.write(writeScript);
    // Its messages are kept: gnuplot may exit with success after failing to
    // write, and what it said explains the failure found afterwards.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> messages(std::tmpfile(), &std::fclose);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, imageFd, STDOUT_FILENO);
    if (messages) posix_spawn_file_actions_adddup2(&actions, fileno(messages.get()), STDERR_FILENO);
    std::string program = "gnuplot", scriptPath = file.path();
    char* argv[] = {program.data(), scriptPath.data(), nullptr};
    pid_t child = -1;
    const int started = posix_spawnp(&child, "gnuplot", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started == ENOENT) throw std::runtime_error("cannot draw " + what + ": gnuplot not found (is gnuplot installed?)");
    if (started != 0) throw std::runtime_error("cannot draw " + what + ": cannot start gnuplot: " + std::strerror(started));
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) throw std::runtime_error("cannot draw " + what + ": " + std::strerror(errno));
    const std::string said = messages ? messagesOf(messages.get()) : std::string();
    const std::string saying = said.empty() ? "" : "; gnuplot said: " + said;
    if (WIFSIGNALED(status))
        throw std::runtime_error("cannot draw " + what + ": gnuplot was killed by signal " +
                                 std::to_string(WTERMSIG(status)) + saying);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("cannot draw " + what + ": gnuplot failed (exit status " +
                                 std::to_string(WEXITSTATUS(status)) + ")" + saying);
    return said;
}

}  // namespace udmhost
