#include "check/isolation.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "check/isolation_child.h"

namespace udmhost {

namespace {

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
#ifdef _WIN32
        const int written = ::write(fd_, data, static_cast<unsigned>(left < (1u << 30) ? left : (1u << 30)));
#else
        const ssize_t written = ::write(fd_, data, left);
#endif
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

CheckLine checkFailure(const std::string& check, const std::string& what) {
    CheckLine line;
    line.name = check;
    line.verdict = Verdict::Fail;
    line.faults.push_back(what);
    line.faultCount = 1;
    return line;
}

void shareProgress(SharedState* state) { shared = state; }

void ChildResults::report(const CheckLine& line) {
    run_.lines.push_back(line);
    if (onLine_) onLine_(line);
}

// Each line is held until the next arrives: a crash right after a check
// reported (freeing memory it corrupted, say) belongs to that check.
void ChildResults::hold(const CheckLine& line) {
    if (pending_) report(*pending_);
    pending_ = line;
}

void ChildResults::take(std::string& buffer) {
    for (;;) {  // every complete message in the buffer
        if (buffer.empty()) break;
        size_t at = 1;
        std::string messageBody;
        if (!takeField(buffer, at, messageBody)) break;
        if (buffer[0] == 'L') {
            CheckLine line = decodeLine(messageBody);
            seen_.insert(line.name);
            hold(line);
        } else if (buffer[0] == 'E') {
            finished_ = true;  // a process the plug-in started may hold the pipe open
        } else {
            run_.payload += messageBody;
        }
        buffer.erase(0, at);
    }
}

void ChildResults::cannotStart(const std::string& what) {
    report(checkFailure(planned_.empty() ? "child process" : planned_.front(), what));
}

void ChildResults::conclude(const std::string& problem, const SharedState& state, bool hung) {
    const std::string check =
        state.check[0] != '\0' ? state.check : (planned_.empty() ? "child process" : planned_.front());
    run_.completed = problem.empty();
    run_.hung = hung;
    if (!run_.completed) {
        run_.failedCheck = check;
        if (pending_ && pending_->name == check) {
            pending_->verdict = Verdict::Fail;
            pending_->faults.insert(pending_->faults.begin(), problem);
            ++pending_->faultCount;
        } else {
            if (pending_) report(*pending_);
            pending_.reset();
            seen_.insert(check);
            report(checkFailure(check, problem));
        }
    }
    if (pending_) report(*pending_);
    pending_.reset();
    for (const std::string& name : planned_)
        if (seen_.insert(name).second)
            report(skippedLine(name, run_.completed ? "the check did not run"
                                                    : "not run: the plug-in failed in \"" + check + "\""));
}

}  // namespace udmhost
