// Runs one part of the check in a child process, so that a plug-in that
// crashes, hangs or ends the process costs a FAIL line instead of the host.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "check/check_line.h"

namespace udmhost {

// The child's side: results travel to the parent as they complete.
class CheckChannel {
public:
    // Only the process that made the channel reports through it: a copy a
    // plug-in forked that returned into the checks ends silently instead.
    explicit CheckChannel(int fd);
    void begin(const std::string& check);  // named in a crash report
    void emit(const CheckLine& line);
    void payload(const std::string& text);  // a bulk result (the fingerprint)
    void finish();                          // the body ran to its end

private:
    void send(char kind, const std::string& body);
    int fd_;
    int owner_;
};

// What the plug-in is being asked to do right now ("mode 3 on instance 2");
// kept in memory the parent can still read after the child died.
void noteActivity(const std::string& what);

struct IsolatedRun {
    std::vector<CheckLine> lines;  // in order, planned checks that never ran as skipped
    std::string payload;
    bool completed = false;  // the child ran to its end
    bool hung = false;       // it was ended after the timeout
    std::string failedCheck;  // the check during which it crashed or hung
};

// Runs the part of the check named `part` (runCheckPart, check/checker.h)
// on the library at `path` in a child process: forked on POSIX systems, on
// Windows udmhost.exe started again with the part selector. `planned` names
// the checks the part will emit, so that those a crash leaves out are
// reported as skipped. `onLine` sees each line as soon as it arrives.
IsolatedRun runIsolated(const std::vector<std::string>& planned, const std::string& part, const std::string& path,
                        int timeoutSeconds, const std::function<void(const CheckLine&)>& onLine);

#ifdef _WIN32
// Windows: the child's side, `udmhost.exe --check-part ...` (main.cpp hands
// over the arguments after the selector); returns the exit code.
int runCheckChild(const std::vector<std::string>& args);
#endif

}  // namespace udmhost
