// Host callbacks that record every call a plug-in makes, for tests that
// check messages and the expression exchange.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "plugin_loader.h"

namespace udmtest {

struct RecordedMessage {
    int severity;
    std::string text;
    bool operator==(const RecordedMessage&) const = default;
};

struct RecordedExpressionCall {
    int op;
    bool hasText;
    std::string text;
    bool hasInput;
    std::array<double, 2> input;
};

class RecordingHost {
public:
    // Registers this host's callbacks with the loaded plug-in.
    RecordingHost() {
        active() = this;
        RegistrationRecord record{};
        plugin().init(&onMessage, &onExpression, &record);
    }
    ~RecordingHost() { active() = nullptr; }
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    std::vector<RecordedMessage> messages;
    std::vector<RecordedExpressionCall> expressionCalls;

    // What the host answers; by default identifiers 0, 0 and the value 0.
    std::function<std::array<double, 2>(const std::string& text)> registerReply;
    std::function<double(double id1, double id2)> evaluateReply;

    void clear() {
        messages.clear();
        expressionCalls.clear();
    }

private:
    static RecordingHost*& active() {
        static RecordingHost* host = nullptr;
        return host;
    }
    static int onMessage(int severity, const char* text) {
        active()->messages.push_back({severity, text != nullptr ? text : "(null)"});
        return 0;
    }
    static int onExpression(int op, const char* text, double* in, double* out) {
        RecordingHost& host = *active();
        RecordedExpressionCall call{op, text != nullptr, text != nullptr ? text : "", in != nullptr, {}};
        if (in != nullptr) call.input = {in[0], in[1]};
        host.expressionCalls.push_back(call);
        if (op == UDM_EXPR_REGISTER && host.registerReply && text != nullptr) {
            const auto ids = host.registerReply(text);
            out[0] = ids[0];
            out[1] = ids[1];
        } else if (op == UDM_EXPR_EVALUATE && host.evaluateReply && in != nullptr) {
            out[0] = host.evaluateReply(in[0], in[1]);
        }
        return 0;
    }
};

}  // namespace udmtest
