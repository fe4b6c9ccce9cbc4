#include "interface_session.h"

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "byte_reader.h"
#include "host_records.h"
#include "plugin_loader.h"
#include "switch_instance.h"

namespace udmfuzz {

namespace {

using udmtest::plugin;

constexpr uint8_t kGuard = 0xA5;
constexpr size_t kComponentBytes = 64;
constexpr size_t kMaxCalls = 64;
constexpr size_t kMaxText = 96;

const char* const kKnownMessages[] = {
    "Cannot allocate memory !\n Please check the UDC !",
    "The hysteresis value must be greater then 0. Modulo is used",
    "Too much parameters in model definition!"};
constexpr int kKnownSeverities[] = {UDM_SEVERITY_FAILURE, UDM_SEVERITY_WARNING, UDM_SEVERITY_WARNING};

// How a handle that the host passes behaves when locked.
enum class HandleKind { Good, Null, Unlockable };

struct Range {
    size_t offset = 0;
    size_t length = 0;
    bool contains(size_t i) const { return i >= offset && i < offset + length; }
};

class Session;
Session* g_session = nullptr;  // the callbacks' way back to the running session

class Session {
public:
    // The blocks come from the platform library that this program links, as
    // a host's do; the plug-in finds the same library loaded.
    explicit Session(ByteReader& in) : in_(in) {
        g_session = this;
        RegistrationRecord record{};
        plugin().init(&onMessage, &onExpression, &record);

        // The arrays where a host puts them, spaced and aligned as the input says.
        const udm::BlockSpacing spacing{in_.below(64), std::size_t{1} << in_.below(4)};
        layout_ = *udm::instanceBlockLayout(4, 4, spacing);

        instance_ = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, UDM_INSTANCE_BYTES);
        component_ = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kComponentBytes);
        vector_ = ::GlobalAlloc(GMEM_MOVEABLE, layout_.vectorBytes);
        matrix_ = ::GlobalAlloc(GMEM_MOVEABLE, layout_.matrixBytes);
        discarded_ = ::GlobalAlloc(GMEM_MOVEABLE, 0);  // live, but never lockable
        stale_ = ::GlobalAlloc(GMEM_MOVEABLE, 16);
        ::GlobalFree(stale_);  // every later use of it is a use after free

        fill(instance_, sizeof(vcswitch::InstanceData), UDM_INSTANCE_BYTES, kGuard);
        fill(component_, UDM_COMPONENT_RECORD_BYTES, kComponentBytes, kGuard);
        fill(vector_, 0, layout_.vectorBytes, kGuard);
        fill(matrix_, 0, layout_.matrixBytes, kGuard);
        vectorField_ = vector_;
        matrixField_ = matrix_;
        writeComponent();
        sim_.setTime(1.0);
    }

    ~Session() {
        for (HGLOBAL h : {instance_, component_, vector_, matrix_, discarded_}) ::GlobalFree(h);
        g_session = nullptr;
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    SessionResult run() {
        for (size_t n = 0; n < kMaxCalls && result_.problem.empty() && !in_.empty(); ++n) step();
        if (result_.problem.empty() && defined_) call(UDM_MODE_RELEASE, 0);  // a host ends every instance
        return result_;
    }

private:
    // A copy of one block's bytes; every block of a session is at most 512.
    struct BlockCopy {
        std::array<uint8_t, 512> bytes;
        size_t size;
        const uint8_t* data() const { return bytes.data(); }
        // The views of the records also write, but are only read through here.
        void* view() const { return const_cast<uint8_t*>(bytes.data()); }
    };
    struct Snapshot {
        BlockCopy instance, component, vector, matrix;
    };
    struct Ranges {
        std::array<Range, 3> ranges;
        size_t count = 0;
        void add(Range r) { ranges[count++] = r; }
        bool contain(size_t i) const {
            for (size_t k = 0; k < count; ++k)
                if (ranges[k].contains(i)) return true;
            return false;
        }
    };

    void step() {
        const uint8_t op = in_.byte();
        switch (op % 16) {
            case 0: case 1: case 2: case 3: case 4: case 5: case 6:
                call(op % 16 + 1, in_.byte());
                break;
            case 7:
                call(static_cast<int32_t>(in_.integer<uint32_t>()), in_.byte());  // not a phase
                break;
            case 8:
                writeDoubles(vector_, layout_.nodeValue, {in_.number(), in_.number(), in_.number(), in_.number()});
                break;
            case 9:
                writeDoubles(vector_, layout_.nodeDeriv, {in_.number(), in_.number()});
                break;
            case 10:
                vectorField_ = chooseHandle(in_.byte(), vector_);
                writeComponent();
                break;
            case 11:
                matrixField_ = chooseHandle(in_.byte(), matrix_);
                writeComponent();
                break;
            case 12:
                sim_.setTime(in_.number());
                sim_.setStartTime(in_.number());
                break;
            case 13:
                sim_.setSelector(in_.number());
                break;
            case 14:
                checkCatalogue(in_.integer<uint32_t>());
                break;
            default:
                nameLength_ = in_.text(name_.data(), name_.size());
                break;
        }
    }

    // --- handles ---------------------------------------------------------

    // Mostly the good handle; else null, stale, live-but-unlockable or forged.
    HGLOBAL chooseHandle(uint8_t choice, HGLOBAL good) {
        switch (choice % 8) {
            case 4: return nullptr;
            case 5: return stale_;
            case 6: return discarded_;
            case 7: {
                auto forged = reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(in_.integer<uint32_t>()));
                // A forged value that names a live block is that block, not a forgery.
                if (::GlobalFlags(forged) != GMEM_INVALID_HANDLE) return stale_;
                return forged;
            }
            default: return good;
        }
    }

