// The CatalogueEntry record ListNodeInfo returns: three zero-terminated text
// fields of fixed size and the entry's kind.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>

#include "record_fields.h"

namespace udm {

enum class CatalogueText { Name, Description, Default };

constexpr std::size_t catalogueTextOffset(CatalogueText field) {
    switch (field) {
        case CatalogueText::Name: return UDM_CAT_NAME;
        case CatalogueText::Description: return UDM_CAT_DESCRIPTION;
        case CatalogueText::Default: return UDM_CAT_DEFAULT;
    }
    return 0;
}

// Bytes of the field, its terminating zero included.
constexpr std::size_t catalogueTextBytes(CatalogueText field) {
    switch (field) {
        case CatalogueText::Name: return UDM_CAT_NAME_BYTES;
        case CatalogueText::Description: return UDM_CAT_DESCRIPTION_BYTES;
        case CatalogueText::Default: return UDM_CAT_DEFAULT_BYTES;
    }
    return 0;
}

class CatalogueEntryView {
public:
    explicit CatalogueEntryView(const void* base) : base_(static_cast<const unsigned char*>(base)) {}

    int32_t kind() const { return loadAt<int32_t>(base_, UDM_CAT_KIND); }
    // The text up to its first zero, or the whole field if it has none.
    std::string_view text(CatalogueText field) const {
        const auto bytes = raw(field);
        const auto* chars = reinterpret_cast<const char*>(bytes.data());
        return {chars, static_cast<std::size_t>(std::find(bytes.begin(), bytes.end(), 0) - bytes.begin())};
    }
    bool terminated(CatalogueText field) const {
        const auto bytes = raw(field);
        return std::find(bytes.begin(), bytes.end(), 0) != bytes.end();
    }
    std::string_view name() const { return text(CatalogueText::Name); }
    std::string_view description() const { return text(CatalogueText::Description); }
    std::string_view defaultText() const { return text(CatalogueText::Default); }
    // Every byte of a field, for checks of what lies behind the text.
    std::span<const unsigned char> raw(CatalogueText field) const {
        return {base_ + catalogueTextOffset(field), catalogueTextBytes(field)};
    }

private:
    const unsigned char* base_;
};

class CatalogueEntryWriter {
public:
    explicit CatalogueEntryWriter(void* base) : base_(static_cast<unsigned char*>(base)) {}

    void setKind(int32_t kind) const { storeAt<int32_t>(base_, UDM_CAT_KIND, kind); }
    // Copies `text` cut to the field's size less one and clears the rest of the field.
    void setText(CatalogueText field, std::string_view text) const {
        const std::size_t bytes = catalogueTextBytes(field);
        const std::size_t count = std::min(text.size(), bytes - 1);
        unsigned char* start = base_ + catalogueTextOffset(field);
        std::copy_n(text.data(), count, start);
        std::fill(start + count, start + bytes, static_cast<unsigned char>(0));
    }
    void setName(std::string_view text) const { setText(CatalogueText::Name, text); }
    void setDescription(std::string_view text) const { setText(CatalogueText::Description, text); }
    void setDefaultText(std::string_view text) const { setText(CatalogueText::Default, text); }

private:
    unsigned char* base_;
};

}  // namespace udm
