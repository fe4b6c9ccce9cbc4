// The host blocks one phase works on, locked together for its length: in the
// order given, released in reverse. Every handle is tested before any is
// locked; status() says how it went.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "udm_interface.h"

namespace vcswitch {

template <std::size_t N>
class BlockLocks {
public:
    explicit BlockLocks(const std::array<HGLOBAL, N>& handles) : handles_(handles) {
        for (HGLOBAL h : handles_) {
            if (h == nullptr) {
                status_ = UDM_ERR_NULL_HANDLE;
                return;
            }
        }
        for (std::size_t i = 0; i < N; ++i) {
            blocks_[i] = GlobalLock(handles_[i]);
            if (blocks_[i] == nullptr) {
#ifndef UDM_BREAK_ERROR_PATH_LOCK  // fault: the blocks locked so far stay locked
                unlockFirst(i);
#endif
                status_ = UDM_ERR_LOCK_FAILED;
                return;
            }
        }
        held_ = true;
    }
    ~BlockLocks() {
        if (held_) unlockFirst(N);
    }
    BlockLocks(const BlockLocks&) = delete;
    BlockLocks& operator=(const BlockLocks&) = delete;

    int32_t status() const { return status_; }
    void* block(std::size_t i) const { return blocks_[i]; }

private:
    void unlockFirst(std::size_t count) {
#ifdef UDM_BREAK_UNLOCK_ORDER  // fault: unlocks in the order it locked
        for (std::size_t i = 0; i < count; ++i) {
#else
        for (std::size_t i = count; i-- > 0;) {
#endif
            GlobalUnlock(handles_[i]);
            blocks_[i] = nullptr;
        }
    }

    std::array<HGLOBAL, N> handles_;
    std::array<void*, N> blocks_{};
    int32_t status_ = UDM_OK;
    bool held_ = false;
};

}  // namespace vcswitch
