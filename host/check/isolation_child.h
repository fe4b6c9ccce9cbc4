// What the POSIX and the Windows isolation share: the record of the child's
// progress that the parent reads after the child died, and the parent's
// reading of the child's messages into lines.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "check/isolation.h"

namespace udmhost {

// In memory both processes see; the child writes, the parent reads.
struct SharedState {
    char check[512];
    char activity[512];
};

// A failed line for `check` with the one fault `what`.
CheckLine checkFailure(const std::string& check, const std::string& what);

// Where the child records its progress (set in the child only).
void shareProgress(SharedState* state);

// The parent's side of one child: messages in, lines out.
class ChildResults {
public:
    ChildResults(IsolatedRun& run, const std::vector<std::string>& planned,
                 const std::function<void(const CheckLine&)>& onLine)
        : run_(run), planned_(planned), onLine_(onLine) {}

    // Takes every complete message in `buffer` out of it.
    void take(std::string& buffer);
    bool finished() const { return finished_; }  // the child sent its end message
    // Reports the lines after the child ended: `problem` ("" when it ran to
    // its end) is charged to the check named in `state`.
    void conclude(const std::string& problem, const SharedState& state, bool hung);
    // The child could not be started at all.
    void cannotStart(const std::string& what);

private:
    void report(const CheckLine& line);
    void hold(const CheckLine& line);

    IsolatedRun& run_;
    const std::vector<std::string>& planned_;
    const std::function<void(const CheckLine&)>& onLine_;
    std::optional<CheckLine> pending_;
    std::set<std::string> seen_;
    bool finished_ = false;
};

}  // namespace udmhost