    HandleKind kindOf(HGLOBAL h, HGLOBAL good) const {
        if (h == nullptr) return HandleKind::Null;
        return h == good ? HandleKind::Good : HandleKind::Unlockable;
    }

    // The status the frame and the phase owe for these handles.
    int32_t expectedStatus(int32_t mode, HGLOBAL instance, HGLOBAL component) const {
        const HandleKind i = kindOf(instance, instance_), c = kindOf(component, component_);
        if (i == HandleKind::Null || c == HandleKind::Null) return UDM_ERR_NULL_HANDLE;
        if (i != HandleKind::Good || c != HandleKind::Good) return UDM_ERR_LOCK_FAILED;
        const HandleKind v = kindOf(vectorField_, vector_), m = kindOf(matrixField_, matrix_);
        if (mode == UDM_MODE_PREPARE || mode == UDM_MODE_EVALUATE) {
            if (v == HandleKind::Null || m == HandleKind::Null) return UDM_ERR_NULL_HANDLE;
            if (v != HandleKind::Good || m != HandleKind::Good) return UDM_ERR_LOCK_FAILED;
        }
        if (mode == UDM_MODE_OUTPUT_VALUE) {
            if (v == HandleKind::Null) return UDM_ERR_NULL_HANDLE;
            if (v != HandleKind::Good) return UDM_ERR_LOCK_FAILED;
        }
        return UDM_OK;
    }

    // --- one call ----------------------------------------------------------

