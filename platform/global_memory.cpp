// Movable memory blocks addressed by 32-bit handles.
//
// A handle packs a slot index (low bits) and the slot's generation (high
// bits). Freeing a block bumps the generation, so every handle issued for the
// slot before is stale from then on; a slot whose generation is exhausted is
// retired instead of reused.
//
// Every UDMMain call locks and unlocks four blocks, so a lock is one table
// read, one compare and one counter: the slots lie in flat arrays indexed by
// the handle's low bits (zero pages until used: the kernel maps them on first
// touch), and a slot whose block can be locked holds its whole handle as its
// lock key (the count beside it is plain loads and stores). Any other slot holds a key that no handle with its index equals:
// 0 for a free slot or a zero-byte block (a handle is never 0 beyond slot 0),
// all ones for slot 0, which is never issued. Only allocation and release
// take the mutex.
#include "udm_platform.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <type_traits>

namespace {

constexpr unsigned kIndexBits = 20;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr uint32_t kSlotCount = 1u << kIndexBits;
constexpr uint32_t kMaxGeneration = (1u << (32 - kIndexBits)) - 1;
constexpr UINT kDiscarded = 0x4000u;
constexpr uintptr_t kNoKey = 0;
constexpr uintptr_t kSlotZeroKey = UINTPTR_MAX;  // its handle would index the last slot, not slot 0

// What lock and unlock read, one array each, so that one base address and
// the index reach all three.
struct HotSlots {
    std::atomic<uintptr_t> lockKey[kSlotCount]{};  // the handle, while its block can be locked
    std::atomic<uint32_t> locks[kSlotCount]{};
    void* data[kSlotCount]{};
};
static_assert(sizeof(HotSlots) < (uintptr_t{1} << 31), "every field is a 32-bit displacement from the base");

// The rest of a slot, read under the mutex or by the rarer queries.
struct ColdSlot {
    size_t size;              // of the live block; while free: the next free slot's index, 0 for none
    uint32_t handle;          // of the live block (zero-byte ones too); 0 while free
    uint32_t lastGeneration;  // generation last issued from this slot
};

struct Table {
    std::mutex mutex;        // guards allocation, release and the free list
    uint32_t freeHead = 0;   // most recently freed slot
    uint32_t nextUnused = 1; // index 0 is never issued, so no handle is 0
    bool closed = false;     // set when the library is unloaded
};

// Zero-initialised and trivially destructible: no guard to test on a
// lookup, and they outlive every static destructor. The slot arrays are all
// zero, so they take no room in the library's file and no memory until used.
// (Not constinit: clang's constant evaluation gives up on arrays this large.)
HotSlots g_hot;
ColdSlot g_cold[kSlotCount];
constinit Table g_table;
static_assert(std::is_trivially_destructible_v<HotSlots> && std::is_trivially_destructible_v<Table>);

uintptr_t loadKey(uint32_t index) { return g_hot.lockKey[index].load(std::memory_order_acquire); }
void storeKey(uint32_t index, uintptr_t key) { g_hot.lockKey[index].store(key, std::memory_order_release); }
uint32_t lockCount(uint32_t index) { return g_hot.locks[index].load(std::memory_order_relaxed); }
void setLockCount(uint32_t index, uint32_t count) { g_hot.locks[index].store(count, std::memory_order_relaxed); }

[[gnu::constructor]] void KeySlotZero() { storeKey(0, kSlotZeroKey); }

uintptr_t keyOf(HGLOBAL h) { return reinterpret_cast<uintptr_t>(h); }
uint32_t indexOf(uintptr_t key) { return static_cast<uint32_t>(key) & kIndexMask; }

// The live slot a handle names (zero-byte blocks too), or null.
ColdSlot* liveSlot(HGLOBAL h) {
    const uintptr_t key = keyOf(h);
    if (key == 0 || key > UINT32_MAX) return nullptr;
    ColdSlot& slot = g_cold[indexOf(key)];
    return slot.handle == key ? &slot : nullptr;
}

// A free slot index, or 0 when the table is full.
uint32_t takeSlot(Table& t) {
    if (t.freeHead != 0) {
        const uint32_t index = t.freeHead;
        t.freeHead = static_cast<uint32_t>(g_cold[index].size);
        return index;
    }
    if (t.nextUnused > kIndexMask) return 0;
    return t.nextUnused++;
}

// Blocks still allocated when this library is unloaded are the host's: their
// handles stop resolving, and no block is handed out afterwards, so no old
// handle can come back to life.
[[gnu::destructor]] void CloseTable() {
    std::lock_guard<std::mutex> guard(g_table.mutex);
    g_table.closed = true;
    for (uint32_t i = 1; i < g_table.nextUnused; ++i) {
        storeKey(i, kNoKey);
        g_cold[i].handle = 0;
    }
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
    Table& t = g_table;
    std::lock_guard<std::mutex> guard(t.mutex);
    const uint32_t index = t.closed ? 0 : takeSlot(t);
    if (index == 0) {
        std::free(data);
        return nullptr;
    }
    ColdSlot& slot = g_cold[index];
    const uint32_t generation = slot.lastGeneration + 1;
    const uint32_t handle = (generation << kIndexBits) | index;
    slot.lastGeneration = generation;
    slot.size = bytes;
    slot.handle = handle;
    g_hot.data[index] = data;
    setLockCount(index, 0);
    // A zero-byte block is discarded: it exists but cannot be locked.
    storeKey(index, data != nullptr ? handle : kNoKey);
    return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(handle));
}

