#pragma once

#include <cstdint>

#include "support/no_copy.h"

// Owning pointer with a separate, polymorphic control block. Each owner holds
// exactly one; sharing is provided for by `count` but no owner copies it.
template <class T> class smart_ptr : no_copy {
public:
    explicit smart_ptr(T* object) : data(object ? new cData(object) : nullptr) {}
    virtual ~smart_ptr() { Release(); }

    T* Get() const { return data ? static_cast<cData*>(data)->pointer : nullptr; }
    T* operator->() const { return Get(); }

    // Counting hooks; nothing in the program shares a pointer, tests do.
    void AddOwner() {
        if (data)
            ++data->count;
    }
    std::int32_t OwnersBeyondFirst() const { return data ? data->count : 0; }

private:
    class cCount {
    public:
        virtual ~cCount() = default;
        virtual void Destroy() = 0;
        std::int32_t count = 0;
    };

    class cData : public cCount {
    public:
        explicit cData(T* object) : pointer(object) {}
        void Destroy() override { delete pointer; }
        T* pointer;
    };

    void Release() {
        if (!data)
            return;
        if (data->count != 0) {
            --data->count;
            return;
        }
        data->Destroy();
        delete data;
        data = nullptr;
    }

    cCount* data;

    template <class U> friend class smart_ptr_test_access;
};