    void call(int32_t mode, uint8_t handleChoice) {
        // A host re-creates an instance rather than defining it twice.
        if (mode == UDM_MODE_INIT && defined_) call(UDM_MODE_RELEASE, 0);
        if (!result_.problem.empty()) return;

        HGLOBAL instance = chooseHandle(handleChoice, instance_);
        HGLOBAL component = chooseHandle(static_cast<uint8_t>(handleChoice >> 3), component_);
        // The text sits in a buffer of guard bytes, so that a write past its
        // end shows.
        textBuffer_.fill(static_cast<char>(kGuard));
        size_t length = 0;
        if (mode == UDM_MODE_INIT) length = in_.text(textBuffer_.data(), kMaxText);
        if (mode == UDM_MODE_OUTPUT_INDEX) {
            length = nameLength_;
            std::memcpy(textBuffer_.data(), name_.data(), length);
        }
        textBuffer_[length] = '\0';
        TextBuffer textAfterDefinition = textBuffer_;  // each comma of the text becomes its end
        for (size_t i = 0; i < length && textAfterDefinition[i] != '\0'; ++i)
            if (textAfterDefinition[i] == ',') textAfterDefinition[i] = '\0';
        const TextBuffer textBefore = textBuffer_;
        const bool passText = mode == UDM_MODE_INIT || mode == UDM_MODE_OUTPUT_INDEX || (handleChoice & 0x40);

        take(before_);
        const double outSentinel = std::bit_cast<double>(uint64_t{0xA5A5A5A5A5A5A5A5u});
        double out = outSentinel;
        mode_ = mode;
        lastMode_ = mode;
        lastStatus_ = -1;
        messages_ = 0;
        const int32_t expected = expectedStatus(mode, instance, component);
        const int32_t status = plugin().main(mode, passText ? textBuffer_.data() : nullptr, sim_bytes_, &out,
                                             instance, component);
        mode_ = 0;
        take(after_);
        const Snapshot& before = before_;
        const Snapshot& after = after_;
        lastStatus_ = status;
        ++result_.calls;
        if (status != UDM_OK) ++result_.refused;
        if (status == UDM_OK && mode == UDM_MODE_EVALUATE) ++result_.stamps;

        if (status != expected) return fail("expected status " + std::to_string(expected));
        for (HGLOBAL h : {instance_, component_, vector_, matrix_, discarded_})
            if ((::GlobalFlags(h) & GMEM_LOCKCOUNT) != 0) return fail("a block stays locked");

        const bool ran = status == UDM_OK;
        const bool written = ran && (mode == UDM_MODE_OUTPUT_INDEX || mode == UDM_MODE_OUTPUT_VALUE);
        if (!written && std::memcmp(&out, &outSentinel, sizeof out) != 0)
            return fail("out written");
        if (textBuffer_ != (ran && mode == UDM_MODE_INIT ? textAfterDefinition : textBefore))
            return fail("text written other than at its commas");
        if (!(ran && mode == UDM_MODE_INIT) && messages_ != 0) return fail("message outside definition");

        // Which bytes of each block this call may change.
        const bool stamps = ran && mode == UDM_MODE_EVALUATE;
        Ranges instanceRanges, componentRanges, vectorRanges, matrixRanges;
        if (ran && mode >= UDM_MODE_INIT && mode <= UDM_MODE_RELEASE) instanceRanges.add({0, sizeof(vcswitch::InstanceData)});
        if (ran && mode == UDM_MODE_INIT) componentRanges.add({2, 6});
        if (stamps) vectorRanges.add({layout_.rhs, 16});
        if (ran && mode == UDM_MODE_PREPARE) {
            matrixRanges.add({layout_.rowIndex, 16});
            matrixRanges.add({layout_.colIndex, 16});
        }
        if (stamps) matrixRanges.add({layout_.matrixValue, 32});
        if (!onlyChanged(before.instance, after.instance, instanceRanges, "instance block") ||
            !onlyChanged(before.component, after.component, componentRanges, "component record") ||
            !onlyChanged(before.vector, after.vector, vectorRanges, "vector block") ||
            !onlyChanged(before.matrix, after.matrix, matrixRanges, "matrix block"))
            return;

        if (!ran) return;
        vcswitch::InstanceData inst;
        std::memcpy(&inst, after.instance.data(), sizeof inst);
        switch (mode) {
            case UDM_MODE_INIT:
                defined_ = true;
                if (udm::ComponentRecordView(after.component.view()).entryCount() != 4)
                    return fail("entry count not 4");
                for (const auto& slot : inst.slots)
                    if (!slot.isExpression && slot.exprText != nullptr) return fail("number with a text");
                if (!(inst.slots[vcswitch::kVhyst].value >= 0.0)) return fail("negative hysteresis kept");
                break;
            case UDM_MODE_PREPARE:
                for (uint16_t k = 0; k < 4; ++k) {
                    const udm::MatrixBlockView matrix(after.matrix.view(), layout_);
                    if (matrix.rowIndex(k) != (k < 2 ? 0 : 1) || matrix.columnIndex(k) != (k % 2))
                        return fail("wrong pattern");
                }
                break;
            case UDM_MODE_EVALUATE:
                checkStamp(inst, after);
                break;
            case UDM_MODE_OUTPUT_INDEX:
                if (!(out >= 0.0 && out <= 10.0 && out == std::trunc(out))) return fail("index out of range");
                break;
            case UDM_MODE_RELEASE:
                defined_ = false;
                break;
            default:
                break;
        }
    }

    // The stamp of a successful evaluation: G, -G, -G, G with G the
    // instance's conductance, a zero right-hand side and a decided state.
    void checkStamp(const vcswitch::InstanceData& inst, const Snapshot& after) {
        if (inst.state != 0 && inst.state != 1) return fail("state neither open nor closed");
        const double g = inst.conductance;
        const double expected[4] = {g, -g, -g, g};
        for (size_t k = 0; k < 4; ++k) {
            const double v = udm::MatrixBlockView(after.matrix.view(), layout_).value(k);
            if (std::memcmp(&v, &expected[k], sizeof v) != 0) return fail("stamp is not G, -G, -G, G");
        }
        const double resistance = inst.slots[inst.state == 1 ? vcswitch::kRon : vcswitch::kRoff].value;
        const double reciprocal = 1.0 / resistance;
        if (std::memcmp(&g, &reciprocal, sizeof g) != 0) return fail("conductance is not 1/R");
        for (size_t k = 0; k < 2; ++k)
            if (udm::VectorBlockView(after.vector.view(), layout_).rhs(k) != 0.0)
                return fail("right-hand side not zero");
    }

    // --- callbacks ---------------------------------------------------------

    static int onMessage(int severity, const char* text) {
        Session& s = *g_session;
        ++s.messages_;
        if (s.mode_ != UDM_MODE_INIT) s.fail("message outside definition");
        bool known = false;
        for (size_t i = 0; i < 3; ++i)
            known = known || (text != nullptr && std::strcmp(text, kKnownMessages[i]) == 0 && severity == kKnownSeverities[i]);
        if (!known) s.fail("unknown message or severity");
        return 0;
    }

