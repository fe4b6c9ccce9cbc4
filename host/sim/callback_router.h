// The two callbacks a plug-in receives at registration are plain function
// pointers without a context argument. This router gives them one: the run
// in progress installs itself, and each call into a plug-in names the
// instance it concerns, so that messages and expression errors name it too.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "sim/expression_engine.h"
#include "udm_interface.h"

namespace udmhost::sim {

class CallbackRouter {
public:
    CallbackRouter(std::ostream& messages, ExpressionEngine& expressions);
    ~CallbackRouter();  // uninstalls
    CallbackRouter(const CallbackRouter&) = delete;
    CallbackRouter& operator=(const CallbackRouter&) = delete;

    static MessageCallback messageCallback();
    static ExpressionCallback expressionCallback();

    // The instance that the next plug-in calls concern, and the parameter
    // names of its definition fields in order (to name a bad expression).
    // Several runs may be alive at once (the blocks of one circuit), so the
    // router of the instance being called is the one that answers.
    // Inline: they frame every plug-in call.
    void enter(const std::string* instance, const std::vector<std::string>* fields,
               const std::vector<std::string>* fieldNames) {
        instance_ = instance;
        fields_ = fields;
        fieldNames_ = fieldNames;
        enteredFrom_ = std::exchange(active_, this);
    }
    void leave() {
        instance_ = nullptr;
        fields_ = fieldNames_ = nullptr;
        active_ = enteredFrom_;
    }

    // The first failure reported since the last take: severity 3, an
    // expression that does not compile or evaluate. Empty when none.
    std::string takeFailure() { return std::exchange(failure_, std::string()); }
    bool failed() const { return !failure_.empty(); }

    ExpressionEngine& expressions() { return expressions_; }
    // Expressions evaluated for plug-ins so far: a call that evaluated none
    // depends on no expression value.
    long expressionEvaluations() const { return expressionEvaluations_; }

private:
    static int UDM_CALL onMessage(int severity, const char* text);
    static int UDM_CALL onExpression(int op, const char* text, double* in, double* out);
    void fail(std::string text);
    std::string instanceName() const;
    std::string parameterOf(const char* text) const;

    std::ostream& messages_;
    ExpressionEngine& expressions_;
    const std::string* instance_ = nullptr;
    const std::vector<std::string>* fields_ = nullptr;
    const std::vector<std::string>* fieldNames_ = nullptr;
    std::string failure_;
    long expressionEvaluations_ = 0;
    // Per registered expression: the instance and parameter it belongs to.
    std::vector<std::string> expressionOwners_;
    CallbackRouter* previous_ = nullptr;
    CallbackRouter* enteredFrom_ = nullptr;
    // The router of this thread's run (or of the instance being called).
    static constinit inline thread_local CallbackRouter* active_ = nullptr;
};

}  // namespace udmhost::sim
