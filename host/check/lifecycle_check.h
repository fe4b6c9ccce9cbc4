// The polite life cycle: three instances defined with the catalogue
// defaults (one with an expression), prepared, evaluated over a few accepted
// time points, asked for every output and released. One method per phase;
// the findings are members and each is emitted when its phase is done.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "check/harness.h"
#include "check/isolation.h"

namespace udmhost {

class LifeCycle {
public:
    LifeCycle(PlugInUnderTest& plugin, CheckChannel& channel);
    static std::vector<std::string> checkNames();
    void run();

private:
    bool defineInstances();
    void prepareInstances();
    void evaluateSteps();
    void readOutputs();
    void releaseInstances();
    void emit(const Finding& finding);
    void skip(const Finding& finding, const std::string& reason);
    int32_t call(TestInstance& inst, int32_t mode, char* text, void* simulation, double* out);
    void checkPattern(const TestInstance& inst);
    void checkStamp(const TestInstance& inst, const std::vector<unsigned char>& vectorBefore,
                    const std::vector<unsigned char>& matrixBefore);

    PlugInUnderTest& plugin_;
    CheckChannel& channel_;
    std::vector<std::unique_ptr<TestInstance>> instances_;
    int calls_ = 0;
    Finding define_;
    Finding text_;
    Finding stray_;
    Finding pattern_;
    Finding stamp_;
    Finding outputs_;
    Finding status_;
    Finding locks_;
    Finding callbacks_;
};

}  // namespace udmhost
