// Two host blocks locked together for the length of a phase, as BlockLocks<2>
// does, written out for the frame of every call and for the evaluation: the
// handles and addresses stay in registers, with no loop and no flags.
#pragma once

#include <cstdint>

#include "component_record.h"
#include "udm_interface.h"

namespace vcswitch {

// Both handles are tested before either is locked; the first is locked
// first and released last. `Handles` says where the two handles come from
// each time they are needed.
template <class Handles>
class LockedPair {
public:
    explicit LockedPair(Handles handles) : handles_(handles) {
        const HGLOBAL first = handles.first(), second = handles.second();
        if (first == nullptr || second == nullptr) [[unlikely]] {
            status_ = UDM_ERR_NULL_HANDLE;
            return;
        }
        a_ = GlobalLock(first);
        if (a_ == nullptr) [[unlikely]] {
            status_ = UDM_ERR_LOCK_FAILED;
            return;
        }
        b_ = GlobalLock(handles.second());
        if (b_ == nullptr) [[unlikely]] {
#ifndef UDM_BREAK_ERROR_PATH_LOCK  // fault: the block locked so far stays locked
            GlobalUnlock(handles.first());
#endif
            a_ = nullptr;
            status_ = UDM_ERR_LOCK_FAILED;
        }
    }
    ~LockedPair() {
        if (b_ == nullptr) return;
#ifdef UDM_BREAK_UNLOCK_ORDER  // fault: unlocks in the order it locked
        GlobalUnlock(handles_.first());
        GlobalUnlock(handles_.second());
#else
        GlobalUnlock(handles_.second());
        GlobalUnlock(handles_.first());
#endif
    }
    LockedPair(const LockedPair&) = delete;
    LockedPair& operator=(const LockedPair&) = delete;

    int32_t status() const { return status_; }
    void* first() const { return a_; }
    void* second() const { return b_; }

private:
    Handles handles_;
    void* a_ = nullptr;
    void* b_ = nullptr;
    int32_t status_ = UDM_OK;
};

// Handles as the call received them.
struct HeldHandles {
    HGLOBAL a, b;
    HGLOBAL first() const { return a; }
    HGLOBAL second() const { return b; }
};

// The vector and matrix blocks of a component record. The handles are not
// kept: the record stays locked for the call and the plug-in never writes
// them, so they are read from it again to be released, and the call keeps
// two registers fewer across the locks.
struct RecordHandles {
    udm::ComponentRecordView comp;
    HGLOBAL first() const { return comp.vectorBlock(); }
    HGLOBAL second() const { return comp.matrixBlock(); }
};

class BlockPair : public LockedPair<HeldHandles> {
public:
    BlockPair(HGLOBAL first, HGLOBAL second) : LockedPair(HeldHandles{first, second}) {}
};

class InnerBlocks : public LockedPair<RecordHandles> {
public:
    explicit InnerBlocks(udm::ComponentRecordView comp) : LockedPair(RecordHandles{comp}) {}
};

}  // namespace vcswitch