// The lock count is read and written back rather than changed by an atomic
// read-modify-write: a plug-in call makes four lock pairs, and the bus-locked
// add was a third of a simulation's time. The count is exact for lock and
// unlock calls that do not overlap on one block; calls that do may lose a
// count (never the address: blocks do not move, and the key is atomic).
void* GlobalLock(HGLOBAL h) {
    const uintptr_t key = keyOf(h);
    const uint32_t index = indexOf(key);
    if (loadKey(index) != key) [[unlikely]]
        return nullptr;
    setLockCount(index, lockCount(index) + 1);
    return g_hot.data[index];
}

int GlobalUnlock(HGLOBAL h) {
    const uintptr_t key = keyOf(h);
    const uint32_t index = indexOf(key);
    if (loadKey(index) != key) [[unlikely]]
        return 0;
    const uint32_t before = lockCount(index);
    if (before == 0) [[unlikely]]  // was not locked: stays at zero
        return 0;
    setLockCount(index, before - 1);
    // The locks left: nonzero exactly while the block is still locked.
    return static_cast<int>(before - 1);
}

HGLOBAL GlobalFree(HGLOBAL h) {
    Table& t = g_table;
    std::lock_guard<std::mutex> guard(t.mutex);
    ColdSlot* slot = liveSlot(h);
    if (slot == nullptr) return h;
    const uint32_t index = indexOf(keyOf(h));
    storeKey(index, kNoKey);
    slot->handle = 0;
    std::free(g_hot.data[index]);
    g_hot.data[index] = nullptr;
    setLockCount(index, 0);
    slot->size = 0;
    if (slot->lastGeneration < kMaxGeneration) {  // otherwise retired for good
        slot->size = t.freeHead;
        t.freeHead = index;
    }
    return nullptr;
}

UINT GlobalFlags(HGLOBAL h) {
    const ColdSlot* slot = liveSlot(h);
    if (slot == nullptr) return GMEM_INVALID_HANDLE;
    const uint32_t index = indexOf(keyOf(h));
    const uint32_t locks = lockCount(index);
    UINT flags = locks > GMEM_LOCKCOUNT ? GMEM_LOCKCOUNT : locks;
    if (g_hot.data[index] == nullptr) flags |= kDiscarded;
    return flags;
}

size_t GlobalSize(HGLOBAL h) {
    const ColdSlot* slot = liveSlot(h);
    return slot == nullptr ? 0 : slot->size;
}

}  // extern "C"
