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

// Marks the call for its lifetime (calls do not nest on one thread).
class CallMark {
public:
    CallMark(const std::string& instance, int32_t mode);
    ~CallMark();
    CallMark(const CallMark&) = delete;
    CallMark& operator=(const CallMark&) = delete;
};

CallInProgress callInProgress();
// "define", "prepare", ... for a mode number; "mode N" for another.
std::string modeName(int32_t mode);

}  // namespace udmhost::sim
