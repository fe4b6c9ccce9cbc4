// Two host blocks locked together for the length of a phase, as BlockLocks<2>
// does, written out for the frame of every call and for the evaluation: the
// handles and addresses stay in registers, with no loop and no flags.
#pragma once

#include <cstdint>

#include "component_record.h"
#include "udm_interface.h"

namespace vcswitch {

class BlockPair {
public:
    // Both handles are tested before either is locked; `first` is locked
    // first and released last.
    BlockPair(HGLOBAL first, HGLOBAL second) : first_(first), second_(second) {
        if (first == nullptr || second == nullptr) [[unlikely]] {
            status_ = UDM_ERR_NULL_HANDLE;
            return;
        }
        a_ = GlobalLock(first);
        if (a_ == nullptr) [[unlikely]] {
            status_ = UDM_ERR_LOCK_FAILED;
            return;
        }
        b_ = GlobalLock(second);
        if (b_ == nullptr) [[unlikely]] {
#ifndef UDM_BREAK_ERROR_PATH_LOCK  // fault: the block locked so far stays locked
            GlobalUnlock(first);
#endif
            a_ = nullptr;
            status_ = UDM_ERR_LOCK_FAILED;
        }
    }
    ~BlockPair() {
        if (b_ == nullptr) return;
#ifdef UDM_BREAK_UNLOCK_ORDER  // fault: unlocks in the order it locked
        GlobalUnlock(first_);
        GlobalUnlock(second_);
#else
        GlobalUnlock(second_);
        GlobalUnlock(first_);
#endif
    }
    BlockPair(const BlockPair&) = delete;
    BlockPair& operator=(const BlockPair&) = delete;

    int32_t status() const { return status_; }
    void* first() const { return a_; }
    void* second() const { return b_; }

private:
    HGLOBAL first_, second_;
    void* a_ = nullptr;
    void* b_ = nullptr;
    int32_t status_ = UDM_OK;
};

// The vector and matrix blocks of a component record, as BlockPair locks
// them. The handles are not kept: the record stays locked for the call and
// the plug-in never writes them, so they are read from it again to be
// released, and the call keeps two registers fewer across the locks.
class InnerBlocks {
public:
    explicit InnerBlocks(udm::ComponentRecordView comp) : comp_(comp) {
        const HGLOBAL vector = comp.vectorBlock();
        const HGLOBAL matrix = comp.matrixBlock();
        if (vector == nullptr || matrix == nullptr) [[unlikely]] {
            status_ = UDM_ERR_NULL_HANDLE;
            return;
        }
        a_ = GlobalLock(vector);
        if (a_ == nullptr) [[unlikely]] {
            status_ = UDM_ERR_LOCK_FAILED;
            return;
        }
        b_ = GlobalLock(comp.matrixBlock());
        if (b_ == nullptr) [[unlikely]] {
#ifndef UDM_BREAK_ERROR_PATH_LOCK  // fault: the block locked so far stays locked
            GlobalUnlock(comp.vectorBlock());
#endif
            a_ = nullptr;
            status_ = UDM_ERR_LOCK_FAILED;
        }
    }
    ~InnerBlocks() {
        if (b_ == nullptr) return;
#ifdef UDM_BREAK_UNLOCK_ORDER  // fault: unlocks in the order it locked
        GlobalUnlock(comp_.vectorBlock());
        GlobalUnlock(comp_.matrixBlock());
#else
        GlobalUnlock(comp_.matrixBlock());
        GlobalUnlock(comp_.vectorBlock());
#endif
    }
    InnerBlocks(const InnerBlocks&) = delete;
    InnerBlocks& operator=(const InnerBlocks&) = delete;

    int32_t status() const { return status_; }
    void* first() const { return a_; }
    void* second() const { return b_; }

private:
    udm::ComponentRecordView comp_;
    void* a_ = nullptr;
    void* b_ = nullptr;
    int32_t status_ = UDM_OK;
};

}  // namespace vcswitch
