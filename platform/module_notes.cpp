#include "module_notes.h"

#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <cstring>

#include "resource_note.h"

namespace udm {
namespace {

struct Search {
    uintptr_t handle = 0;
    bool wantProgram = false;
    uint32_t type = 0;
    std::span<const uint8_t> found;
};

uint32_t read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::size_t roundUp(std::size_t n, std::size_t align) { return (n + align - 1) / align * align; }

// Walks one PT_NOTE segment, staying inside it whatever its notes claim.
std::span<const uint8_t> scanSegment(const uint8_t* data, std::size_t size, std::size_t align, uint32_t type) {
    std::size_t pos = 0;
    while (size - pos >= 12) {
        const uint32_t nameSize = read32(data + pos);
        const uint32_t descSize = read32(data + pos + 4);
        const uint32_t noteType = read32(data + pos + 8);
        const std::size_t nameAt = pos + 12;
        if (nameSize > size - nameAt) break;
        const std::size_t descAt = roundUp(nameAt + nameSize, align);
        if (descAt > size || descSize > size - descAt) break;
        if (noteType == type && nameSize == resnote::kOwnerBytes &&
            std::memcmp(data + nameAt, resnote::kOwner, resnote::kOwnerBytes) == 0)
            return {data + descAt, descSize};
        pos = roundUp(descAt + descSize, align);
        if (pos > size) break;
    }
    return {};
}

// The lowest address the module maps, which dladdr reports as its base.
uintptr_t mapStart(const dl_phdr_info& info) {
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    for (ElfW(Half) i = 0; i < info.dlpi_phnum; ++i) {
        const auto& ph = info.dlpi_phdr[i];
        if (ph.p_type == PT_LOAD) return (info.dlpi_addr + ph.p_vaddr) & ~(page - 1);
    }
    return info.dlpi_addr;
}

int visit(dl_phdr_info* info, size_t, void* context) {
    auto& search = *static_cast<Search*>(context);
    const bool isModule = search.wantProgram || info->dlpi_addr == search.handle || mapStart(*info) == search.handle;
    if (!isModule) return 0;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const auto& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_NOTE) continue;
        const auto* data = reinterpret_cast<const uint8_t*>(info->dlpi_addr + ph.p_vaddr);
        const std::size_t align = ph.p_align == 8 ? 8 : 4;
        search.found = scanSegment(data, ph.p_memsz, align, search.type);
        if (!search.found.empty()) break;
    }
    return 1;  // the first object reported is the program; stop at the module
}

}  // namespace

std::span<const uint8_t> findResourceNote(const void* module, uint32_t type) {
    Search search;
    search.handle = reinterpret_cast<uintptr_t>(module);
    search.wantProgram = module == nullptr;
    search.type = type;
    dl_iterate_phdr(&visit, &search);
    return search.found;
}

}  // namespace udm
