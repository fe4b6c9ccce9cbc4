#include "sim/callback_router.h"

#include <cmath>
#include <ostream>
#include <stdexcept>
#include <utility>

namespace udmhost::sim {

CallbackRouter::CallbackRouter(std::ostream& messages, ExpressionEngine& expressions)
    : messages_(messages), expressions_(expressions), previous_(active_) {
    active_ = this;
}

CallbackRouter::~CallbackRouter() { active_ = previous_; }

MessageCallback CallbackRouter::messageCallback() { return &CallbackRouter::onMessage; }
ExpressionCallback CallbackRouter::expressionCallback() { return &CallbackRouter::onExpression; }

std::string CallbackRouter::instanceName() const { return instance_ != nullptr ? *instance_ : "plug-in"; }

std::string CallbackRouter::parameterOf(const char* text) const {
    if (fields_ != nullptr && fieldNames_ != nullptr && text != nullptr)
        for (size_t i = 0; i < fields_->size() && i < fieldNames_->size(); ++i)
            if ((*fields_)[i] == text) return (*fieldNames_)[i];
    return "?";
}

void CallbackRouter::fail(std::string text) {
    if (failure_.empty()) failure_ = std::move(text);
}

int UDM_CALL CallbackRouter::onMessage(int severity, const char* text) {
    CallbackRouter* self = active_;
    if (self == nullptr) return 0;
    const char* kind = severity >= UDM_SEVERITY_FAILURE   ? "error"
                       : severity == UDM_SEVERITY_WARNING ? "warning"
                                                          : "message";
    const std::string body = text != nullptr ? text : "";
    self->messages_ << self->instanceName() << ": " << kind << ": " << body << '\n';
    if (severity >= UDM_SEVERITY_FAILURE) self->fail(self->instanceName() + ": " + body);
    return 0;
}

int UDM_CALL CallbackRouter::onExpression(int op, const char* text, double* in, double* out) {
    CallbackRouter* self = active_;
    if (self == nullptr || out == nullptr) return 1;
    ExpressionEngine& engine = self->expressions_;
    if (op == UDM_EXPR_REGISTER) {
        out[0] = out[1] = -1.0;
        if (text == nullptr) {
            self->fail(self->instanceName() + ": an expression without text was registered");
            return 1;
        }
        try {
            const int index = engine.compile(text);
            engine.identifiers(index, out);
            self->expressionOwners_.resize(engine.size());
            self->expressionOwners_[static_cast<size_t>(index)] =
                self->instanceName() + ": parameter " + self->parameterOf(text) + ": expression '" + text + "'";
            return 0;
        } catch (const std::invalid_argument& e) {
            self->fail(self->instanceName() + ": parameter " + self->parameterOf(text) + ": expression '" + text +
                       "' does not compile: " + e.what());
            return 1;
        }
    }
    if (op == UDM_EXPR_EVALUATE) {
        ++self->expressionEvaluations_;
        out[0] = std::nan("");
        const int index = in != nullptr ? engine.indexOf(in[0], in[1]) : -1;
        if (index < 0) {
            self->fail(self->instanceName() + ": evaluation of an expression this host never registered");
            return 1;
        }
        try {
            out[0] = engine.evaluate(index);
            if (std::isfinite(out[0])) return 0;
            // NaN or infinity would reach the plug-in as a parameter value.
            const auto owner = static_cast<size_t>(index);
            self->fail((owner < self->expressionOwners_.size() ? self->expressionOwners_[owner]
                                                                 : self->instanceName() + ": an expression") +
                       " evaluates to " + (std::isnan(out[0]) ? "NaN" : out[0] > 0 ? "infinity" : "-infinity"));
            return 1;
        } catch (const std::runtime_error& e) {
            self->fail(self->instanceName() + ": expression evaluation failed: " + e.what());
            return 1;
        }
    }
    self->fail(self->instanceName() + ": unknown expression operation " + std::to_string(op));
    return 1;
}

}  // namespace udmhost::sim
