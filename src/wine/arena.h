#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace hivedump::wine {

/// A block of memory the size of a huge page, on such a boundary, taken from
/// the system directly: a hive of hundreds of megabytes then costs few page
/// faults and few address translation misses. Throws std::bad_alloc.
///
/// A container starts in a small block of the ordinary heap and takes these
/// blocks only once it outgrows it: mapping, clearing and unmapping blocks of
/// 2 MiB would cost a small hive more than all its work.
class HugeBlock {
public:
    static constexpr std::size_t size = std::size_t{ 2 } << 20;

    explicit HugeBlock(bool huge);
    ~HugeBlock();
    HugeBlock(HugeBlock&& other) noexcept
        : data_(std::exchange(other.data_, nullptr))
    {
    }
    HugeBlock& operator=(HugeBlock&&) = delete;
    HugeBlock(const HugeBlock&) = delete;
    HugeBlock& operator=(const HugeBlock&) = delete;

    unsigned char* data() const { return data_; }

private:
    unsigned char* data_ = nullptr;
};

/// The size of a container's first block, from the heap.
inline constexpr std::size_t small_block_size = std::size_t{ 64 } << 10;

/// Bump allocation: the hive's names and data, which live as long as it,
/// and a key's values, which live until the key is done with.
class Arena {
public:
    unsigned char* allocate(std::size_t size);
    /// Forgets everything allocated; the first block stays for what comes next.
    void reset();

private:
    static constexpr std::size_t block_size = HugeBlock::size;
    std::unique_ptr<unsigned char[]> small_;
    std::vector<HugeBlock> blocks_;
    std::vector<std::unique_ptr<unsigned char[]>> large_;
    unsigned char* free_ = nullptr;
    std::size_t free_size_ = 0;
};

/// Fixed-size chunks, so growing never copies what is already stored; the
/// first items go in a small block of their own.
template <typename Item> class ChunkedVector {
    static_assert(std::is_trivially_copyable_v<Item> && std::is_trivially_destructible_v<Item>);

public:
    Item& operator[](std::size_t index) { return item(index); }
    const Item& operator[](std::size_t index) const { return item(index); }
    std::size_t size() const { return size_; }
    std::size_t push_back(const Item& value)
    {
        Item* slot;
        if (size_ < first_count) {
            if (!first_)
                first_ = std::make_unique_for_overwrite<unsigned char[]>(first_count * sizeof(Item));
            slot = reinterpret_cast<Item*>(first_.get()) + size_;
        } else {
            const std::size_t later = size_ - first_count;
            if (later % per_chunk == 0)
                chunks_.emplace_back(!chunks_.empty());
            slot = reinterpret_cast<Item*>(chunks_.back().data()) + later % per_chunk;
        }
        std::construct_at(slot, value);
        return size_++;
    }

private:
    static constexpr std::size_t first_count = small_block_size / sizeof(Item);
    static constexpr std::size_t per_chunk = HugeBlock::size / sizeof(Item);
    Item& item(std::size_t index) const
    {
        if (index < first_count)
            return reinterpret_cast<Item*>(first_.get())[index];
        index -= first_count;
        return reinterpret_cast<Item*>(chunks_[index / per_chunk].data())[index % per_chunk];
    }

    std::unique_ptr<unsigned char[]> first_;
    std::vector<HugeBlock> chunks_;
    std::size_t size_ = 0;
};

} // namespace hivedump::wine
