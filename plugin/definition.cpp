// Modes 1 and 7: reading an instance's parameter list, releasing its texts.
#include <cstddef>
#include <cstring>

#include "parameters.h"
#include "text_memory.h"
#include "switch_instance.h"
#include "value_parser.h"

namespace vcswitch {

namespace {

// Fixed texts: hosts and users match on them, so they stay word for word.
constexpr const char* kNoMemoryMessage = "Cannot allocate memory !\n Please check the UDC !";
constexpr const char* kNegativeHysteresisMessage =
    "The hysteresis value must be greater then 0. Modulo is used";
constexpr const char* kTooManyFieldsMessage = "Too much parameters in model definition!";

// A sixth field passes silently; only a seventh is reported.
constexpr size_t kMaxQuietFields = 6;

char* copyText(const char* text) {
    const size_t bytes = std::strlen(text) + 1;
#ifdef UDM_BREAK_TEXT_KEPT  // fault: keeps the host's text instead of a copy
    return const_cast<char*>(text);
#endif
    char* copy = allocateText(bytes);
    if (copy != nullptr) std::memcpy(copy, text, bytes);
    return copy;
}

void assignField(ParamSlot& slot, size_t field, const char* text, MessageCallback message) {
    if (parseDefinitionToken(text) != 0) {
        const ParsedValue& parsed = lastParsedValue();
        slot.value = kParameters[field].kind == ParameterKind::State ? static_cast<double>(parsed.intValue) : parsed.doubleValue;
        slot.isExpression = false;
        return;
    }
    slot.isExpression = true;
    slot.exprText = copyText(text);
    if (slot.exprText == nullptr) message(UDM_SEVERITY_FAILURE, kNoMemoryMessage);
}

}  // namespace

void defineInstance(InstanceData& inst, udm::ComponentRecordView comp, char* text,
                    MessageCallback message) {
    // Texts of an earlier definition are not released here: release owns that.
    for (ParamSlot& slot : inst.slots) {
        slot.isExpression = false;
        slot.exprId1 = 0;
        slot.exprId2 = 0;
        slot.value = 0.0;
        slot.exprText = nullptr;
    }

    // The text is split in place at every comma; a wide counter so that a
    // huge list never wraps back onto the first slots.
#ifdef UDM_BREAK_FIELD_COUNTER  // fault: a 16-bit counter wraps onto the first slots
    uint16_t fields = 0;
#else
    size_t fields = 0;
#endif
    for (char* cursor = text; cursor != nullptr; ++fields) {
        char* comma = std::strchr(cursor, ',');
        if (comma != nullptr) *comma = '\0';
        if (*cursor != '\0' && fields < kSlotCount)
            assignField(inst.slots[fields], fields, cursor, message);
#ifdef UDM_BREAK_TEXT_CHANGED  // fault: marks each field it has read
        if (*cursor != '\0') *cursor = '#';
#endif
        cursor = comma != nullptr ? comma + 1 : nullptr;
    }

    double& hysteresis = inst.slots[kVhyst].value;
    if (!(hysteresis >= 0.0)) {
        hysteresis = -hysteresis;
        message(UDM_SEVERITY_WARNING, kNegativeHysteresisMessage);
    }

    comp.clearReserved();
    comp.setEntryCount(4);

    if (fields > kMaxQuietFields) message(UDM_SEVERITY_WARNING, kTooManyFieldsMessage);
}

void releaseInstance(InstanceData& inst) {
    for (ParamSlot& slot : inst.slots) {
#if !defined(UDM_BREAK_TEXT_KEPT) && !defined(UDM_BREAK_LEAK)  // fault: LEAK frees nothing
        releaseText(slot.exprText);
#endif
#ifndef UDM_BREAK_RELEASE_TWICE  // fault: a second release frees again
        slot.exprText = nullptr;  // a repeated release finds nothing to free
#endif
    }
}

}  // namespace vcswitch
