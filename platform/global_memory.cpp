// Movable memory blocks addressed by 32-bit handles.
//
// A handle packs a slot index (low bits) and the slot's generation (high
// bits). Freeing a block bumps the generation, so every handle issued for the
// slot before is stale from then on; a slot whose generation is exhausted is
// retired instead of reused. Slots live in fixed pages that never move, so a
// lookup is two array reads and a compare, without a mutex; only allocation
// and release take one.
#include "udm_platform.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <type_traits>

namespace {

constexpr unsigned kIndexBits = 20;
constexpr unsigned kPageBits = 10;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr uint32_t kPageSize = 1u << kPageBits;
constexpr uint32_t kPageCount = 1u << (kIndexBits - kPageBits);
constexpr uint32_t kMaxGeneration = (1u << (32 - kIndexBits)) - 1;
constexpr UINT kDiscarded = 0x4000u;

struct Slot {
    std::atomic<uint32_t> generation{0};  // of the live block; 0 while free
    std::atomic<uint32_t> locks{0};
    void* data = nullptr;
    size_t size = 0;
    uint32_t lastGeneration = 0;  // generation last issued from this slot
    uint32_t nextFree = 0;        // free list link (slot index), 0 for none
};

struct Table {
    std::array<std::atomic<Slot*>, kPageCount> pages{};
    std::mutex mutex;        // guards allocation, release and the free list
    uint32_t freeHead = 0;   // most recently freed slot
    uint32_t nextUnused = 1; // index 0 is never issued, so no handle is 0
    bool closed = false;     // set when the library is unloaded
};

// Constant-initialised and trivially destructible: there is no guard to test
// on every lookup, and the table outlives every static destructor.
constinit Table g_table;
static_assert(std::is_trivially_destructible_v<Table>);

Table& table() { return g_table; }

// The slot a handle names, or null when the handle is not a live block. Every
// lock and unlock runs this, so it is kept inline and branch-light.
[[gnu::always_inline]] inline Slot* liveSlot(HGLOBAL h) {
    const uintptr_t raw = reinterpret_cast<uintptr_t>(h);
    if (raw > UINT32_MAX) return nullptr;
    const auto value = static_cast<uint32_t>(raw);
    const uint32_t generation = value >> kIndexBits;
    // Generation 0 covers the null handle too. Index 0 needs no test of its
    // own: its slot is never issued, so its generation stays 0 and no
    // handle with a non-zero generation matches it.
    if (generation == 0) return nullptr;
    const uint32_t index = value & kIndexMask;
    Slot* page = g_table.pages[index >> kPageBits].load(std::memory_order_acquire);
    if (page == nullptr) return nullptr;
    Slot& slot = page[index & (kPageSize - 1)];
    if (slot.generation.load(std::memory_order_acquire) != generation) return nullptr;
    return &slot;
}

Slot& slotAt(Table& t, uint32_t index) {
    return t.pages[index >> kPageBits].load(std::memory_order_relaxed)[index & (kPageSize - 1)];
}

// A free slot index with its page present, or 0 when the table is full.
uint32_t takeSlot(Table& t) {
    if (t.freeHead != 0) {
        const uint32_t index = t.freeHead;
        t.freeHead = slotAt(t, index).nextFree;
        return index;
    }
    if (t.nextUnused > kIndexMask) return 0;
    const uint32_t index = t.nextUnused;
    auto& page = t.pages[index >> kPageBits];
    if (page.load(std::memory_order_relaxed) == nullptr) {
        Slot* fresh = new (std::nothrow) Slot[kPageSize];
        if (fresh == nullptr) return 0;
        page.store(fresh, std::memory_order_release);
    }
    ++t.nextUnused;
    return index;
}

// The slot pages belong to this library: they go when it is unloaded, so a
// host that loads and unloads plug-ins does not lose them each time. Blocks
// still allocated then are the host's; their handles stop resolving, and no
// block is handed out afterwards, so no old handle can come back to life.
[[gnu::destructor]] void ReleaseSlotPages() {
    std::lock_guard<std::mutex> guard(g_table.mutex);
    g_table.closed = true;
    for (auto& page : g_table.pages) delete[] page.exchange(nullptr, std::memory_order_acq_rel);
}

HGLOBAL handleOf(uint32_t index, uint32_t generation) {
    return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>((generation << kIndexBits) | index));
}

}  // namespace

extern "C" {

HGLOBAL GlobalAlloc(UINT flags, size_t bytes) {
    void* data = nullptr;
    if (bytes > static_cast<size_t>(PTRDIFF_MAX)) return nullptr;  // no object can be that large
    if (bytes != 0) {
        data = (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes) : std::malloc(bytes);
        if (data == nullptr) return nullptr;
    }
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    const uint32_t index = t.closed ? 0 : takeSlot(t);
    if (index == 0) {
        std::free(data);
        return nullptr;
    }
    Slot& slot = slotAt(t, index);
    const uint32_t generation = slot.lastGeneration + 1;
    slot.lastGeneration = generation;
    slot.data = data;
    slot.size = bytes;
    slot.locks.store(0, std::memory_order_relaxed);
    slot.generation.store(generation, std::memory_order_release);
    return handleOf(index, generation);
}

void* GlobalLock(HGLOBAL h) {
    Slot* slot = liveSlot(h);
    if (slot == nullptr || slot->data == nullptr) return nullptr;
    slot->locks.fetch_add(1, std::memory_order_relaxed);
    return slot->data;
}

int GlobalUnlock(HGLOBAL h) {
    Slot* slot = liveSlot(h);
    if (slot == nullptr) return 0;
    uint32_t locks = slot->locks.load(std::memory_order_relaxed);
    while (locks != 0 &&
           !slot->locks.compare_exchange_weak(locks, locks - 1, std::memory_order_relaxed)) {
    }
    return locks > 1 ? 1 : 0;
}

HGLOBAL GlobalFree(HGLOBAL h) {
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    Slot* slot = liveSlot(h);
    if (slot == nullptr) return h;
    const uint32_t index = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h)) & kIndexMask;
    slot->generation.store(0, std::memory_order_release);
    std::free(slot->data);
    slot->data = nullptr;
    slot->size = 0;
    slot->locks.store(0, std::memory_order_relaxed);
    if (slot->lastGeneration < kMaxGeneration) {  // otherwise retired for good
        slot->nextFree = t.freeHead;
        t.freeHead = index;
    }
    return nullptr;
}

UINT GlobalFlags(HGLOBAL h) {
    Slot* slot = liveSlot(h);
    if (slot == nullptr) return GMEM_INVALID_HANDLE;
    const uint32_t locks = slot->locks.load(std::memory_order_relaxed);
    UINT flags = locks > GMEM_LOCKCOUNT ? GMEM_LOCKCOUNT : locks;
    if (slot->data == nullptr) flags |= kDiscarded;
    return flags;
}

size_t GlobalSize(HGLOBAL h) {
    Slot* slot = liveSlot(h);
    return slot == nullptr ? 0 : slot->size;
}

}  // extern "C"
