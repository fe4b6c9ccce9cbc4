// The vector and matrix blocks of one instance, locked together for the
// length of one phase: vector first, matrix second, released in reverse.
#pragma once

#include "host_records.h"
#include "udm_interface.h"

namespace vcswitch {

class VectorMatrixLock {
public:
    // Tests both handles before locking either; status() says how it went.
    explicit VectorMatrixLock(udm::ComponentRecordView comp)
        : vectorHandle_(comp.vectorBlock()), matrixHandle_(comp.matrixBlock()) {
        if (vectorHandle_ == nullptr || matrixHandle_ == nullptr) {
            status_ = UDM_ERR_NULL_HANDLE;
            return;
        }
        vector_ = GlobalLock(vectorHandle_);
        if (vector_ == nullptr) {
            status_ = UDM_ERR_LOCK_FAILED;
            return;
        }
        matrix_ = GlobalLock(matrixHandle_);
        if (matrix_ == nullptr) {
            GlobalUnlock(vectorHandle_);
            vector_ = nullptr;
            status_ = UDM_ERR_LOCK_FAILED;
        }
    }
    ~VectorMatrixLock() {
        if (matrix_ == nullptr) return;  // both or neither are held
        GlobalUnlock(matrixHandle_);
        GlobalUnlock(vectorHandle_);
    }
    VectorMatrixLock(const VectorMatrixLock&) = delete;
    VectorMatrixLock& operator=(const VectorMatrixLock&) = delete;

    int32_t status() const { return status_; }
    void* vector() const { return vector_; }
    void* matrix() const { return matrix_; }

private:
    HGLOBAL vectorHandle_;
    HGLOBAL matrixHandle_;
    void* vector_ = nullptr;
    void* matrix_ = nullptr;
    int32_t status_ = UDM_OK;
};

}  // namespace vcswitch
