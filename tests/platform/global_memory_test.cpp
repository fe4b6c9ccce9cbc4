#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "udm_platform.h"

namespace {

uintptr_t value(HGLOBAL h) { return reinterpret_cast<uintptr_t>(h); }

TEST(GlobalMemory, LockCountsNestAndUnlockReportsRemainingLocks) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
    void* first = GlobalLock(h);
    void* second = GlobalLock(h);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 2u);
    EXPECT_NE(GlobalUnlock(h), 0);  // one lock left
    EXPECT_EQ(GlobalUnlock(h), 0);  // now unlocked
    EXPECT_EQ(GlobalUnlock(h), 0);  // unlocking an unlocked block stays at zero
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, ZeroInitFillsAndSizeIsKept) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 4096);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 4096u);
    auto* bytes = static_cast<unsigned char*>(GlobalLock(h));
    ASSERT_NE(bytes, nullptr);
    for (size_t i = 0; i < 4096; ++i) ASSERT_EQ(bytes[i], 0) << "at " << i;
    GlobalUnlock(h);
    GlobalFree(h);
}

TEST(GlobalMemory, HandlesAreNonzeroAndBelow2To32) {
    std::vector<HGLOBAL> handles;
    for (int i = 0; i < 3000; ++i) {
        HGLOBAL h = GlobalAlloc(GHND, 8);
        ASSERT_NE(h, nullptr);
        EXPECT_GT(value(h), 0u);
        EXPECT_LE(value(h), UINT32_MAX);
        handles.push_back(h);
    }
    for (HGLOBAL h : handles) EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, HandleSurvivesTheRoundTripThroughA32BitField) {
    HGLOBAL h = GlobalAlloc(GHND, 8);
    const auto field = static_cast<uint32_t>(value(h));
    HGLOBAL back = reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(field));
    void* p = GlobalLock(back);
    EXPECT_NE(p, nullptr);
    GlobalUnlock(back);
    GlobalFree(back);
}

TEST(GlobalMemory, StaleHandleNeverReachesTheSlotsNextBlock) {
    HGLOBAL old = GlobalAlloc(GHND, 32);
    ASSERT_EQ(GlobalFree(old), nullptr);
    HGLOBAL fresh = GlobalAlloc(GHND, 32);  // reuses the slot just freed
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, old);
    EXPECT_EQ(GlobalLock(old), nullptr);
    EXPECT_EQ(GlobalFlags(old), GMEM_INVALID_HANDLE);
    EXPECT_EQ(GlobalSize(old), 0u);
    EXPECT_EQ(GlobalUnlock(old), 0);
    EXPECT_EQ(GlobalFree(old), old);  // a second free fails and says so
    EXPECT_EQ(GlobalFlags(fresh) & GMEM_LOCKCOUNT, 0u);
    EXPECT_EQ(GlobalFree(fresh), nullptr);
}

TEST(GlobalMemory, NullAndForgedHandlesAreRefused) {
    const uintptr_t forged[] = {0, 1, 0xFFFFFFFFu, 0x12345678u, uintptr_t{1} << 40,
                                reinterpret_cast<uintptr_t>(&forged)};
    for (uintptr_t raw : forged) {
        HGLOBAL h = reinterpret_cast<HGLOBAL>(raw);
        EXPECT_EQ(GlobalLock(h), nullptr) << raw;
        EXPECT_EQ(GlobalUnlock(h), 0) << raw;
        EXPECT_EQ(GlobalFlags(h), GMEM_INVALID_HANDLE) << raw;
        EXPECT_EQ(GlobalSize(h), 0u) << raw;
        EXPECT_EQ(GlobalFree(h), h) << raw;
    }
}

// A handle is the slot's generation above a 20-bit slot index. Slot 0 is
// never issued, so no generation makes a handle for it, even while blocks
// with that same generation are live.
TEST(GlobalMemory, HandlesForSlotZeroAreRefusedWhateverTheGeneration) {
    HGLOBAL live = GlobalAlloc(GHND, 16);
    ASSERT_NE(live, nullptr);
    const uintptr_t liveGeneration = value(live) >> 20;
    for (uintptr_t generation : {uintptr_t{1}, uintptr_t{2}, liveGeneration, uintptr_t{4095}}) {
        HGLOBAL h = reinterpret_cast<HGLOBAL>(generation << 20);
        EXPECT_EQ(GlobalLock(h), nullptr) << generation;
        EXPECT_EQ(GlobalFlags(h), GMEM_INVALID_HANDLE) << generation;
    }
    EXPECT_NE(GlobalLock(live), nullptr);
    EXPECT_EQ(GlobalUnlock(live), 0);
    EXPECT_EQ(GlobalFree(live), nullptr);

    // Generation 0 is what a free slot holds: a handle carrying it must not
    // match the freed slot, or a second free would list the slot twice.
    HGLOBAL freedSlot = reinterpret_cast<HGLOBAL>(value(live) & 0xFFFFFu);
    EXPECT_EQ(GlobalFlags(freedSlot), GMEM_INVALID_HANDLE);
    EXPECT_EQ(GlobalFree(freedSlot), freedSlot);
}

TEST(GlobalMemory, ZeroByteBlockIsDiscardedAndCannotBeLocked) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_NE(GlobalFlags(h), GMEM_INVALID_HANDLE);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, ImpossibleSizeFailsCleanly) {
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, SIZE_MAX), nullptr);
}

TEST(GlobalMemory, ManyBlocksKeepTheirOwnContents) {
    constexpr int kCount = 20000;
    std::vector<HGLOBAL> handles(kCount);
    for (int i = 0; i < kCount; ++i) {
        handles[i] = GlobalAlloc(GMEM_MOVEABLE, sizeof(int));
        ASSERT_NE(handles[i], nullptr);
        std::memcpy(GlobalLock(handles[i]), &i, sizeof i);
        GlobalUnlock(handles[i]);
    }
    for (int i = 0; i < kCount; i += 2) GlobalFree(handles[i]);  // punch holes, then refill them
    for (int i = 0; i < kCount; i += 2) {
        handles[i] = GlobalAlloc(GMEM_MOVEABLE, sizeof(int));
        std::memcpy(GlobalLock(handles[i]), &i, sizeof i);
        GlobalUnlock(handles[i]);
    }
    for (int i = 0; i < kCount; ++i) {
        int stored = -1;
        std::memcpy(&stored, GlobalLock(handles[i]), sizeof stored);
        GlobalUnlock(handles[i]);
        ASSERT_EQ(stored, i);
    }
    for (HGLOBAL h : handles) ASSERT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, ASlotReusedThousandsOfTimesNeverRevivesAnOldHandle) {
    HGLOBAL first = GlobalAlloc(GHND, 8);
    GlobalFree(first);
    for (int i = 0; i < 5000; ++i) {
        HGLOBAL h = GlobalAlloc(GHND, 8);
        ASSERT_NE(h, nullptr);
        ASSERT_NE(h, first);
        GlobalFree(h);
    }
    EXPECT_EQ(GlobalLock(first), nullptr);
}

}  // namespace
