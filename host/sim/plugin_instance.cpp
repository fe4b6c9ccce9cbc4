#include "sim/plugin_instance.h"

#include <cstring>

#include "sim/call_in_progress.h"
#include "sim/simulator.h"

namespace udmhost::sim {

namespace {

std::vector<std::string> splitFields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ',') fields.emplace_back();
        else fields.back() += c;
    }
    return fields;
}

}  // namespace

udm::InstanceBlockLayout PluginInstance::layoutFor(size_t entries) const {
    const auto layout = udm::instanceBlockLayout(terminals_.size(), entries, kSpacing);
    if (!layout)
        throw SimulationError(name_ + ": too many terminals or matrix entries for the interface's 16-bit offsets");
    return *layout;
}

PluginInstance::PluginInstance(const PluginLibrary& library, size_t instanceBytes, CallbackRouter& router,
                               std::string name,
                               std::vector<int> terminals, std::string definition,
                               std::vector<std::string> parameterNames)
    : lib_(library),
      instanceBytes_(instanceBytes),
      router_(router),
      name_(std::move(name)),
      terminals_(std::move(terminals)),
      definition_(std::move(definition)),
      fields_(splitFields(definition_)),
      parameterNames_(std::move(parameterNames)) {}

PluginInstance::~PluginInstance() {
    release();
    if (vectorBlock_ != nullptr && vector_ != nullptr) lib_.globalUnlock(vectorBlock_);
    if (matrixBlock_ != nullptr && matrix_ != nullptr) lib_.globalUnlock(matrixBlock_);
    for (HGLOBAL h : {instance_, component_, vectorBlock_, matrixBlock_})
        if (h != nullptr) lib_.globalFree(h);
}

void PluginInstance::fail(int32_t status, int32_t mode) {
    if (router_.failed()) throw SimulationError(router_.takeFailure());
    throw SimulationError(name_ + ": plug-in returned status " + std::to_string(status) + " in phase " +
                          std::to_string(mode));
}

void PluginInstance::define() {
    layout_ = layoutFor(0);
    instance_ = lib_.globalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, instanceBytes_);
    component_ = lib_.globalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, UDM_COMPONENT_RECORD_BYTES);
    vectorBlock_ = lib_.globalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, layout_.vectorBytes);
    if (instance_ == nullptr || component_ == nullptr || vectorBlock_ == nullptr) throw SimulationError(name_ + ": out of memory");
    void* record = lib_.globalLock(component_);
    const udm::ComponentRecordView comp(record);
    comp.setVectorBlock(vectorBlock_);
    layout_.writeOffsets(comp);
    lib_.globalUnlock(component_);
    vector_ = static_cast<unsigned char*>(lib_.globalLock(vectorBlock_));

    std::vector<char> text(definition_.begin(), definition_.end());
    text.push_back('\0');
    defined_ = true;
    check(call(UDM_MODE_INIT, text.data(), nullptr, nullptr), UDM_MODE_INIT);

    record = lib_.globalLock(component_);
    entries_ = udm::ComponentRecordView(record).entryCount();
    lib_.globalUnlock(component_);
}

void PluginInstance::prepare() {
    const auto entries = static_cast<size_t>(entries_);
    layout_ = layoutFor(entries);
    matrixBlock_ = lib_.globalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, layout_.matrixBytes > 0 ? layout_.matrixBytes : 8);
    if (matrixBlock_ == nullptr) throw SimulationError(name_ + ": out of memory");
    void* record = lib_.globalLock(component_);
    const udm::ComponentRecordView comp(record);
    comp.setMatrixBlock(matrixBlock_);
    layout_.writeOffsets(comp);
    lib_.globalUnlock(component_);
    matrix_ = static_cast<unsigned char*>(lib_.globalLock(matrixBlock_));

    check(call(UDM_MODE_PREPARE, nullptr, nullptr, nullptr), UDM_MODE_PREPARE);

    rows_.resize(entries);
    columns_.resize(entries);
    localRows_.resize(entries);
    localColumns_.resize(entries);
    loaded_.assign(terminals_.size(), false);
    const auto local = static_cast<int32_t>(terminals_.size());
    const udm::MatrixBlockView matrix(matrix_, layout_);
    for (size_t k = 0; k < entries; ++k) {
        const auto row = matrix.rowIndex(k);
        const auto col = matrix.columnIndex(k);
        if (row < 0 || row >= local || col < 0 || col >= local)
            throw SimulationError(name_ + ": matrix entry " + std::to_string(k) + " (" + std::to_string(row) + ", " +
                                  std::to_string(col) + ") lies outside the instance's " + std::to_string(local) +
                                  " terminals");
        localRows_[k] = static_cast<size_t>(row);
        localColumns_[k] = static_cast<size_t>(col);
        loaded_[localRows_[k]] = loaded_[localColumns_[k]] = true;
        rows_[k] = terminals_[static_cast<size_t>(row)];
        columns_[k] = terminals_[static_cast<size_t>(col)];
    }
}

void PluginInstance::compareBlock() {
    const void* block = lib_.globalLock(instance_);
    if (block == nullptr) return;
    if (blockSnapshot_.size() != instanceBytes_ || std::memcmp(block, blockSnapshot_.data(), instanceBytes_) != 0) {
        const auto* bytes = static_cast<const unsigned char*>(block);
        blockSnapshot_.assign(bytes, bytes + instanceBytes_);
        ++blockChanges_;
    }
    lib_.globalUnlock(instance_);
}

void PluginInstance::evaluate(void* simulationRecord) {
    const long before = router_.expressionEvaluations();
    check(call(UDM_MODE_EVALUATE, nullptr, simulationRecord, nullptr), UDM_MODE_EVALUATE);
    usedExpressions_ = router_.expressionEvaluations() != before;
    noteBlockChanges();
}

void PluginInstance::accept() {
    check(call(UDM_MODE_ACCEPT, nullptr, nullptr, nullptr), UDM_MODE_ACCEPT);
    noteBlockChanges();
}

int PluginInstance::resolveOutput(const std::string& output) {
    std::vector<char> text(output.begin(), output.end());
    text.push_back('\0');
    double index = 0.0;
    check(call(UDM_MODE_OUTPUT_INDEX, text.data(), nullptr, &index), UDM_MODE_OUTPUT_INDEX);
    if (!(index >= 1.0 && index <= 65535.0)) return 0;
    return static_cast<int>(index);
}

double PluginInstance::output(int index, void* simulationRecord) {
    udm::SimulationRecordWriter(simulationRecord).setSelector(index);
    double value = 0.0;
    check(call(UDM_MODE_OUTPUT_VALUE, nullptr, simulationRecord, &value), UDM_MODE_OUTPUT_VALUE);
    noteBlockChanges();
    return value;
}

void PluginInstance::release() noexcept {
    if (!defined_ || released_) return;
    released_ = true;
    call(UDM_MODE_RELEASE, nullptr, nullptr, nullptr);
    router_.takeFailure();  // the run is over; a complaint now changes nothing
}

}  // namespace udmhost::sim
