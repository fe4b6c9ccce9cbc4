// One placed plug-in instance and the host blocks it is given: the instance
// block, the component record, a vector block (node values, node
// derivatives, right-hand side, one of each per terminal) and a matrix block
// (row indices, column indices, values, one of each per announced entry).
// The host keeps the vector and matrix blocks locked for the whole run, so
// that their addresses stay put while it reads and writes them between calls.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/call_in_progress.h"
#include "sim/callback_router.h"
#include "host_records.h"
#include "pluginhost/plugin_library.h"

namespace udmhost::sim {

// A few doubles into or out of a block, as inline moves: every evaluation
// copies four arrays of two to four doubles, which through the library's
// memcpy cost a call and a dispatch on the size each.
inline void copyFewBytes(unsigned char* to, const unsigned char* from, size_t bytes) {
    if (bytes >= 16 && bytes <= 32) {
        // Two 16-byte moves that meet or overlap in the middle.
        std::memcpy(to, from, 16);
        std::memcpy(to + bytes - 16, from + bytes - 16, 16);
        return;
    }
    std::memcpy(to, from, bytes);
}

class PluginInstance {
public:
    // `terminals`: the unknown of each terminal in catalogue order, -1 for ground.
    // `instanceBytes`: the instance block size the library registered.
    PluginInstance(const PluginLibrary& library, size_t instanceBytes, CallbackRouter& router, std::string name,
                   std::vector<int> terminals, std::string definition, std::vector<std::string> parameterNames);
    ~PluginInstance();  // releases the instance (mode 7) if that has not happened yet
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    const std::string& name() const { return name_; }
    const std::vector<int>& terminals() const { return terminals_; }

    void define();   // mode 1: reads the entry count
    void prepare();  // mode 2: reads the matrix pattern

    int entryCount() const { return entries_; }
    // Unknowns of entry k (-1: ground), after prepare().
    int entryRow(int k) const { return rows_[static_cast<size_t>(k)]; }
    int entryColumn(int k) const { return columns_[static_cast<size_t>(k)]; }
    // Terminals (catalogue order) of entry k.
    size_t entryTerminalRow(int k) const { return localRows_[static_cast<size_t>(k)]; }
    size_t entryTerminalColumn(int k) const { return localColumns_[static_cast<size_t>(k)]; }

    // Node values and their time derivatives, one per terminal.
    void setNode(size_t terminal, double value, double derivative) {
        const udm::VectorBlockView vector(vector_, layout_);
        vector.setNode(terminal, value);
        vector.setDerivative(terminal, derivative);
    }
    // Every terminal's value and derivative at once: each is one array of
    // the vector block.
    void setNodes(const double* values, const double* derivatives) {
        const size_t bytes = sizeof(double) * terminals_.size();
        if (bytes == 0) return;
        copyFewBytes(vector_ + layout_.nodeValue, reinterpret_cast<const unsigned char*>(values), bytes);
        copyFewBytes(vector_ + layout_.nodeDeriv, reinterpret_cast<const unsigned char*>(derivatives), bytes);
    }
    void evaluate(void* simulationRecord);  // mode 3
    double matrixValue(int k) const { return udm::MatrixBlockView(matrix_, layout_).value(static_cast<size_t>(k)); }
    double rhs(size_t terminal) const { return udm::VectorBlockView(vector_, layout_).rhs(terminal); }
    // The stamp as `out` holds it: the entries' values, then the right-hand
    // side of each terminal (two arrays of the blocks, copied whole).
    void copyStamp(double* out) const {
        const auto entries = static_cast<size_t>(entries_);
        auto* to = reinterpret_cast<unsigned char*>(out);
        if (entries > 0) copyFewBytes(to, matrix_ + layout_.matrixValue, sizeof(double) * entries);
        if (!terminals_.empty())
            copyFewBytes(to + sizeof(double) * entries, vector_ + layout_.rhs, sizeof(double) * terminals_.size());
    }

    void accept();                                         // mode 4
    // Changes by the plug-in to its instance block, counted over the calls
    // that may make them (modes 3, 4 and 6): the plug-in keeps no state
    // outside that block, so while the count stays the same so does
    // everything its evaluation depends on besides its inputs.
    // Counted only once asked for: each count is a lock and a comparison of
    // the whole block after every call, which only the bypass needs.
    long blockChanges() const { return blockChanges_; }
    void countBlockChanges() { countBlockChanges_ = true; }
    // Expressions the latest evaluation had the host evaluate.
    bool latestEvaluationUsedExpressions() const { return usedExpressions_; }
    // Terminal i carries some matrix entry (row or column) of the stamp.
    bool loadsTerminal(size_t i) const { return loaded_[i]; }
    int resolveOutput(const std::string& output);          // mode 5: 0 when unknown
    double output(int index, void* simulationRecord);      // mode 6
    void release() noexcept;                               // mode 7, once

private:
    // Every array a few bytes apart, so that a plug-in that ignores an offset shows.
    static constexpr udm::BlockSpacing kSpacing{8, 8};
    udm::InstanceBlockLayout layoutFor(size_t entries) const;
    // Inline, as are the checks after it: they frame every plug-in call.
    int32_t call(int32_t mode, char* text, void* simulation, double* out) {
        router_.enter(&name_, &fields_, &parameterNames_);
        const CallMark mark(name_, mode);
        const int32_t status = lib_.call(mode, text, simulation, out, instance_, component_);
        router_.leave();
        return status;
    }
    void noteBlockChanges() {
        if (countBlockChanges_) [[unlikely]]
            compareBlock();
    }
    void compareBlock();
    // Throws SimulationError for a failure the call reported or a status
    // other than UDM_OK.
    void check(int32_t status, int32_t mode) {
        if (router_.failed() || status != UDM_OK) [[unlikely]]
            fail(status, mode);
    }
    [[noreturn]] void fail(int32_t status, int32_t mode);

    const PluginLibrary& lib_;
    size_t instanceBytes_;
    CallbackRouter& router_;
    std::string name_;
    std::vector<int> terminals_;
    std::string definition_;
    std::vector<std::string> fields_;
    std::vector<std::string> parameterNames_;

    HGLOBAL instance_ = nullptr, component_ = nullptr, vectorBlock_ = nullptr, matrixBlock_ = nullptr;
    unsigned char* vector_ = nullptr;  // locked for the run
    unsigned char* matrix_ = nullptr;  // locked for the run
    udm::InstanceBlockLayout layout_;
    int entries_ = 0;
    std::vector<int> rows_, columns_;
    std::vector<size_t> localRows_, localColumns_;
    std::vector<bool> loaded_;
    std::vector<unsigned char> blockSnapshot_;
    long blockChanges_ = 0;
    bool countBlockChanges_ = false;
    bool usedExpressions_ = false;
    bool defined_ = false, released_ = false;
};

}  // namespace udmhost::sim
