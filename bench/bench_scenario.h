// One switch instance set up as a host sets it up before a transient run:
// defined, prepared, with node values between the two thresholds. Shared by
// the Google Benchmark program and the call counter run under callgrind.
#pragma once

#include <string>
#include <vector>

#include "test_host.h"

namespace udmbench {

// Parameter lists: every field a number, or two of them expressions.
inline constexpr const char* kNumericDefinition = "1,1e9,2.5,0.5,0";
inline constexpr const char* kExpressionDefinition = "1,roff,vthres,0.5,0";

// The cheapest host an expression can have: registration hands out the next
// identifier, evaluation looks the value up by it.
class TrivialExpressionHost {
public:
    TrivialExpressionHost() {
        RegistrationRecord record{};
        udmtest::plugin().init(&OnMessage, &OnExpression, &record);
    }

private:
    static constexpr int kSlots = 8;
    static inline double values_[kSlots] = {1e9, 2.5, 0, 0, 0, 0, 0, 0};
    static inline int registered_ = 0;

    static int OnMessage(int, const char*) { return 0; }
    static int OnExpression(int op, const char*, double* in, double* out) {
        if (op == UDM_EXPR_REGISTER) {
            out[0] = registered_ % kSlots;
            out[1] = 0.0;
            ++registered_;
        } else {
            const double id = in[0];
            out[0] = id >= 0.0 && id < kSlots ? values_[static_cast<int>(id)] : 0.0;
        }
        return 0;
    }
};

class PreparedSwitch {
public:
    explicit PreparedSwitch(const char* definition) : simulation_(1e-3, 0.0, 2.0) {
        std::vector<char> text(definition, definition + std::string(definition).size() + 1);
        ok_ = instance_.call(UDM_MODE_INIT, text.data()) == UDM_OK &&
              instance_.call(UDM_MODE_PREPARE) == UDM_OK;
        instance_.setNodeValues(1.0, 0.5, 2.2, 0.0);  // control voltage between 2.0 and 3.0
        instance_.setNodeDerivatives(0.0, 0.0);
        ok_ = ok_ && evaluate() == UDM_OK;
    }
    ~PreparedSwitch() { instance_.call(UDM_MODE_RELEASE); }
    PreparedSwitch(const PreparedSwitch&) = delete;
    PreparedSwitch& operator=(const PreparedSwitch&) = delete;

    bool ok() const { return ok_; }

    int32_t frame() { return instance_.call(0); }
    int32_t evaluate() { return instance_.call(UDM_MODE_EVALUATE, nullptr, simulation_.get()); }
    int32_t outputValue(double* out) {
        return instance_.call(UDM_MODE_OUTPUT_VALUE, nullptr, simulation_.get(), out);
    }
    HGLOBAL vectorHandle() const { return instance_.vector; }

private:
    TrivialExpressionHost host_;
    udmtest::TestInstance instance_;
    udmtest::Simulation simulation_;
    bool ok_ = false;
};

}  // namespace udmbench