    static int onExpression(int op, const char* text, double* input, double* output) {
        Session& s = *g_session;
        if (output == nullptr) s.fail("expression call without an output pair");
        if (op == UDM_EXPR_REGISTER) {
            if (s.mode_ != UDM_MODE_PREPARE || text == nullptr || input != nullptr) s.fail("bad registration call");
            if (output != nullptr) {
                output[0] = s.in_.number();
                output[1] = s.in_.number();
            }
        } else if (op == UDM_EXPR_EVALUATE) {
            if (s.mode_ != UDM_MODE_EVALUATE || text != nullptr || input == nullptr) {
                s.fail("bad evaluation call");
            } else {
                for (int k = 0; k < 2; ++k)
                    if (!(input[k] >= -2147483648.0 && input[k] <= 2147483647.0 && input[k] == std::trunc(input[k])))
                        s.fail("identifier handed back is no 32-bit integer");
            }
            if (output != nullptr) output[0] = s.in_.number();
        } else {
            s.fail("unknown expression operation");
        }
        return 0;
    }

    // --- blocks ------------------------------------------------------------

    static void copy(HGLOBAL h, BlockCopy& copy) {
        copy.size = ::GlobalSize(h);
        const void* base = ::GlobalLock(h);
        if (copy.size != 0) std::memcpy(copy.bytes.data(), base, copy.size);
        ::GlobalUnlock(h);
    }
    void take(Snapshot& s) const {
        copy(instance_, s.instance);
        copy(component_, s.component);
        copy(vector_, s.vector);
        copy(matrix_, s.matrix);
    }

    static void fill(HGLOBAL h, size_t from, size_t to, uint8_t value) {
        auto* base = static_cast<uint8_t*>(::GlobalLock(h));
        std::memset(base + from, value, to - from);
        ::GlobalUnlock(h);
    }
    static void writeDoubles(HGLOBAL h, size_t offset, std::initializer_list<double> values) {
        void* base = ::GlobalLock(h);
        size_t at = offset;
        for (double v : values) {
            udm::storeAt<double>(base, at, v);
            at += sizeof(double);
        }
        ::GlobalUnlock(h);
    }
    void writeComponent() {
        void* base = ::GlobalLock(component_);
        const udm::ComponentRecordView c(base);
        c.setVectorBlock(vectorField_);
        c.setMatrixBlock(matrixField_);
        layout_.writeOffsets(c);
        ::GlobalUnlock(component_);
    }

    bool onlyChanged(const BlockCopy& before, const BlockCopy& after, const Ranges& allowed, const char* what) {
        if (std::memcmp(before.data(), after.data(), before.size) == 0) return true;
        for (size_t i = 0; i < before.size; ++i) {
            if (before.bytes[i] == after.bytes[i]) continue;
            if (!allowed.contain(i)) {
                fail(std::string(what) + ": byte " + std::to_string(i) + " written");
                return false;
            }
        }
        return true;
    }

    void checkCatalogue(uint32_t index) {
        const auto* entry = static_cast<const char*>(plugin().listNodeInfo(index));
        if (index > 13) {
            if (entry != nullptr) fail("catalogue entry beyond index 13");
            return;
        }
        if (entry == nullptr) return fail("catalogue entry missing");
        const udm::CatalogueEntryView view(entry);
        if (!view.terminated(udm::CatalogueText::Name) || !view.terminated(udm::CatalogueText::Description))
            fail("catalogue text without its terminating zero");
    }

    void fail(const std::string& why) {
        if (!result_.problem.empty()) return;
        result_.problem = "mode " + std::to_string(lastMode_) + ", status " + std::to_string(lastStatus_) + ": " + why;
    }

    ByteReader& in_;
    udm::InstanceBlockLayout layout_;
    HGLOBAL instance_ = nullptr, component_ = nullptr, vector_ = nullptr, matrix_ = nullptr;
    HGLOBAL discarded_ = nullptr, stale_ = nullptr;
    HGLOBAL vectorField_ = nullptr, matrixField_ = nullptr;  // what the component record holds
    unsigned char sim_bytes_[UDM_SIMULATION_RECORD_BYTES] = {};
    udm::SimulationRecordWriter sim_{sim_bytes_};
    using TextBuffer = std::array<char, kMaxText + 1 + 16>;
    TextBuffer textBuffer_{};
    std::array<char, 16> name_{};  // for mode 5
    size_t nameLength_ = 0;
    bool defined_ = false;
    int32_t mode_ = 0;  // the phase running, 0 between calls
    int messages_ = 0;
    int32_t lastMode_ = 0, lastStatus_ = 0;  // of the latest call, for reports
    Snapshot before_{}, after_{};
    SessionResult result_;
};

}  // namespace

SessionResult runInterfaceSession(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    Session session(in);
    return session.run();
}

}  // namespace udmfuzz
