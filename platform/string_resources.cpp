// String tables and version records of loaded modules, in the user's
// language, delivered in Windows-1252 as on a Western European Windows.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "module_notes.h"
#include "resource_note.h"
#include "udm_platform.h"

namespace {

using udm::resnote::kEnglishUS;
using udm::resnote::kGerman;

uint16_t read16(std::span<const uint8_t> bytes, std::size_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// Decided at every lookup, as the environment may change between calls: the
// first non-empty of LC_ALL, LC_MESSAGES, LANG; German for "de...", else
// English.
uint16_t userLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return std::string_view(value).starts_with("de") ? kGerman : kEnglishUS;
    }
    return kEnglishUS;
}

// Length-prefixed texts keyed by language (and, in the string table, id).
// Yields the text for the first language of `preference` that has one, then
// any language.
class TextList {
public:
    TextList(std::span<const uint8_t> bytes, bool withId) : bytes_(bytes), withId_(withId) {}

    std::optional<std::string_view> find(uint16_t id, std::initializer_list<uint16_t> preference) const {
        for (uint16_t language : preference) {
            if (auto text = scan(id, language)) return text;
        }
        return scan(id, std::nullopt);
    }

private:
    std::optional<std::string_view> scan(uint16_t id, std::optional<uint16_t> language) const {
        const std::size_t head = withId_ ? 6 : 4;
        std::size_t pos = 0;
        while (bytes_.size() - pos >= head) {
            const uint16_t entryLanguage = read16(bytes_, pos);
            const uint16_t entryId = withId_ ? read16(bytes_, pos + 2) : 0;
            const uint16_t length = read16(bytes_, pos + head - 2);
            if (length > bytes_.size() - pos - head) return std::nullopt;  // damaged note
            if (entryId == id && (!language || entryLanguage == *language))
                return std::string_view(reinterpret_cast<const char*>(bytes_.data() + pos + head), length);
            pos += head + length;
        }
        return std::nullopt;
    }

    std::span<const uint8_t> bytes_;
    bool withId_;
};

constexpr std::size_t kVersionNumbersBytes = 16;

}  // namespace

extern "C" {

UDM_PLATFORM_API int LoadStringA(HINSTANCE module, UINT id, char* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    buffer[0] = '\0';
    if (id > 0xFFFF) return 0;
    const TextList table(udm::findResourceNote(module, udm::resnote::kStringTable), true);
    const auto text = table.find(static_cast<uint16_t>(id), {userLanguage(), kEnglishUS});
    if (!text) return 0;
    const std::size_t count = std::min(text->size(), static_cast<std::size_t>(capacity) - 1);
    std::memcpy(buffer, text->data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

UDM_PLATFORM_API int UdmGetVersionInfo(HMODULE module, UINT language, UdmVersionInfo* info) {
    if (info == nullptr) return 0;
    const auto note = udm::findResourceNote(module, udm::resnote::kVersion);
    if (note.size() < kVersionNumbersBytes) return 0;
    *info = UdmVersionInfo{};
    for (std::size_t k = 0; k < 4; ++k) {
        info->fileVersion[k] = read16(note, 2 * k);
        info->productVersion[k] = read16(note, 8 + 2 * k);
    }
    const uint16_t wanted =
        language == 0 ? userLanguage() : static_cast<uint16_t>(std::min<UINT>(language, 0xFFFFu));
    const TextList comments(note.subspan(kVersionNumbersBytes), false);
    if (const auto text = comments.find(0, {wanted, kEnglishUS})) {
        const std::size_t count = std::min(text->size(), sizeof info->comments - 1);
        std::memcpy(info->comments, text->data(), count);
    }
    return 1;
}

}  // extern "C"
