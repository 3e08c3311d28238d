// Reference-counted shared handle: the argument vector, the parsing session
// and the errors share their representations through it.
#pragma once

namespace zelto {

// Owns one heap object together with a separately allocated counter. Even an
// empty handle owns a counter, so copying and destroying never need a branch
// on emptiness. Counters are plain ints: handles must stay on one thread.
template <class T> class Handle {
public:
    explicit Handle(T* object = nullptr) : ptr_(object)
    {
        try {
            cnt_ = new int(1);
        } catch (...) {
            delete object;
            throw;
        }
    }
    Handle(const Handle& other) noexcept : ptr_(other.ptr_), cnt_(other.cnt_) { ++*cnt_; }
    Handle& operator=(const Handle& other) noexcept
    {
        ++*other.cnt_;  // first, so that self-assignment is harmless
        drop();
        ptr_ = other.ptr_;
        cnt_ = other.cnt_;
        return *this;
    }
    ~Handle() { drop(); }

    // Lets go of the object early and leaves this handle empty. When we were the
    // last holder our counter block is reused; otherwise the others keep it and
    // we take a fresh one (allocated first so that a failure changes nothing).
    void release()
    {
        int* fresh = *cnt_ == 1 ? nullptr : new int(1);
        if (fresh == nullptr) {
            delete ptr_;
        } else {
            --*cnt_;
            cnt_ = fresh;
        }
        ptr_ = nullptr;
    }

    T* get() const noexcept { return ptr_; }
    T& operator*() const noexcept { return *ptr_; }
    T* operator->() const noexcept { return ptr_; }
    int use_count() const noexcept { return *cnt_; }

private:
    void drop() noexcept
    {
        if (--*cnt_ == 0) {
            delete ptr_;
            delete cnt_;
        }
    }

    T* ptr_;
    int* cnt_;
};

}  // namespace zelto
