#pragma once
// Storage for the large per-pixel arrays and frame buffers of a scan. On Linux the memory is
// asked for in huge pages where the system allows it: touching tens of megabytes page by page
// costs more than the work done on them.
#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace serflash::detect {

template <typename T>
struct big_allocator {
    using value_type = T;
    big_allocator() = default;
    template <typename U>
    big_allocator(const big_allocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        constexpr std::size_t huge = std::size_t{2} << 20;
        if (bytes < huge / 2) {
            void* p = std::malloc(bytes == 0 ? 1 : bytes);
            if (p == nullptr) throw std::bad_alloc();
            return static_cast<T*>(p);
        }
        const std::size_t rounded = (bytes + huge - 1) / huge * huge;
        void* p = std::aligned_alloc(huge, rounded);
        if (p == nullptr) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }

    // resize() leaves new elements as they come (assign() gives them a value): these arrays are
    // written before they are read, and zeroing tens of megabytes on one thread only to
    // overwrite them on all of them costs more than the work done on them.
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U>
    bool operator==(const big_allocator<U>&) const noexcept {
        return true;
    }
};

template <typename T>
using big_vector = std::vector<T, big_allocator<T>>;

} // namespace serflash::detect
