#include "wine/arena.h"

#include <cstdint>
#include <new>
#include <sys/mman.h>

namespace hivedump::wine {

HugeBlock::HugeBlock(bool huge)
{
    // Map one block more than needed and keep the aligned part of it.
    const std::size_t mapped = size * 2;
    void* address = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED)
        throw std::bad_alloc();
    auto start = reinterpret_cast<std::uintptr_t>(address);
    auto aligned = (start + size - 1) & ~(std::uintptr_t{ size } - 1);
    if (aligned != start)
        ::munmap(address, aligned - start);
    if (auto tail = start + mapped - (aligned + size); tail != 0)
        ::munmap(reinterpret_cast<void*>(aligned + size), tail);
    data_ = reinterpret_cast<unsigned char*>(aligned);
    // Only a hint: the block works the same either way.
    ::madvise(data_, size, huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
}

HugeBlock::~HugeBlock()
{
    if (data_ != nullptr)
        ::munmap(data_, size);
}

unsigned char* Arena::allocate(std::size_t size)
{
    if (size == 0)
        size = 1;
    if (size > block_size / 4) {
        // Large items get a block of their own, so the current one stays in use.
        large_.push_back(std::make_unique_for_overwrite<unsigned char[]>(size));
        return large_.back().get();
    }
    if (size > free_size_) {
        if (!small_ && size <= small_block_size) {
            small_ = std::make_unique_for_overwrite<unsigned char[]>(small_block_size);
            free_ = small_.get();
            free_size_ = small_block_size;
        } else {
            blocks_.emplace_back(!blocks_.empty());
            free_ = blocks_.back().data();
            free_size_ = block_size;
        }
    }
    auto* result = free_;
    free_ += size;
    free_size_ -= size;
    return result;
}

void Arena::reset()
{
    blocks_.clear();
    large_.clear();
    free_ = small_.get();
    free_size_ = small_ ? small_block_size : 0;
}

} // namespace hivedump::wine
