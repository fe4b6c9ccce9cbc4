// A loaded plug-in registered with recording callbacks, and test instances
// whose blocks are guard-filled so that every stray write shows.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "check/check_line.h"
#include "check/lock_watch.h"
#include "host_records.h"
#include "pluginhost/plugin_library.h"

namespace udmhost {

// What the plug-in is doing while a callback arrives, and what is due then.
struct Recorder {
    std::string activity = "loading";
    bool registrationDue = false;  // expression op 0
    bool evaluationDue = false;    // expression op 1
    bool messagesAllowed = false;
    double idFraction = 0.0;  // added to the identifiers handed out, to test truncation
    std::vector<std::string> violations;
    std::vector<std::string> messages;         // "severity: text"
    std::vector<std::string> registeredTexts;  // in the order of registration
    std::map<std::pair<int, int>, double> registered;  // identifiers -> value
    int nextId = 100;
    int registrations = 0;
    int evaluations = 0;
};

// The recorder the callbacks write to; one per process (calls never overlap).
Recorder& recorder();

MessageCallback recordingMessageCallback();
ExpressionCallback recordingExpressionCallback();

// The value an expression text stands for: "(1k)" is 1000; anything else 0.
double expressionValue(const std::string& text);

struct PlugInUnderTest {
    explicit PlugInUnderTest(const std::string& path);  // loads and registers; throws
    PluginLibrary lib;
    LockWatchBinding lockWatch{lib};  // after lib: restored before the library is unloaded
    Registration registration;
    std::vector<CatalogueItem> catalogue;
    size_t terminals = 0;
    std::vector<CatalogueItem> parameters;
    std::vector<std::string> outputs;
    std::string defaultDefinition() const;  // the parameters' defaults, comma-separated
};


constexpr unsigned char kGuard = 0xA5;
constexpr size_t kTail = 64;  // guard bytes behind the instance block and the component record

class TestInstance {
public:
    // `regionStart` is the offset of the first region in both blocks.
    TestInstance(PlugInUnderTest& plugin, size_t number, uint16_t regionStart = 16);
    ~TestInstance();
    TestInstance(const TestInstance&) = delete;
    TestInstance& operator=(const TestInstance&) = delete;

    // Mode 1 with `text` (copied into a guarded buffer). Reads the announced
    // entry count; `sizeFault` says why it cannot be used, empty when it can.
    int32_t define(const std::string& text, std::string* sizeFault = nullptr);
    int32_t call(int32_t mode, char* text, void* simulation, double* out);
    int32_t callWith(int32_t mode, char* text, void* simulation, double* out, HGLOBAL instance, HGLOBAL component);

    // Lock leaks of every call go here (unlocked again so the check goes on).
    void watchLocks(Finding* finding) { locks_ = finding; }
    // Writes past the registered instance size or into the component record go here.
    void watchStray(Finding* finding) { stray_ = finding; }
    // Moves all four blocks to fresh memory, as a host compacting its heap may.
    void relocate();

    void setNodes(const std::vector<double>& values, const std::vector<double>& derivatives);
    void fillMatrixValues(unsigned char byte);
    void fillRhs(unsigned char byte);
    std::vector<unsigned char> bytes(HGLOBAL h) const;
    std::vector<unsigned char> bytesOf(const std::string& which) const;  // "instance", "component", ...
    void setComponentHandles(HGLOBAL vector, HGLOBAL matrix);

    std::vector<double> stamp() const;     // the announced entries' values
    std::vector<double> rhs() const;       // one double per terminal
    std::vector<std::pair<int32_t, int32_t>> pattern() const;
    std::vector<char>& definitionBuffer() { return definition_; }
    const std::string& definitionText() const { return definitionText_; }

    PlugInUnderTest& plugin;
    const std::string who;  // "instance 2"
    HGLOBAL instance = nullptr, component = nullptr, vector = nullptr, matrix = nullptr;
    size_t entries = 0;
    udm::InstanceBlockLayout layout;

private:
    void allocateMatrix();
    std::optional<udm::InstanceBlockLayout> placeRegions(size_t matrixEntries) const;
    void checkLocks(const std::string& what);
    void checkStray(const std::string& what, int32_t mode, const std::vector<unsigned char>& instanceBefore,
                    const std::vector<unsigned char>& componentBefore);
    void checkLockOrder(const std::string& what, const std::vector<struct LockEvent>& events);
    std::string handleName(HGLOBAL h) const;
    uint16_t regionStart_;
    std::vector<char> definition_;
    std::string definitionText_;
    Finding* locks_ = nullptr;
    Finding* stray_ = nullptr;
};

// A SimulationRecord with room to spare.
struct SimulationBlock {
    alignas(8) unsigned char bytes[64] = {};
    void set(double selector, double time, double startTime);
};

std::string describe(const std::vector<std::string>& names);
std::string number(double value);  // shortest text that reads back exactly

}  // namespace udmhost
