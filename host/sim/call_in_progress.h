// Which plug-in call the current thread is inside: a plug-in that ends the
// process from a call (exit) is named by the host's exit hook.
#pragma once

#include <cstdint>
#include <string>

namespace udmhost::sim {

struct CallInProgress {
    const std::string* instance = nullptr;  // nullptr when no call is in progress
    int32_t mode = 0;
};

namespace detail {
inline constinit thread_local CallInProgress currentCall;
}  // namespace detail

// Marks the call for its lifetime (calls do not nest on one thread). Inline:
// it frames every plug-in call.
class CallMark {
public:
    CallMark(const std::string& instance, int32_t mode) { detail::currentCall = {&instance, mode}; }
    ~CallMark() { detail::currentCall = {}; }
    CallMark(const CallMark&) = delete;
    CallMark& operator=(const CallMark&) = delete;
};

inline CallInProgress callInProgress() { return detail::currentCall; }
// "define", "prepare", ... for a mode number; "mode N" for another.
std::string modeName(int32_t mode);

}  // namespace udmhost::sim
