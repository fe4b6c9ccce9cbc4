#include "note_writer.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "resource_note.h"
#include "windows1252.h"

namespace udm::rc {
namespace {

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>((v >> shift) & 0xFF));
}

// Length-prefixed Windows-1252 text.
void putText(std::vector<uint8_t>& out, std::string_view utf8) {
    const auto encoded = toWindows1252(utf8);
    if (!encoded) throw std::runtime_error("text not representable in Windows-1252: " + std::string(utf8));
    if (encoded->size() > 0xFFFF) throw std::runtime_error("text longer than 65535 bytes");
    put16(out, static_cast<uint16_t>(encoded->size()));
    out.insert(out.end(), encoded->begin(), encoded->end());
}

void putNote(std::vector<uint8_t>& out, uint32_t type, const std::vector<uint8_t>& desc) {
    put32(out, resnote::kOwnerBytes);
    put32(out, static_cast<uint32_t>(desc.size()));
    put32(out, type);
    out.insert(out.end(), resnote::kOwner, resnote::kOwner + resnote::kOwnerBytes);
    out.insert(out.end(), desc.begin(), desc.end());
    while (out.size() % 4 != 0) out.push_back(0);
}

}  // namespace

std::vector<uint8_t> buildResourceNotes(const ResourceScript& script) {
    std::vector<uint8_t> out;
    if (!script.strings.empty()) {
        std::vector<uint8_t> desc;
        for (const auto& entry : script.strings) {
            put16(desc, entry.language);
            put16(desc, entry.id);
            putText(desc, entry.text);
        }
        putNote(out, resnote::kStringTable, desc);
    }
    if (script.version) {
        std::vector<uint8_t> desc;
        for (uint16_t v : script.version->fileVersion) put16(desc, v);
        for (uint16_t v : script.version->productVersion) put16(desc, v);
        for (const auto& comment : script.version->comments) {
            put16(desc, comment.language);
            putText(desc, comment.text);
        }
        putNote(out, resnote::kVersion, desc);
    }
    return out;
}

std::string noteSource(const std::vector<uint8_t>& bytes, std::string_view origin) {
    std::string src;
    src += "// Generated from " + std::string(origin) + " at build time; edit the script instead.\n";
    src += "// The module's string table and version record, as ELF notes.\n";
    if (bytes.empty()) return src;
    src += "namespace {\n";
    src += "alignas(4) __attribute__((section(\"" + std::string(resnote::kSection) + "\"), used))\n";
    src += "const unsigned char kResourceNotes[] = {";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02x,", bytes[i]);
        src += (i % 16 == 0) ? "\n    " : " ";
        src += hex;
    }
    src += "\n};\n}  // namespace\n";
    return src;
}

}  // namespace udm::rc
