#pragma once

#include "registry/wine_text.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace hivedump::registry::wine {

using NodeIndex = std::uint32_t;
inline constexpr NodeIndex no_node = 0xFFFFFFFFu;

/// A block of memory the size of a huge page, on such a boundary, taken from
/// the system directly: a hive of hundreds of megabytes then costs few page
/// faults and few address translation misses. Throws std::bad_alloc.
class HugeBlock {
public:
    static constexpr std::size_t size = std::size_t{ 2 } << 20;

    HugeBlock();
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

/// Bump allocation in large blocks: names and data live as long as the hive.
class Arena {
public:
    unsigned char* allocate(std::size_t size);

private:
    static constexpr std::size_t block_size = HugeBlock::size;
    std::vector<HugeBlock> blocks_;
    std::vector<std::unique_ptr<unsigned char[]>> large_;
    unsigned char* free_ = nullptr;
    std::size_t free_size_ = 0;
};

/// Fixed-size chunks, so growing never copies what is already stored.
template <typename Item> class ChunkedVector {
    static_assert(std::is_trivially_copyable_v<Item> && std::is_trivially_destructible_v<Item>);

public:
    Item& operator[](std::size_t index) { return item(index); }
    const Item& operator[](std::size_t index) const { return item(index); }
    std::size_t size() const { return size_; }
    std::size_t push_back(const Item& value)
    {
        if (size_ % per_chunk == 0)
            chunks_.emplace_back();
        std::construct_at(reinterpret_cast<Item*>(chunks_.back().data()) + size_ % per_chunk, value);
        return size_++;
    }

private:
    static constexpr std::size_t per_chunk = HugeBlock::size / sizeof(Item);
    Item& item(std::size_t index) const { return reinterpret_cast<Item*>(chunks_[index / per_chunk].data())[index % per_chunk]; }

    std::vector<HugeBlock> chunks_;
    std::size_t size_ = 0;
};

/// How a value's data is held: as the file gave the bytes, or as text whose
/// terminating zero unit is implied.
enum class DataForm : std::uint8_t { bytes, narrow_text, wide_text };

// Ten million values are no rarity: the node is kept to half a cache line.
struct ValueNode {
    const unsigned char* name = nullptr;
    const unsigned char* data = nullptr;
    std::uint32_t data_length = 0; ///< bytes, or units for text
    std::uint32_t type = 0;
    std::uint32_t next = no_node;
    std::uint16_t name_length = 0; ///< units; the server takes no longer names
    bool wide_name = false;
    DataForm form = DataForm::bytes;

    TextView name_text() const { return { name, name_length, wide_name }; }
    /// The size the server holds: for text, two bytes a unit and the zero.
    std::uint32_t stored_size() const { return form == DataForm::bytes ? data_length : (data_length + 1) * 2; }
};

static_assert(sizeof(ValueNode) <= 32);

struct KeyNode {
    const unsigned char* name = nullptr;
    std::uint32_t name_length = 0;
    NodeIndex parent = no_node;
    NodeIndex first_child = no_node;
    NodeIndex next_sibling = no_node;
    std::uint32_t first_value = no_node;
    bool wide_name = false;
    bool link = false;
    std::uint8_t mount = 0; ///< which file's contents the key waits for; 0 when none

    TextView name_text() const { return { name, name_length, wide_name }; }
};

/// The keys and values of the loaded registry files, as one tree below the
/// \Registry root.
class Hive {
public:
    Hive();

    NodeIndex root() const { return 0; }
    KeyNode& key(NodeIndex index) { return keys_[index]; }
    const KeyNode& key(NodeIndex index) const { return keys_[index]; }
    ValueNode& value(std::uint32_t index) { return values_[index]; }
    const ValueNode& value(std::uint32_t index) const { return values_[index]; }
    std::size_t key_count() const { return keys_.size(); }

    /// The subkey of `parent` with that name, case folded, or no_node.
    NodeIndex find_child(NodeIndex parent, const TextView& name) const;
    /// Finds or adds the subkey; the name is copied when added.
    NodeIndex add_child(NodeIndex parent, const char16_t* name, std::size_t length);
    /// Adds a value to the key; duplicates are settled when the values are listed.
    std::uint32_t add_value(NodeIndex key, const ValueNode& value);

    /// Copies text into the hive, one byte a unit when it can.
    TextView store(const char16_t* units, std::size_t length);
    /// The same when the caller knows whether some unit is above 0xFF.
    TextView store(const char16_t* units, std::size_t length, bool wide);
    /// Text whose every unit is the byte it was read from.
    TextView store_plain(const char* bytes, std::size_t length);
    unsigned char* allocate(std::size_t size) { return arena_.allocate(size); }

    /// The value with that name, case folded, the last one added winning; or no_node.
    std::uint32_t find_value(NodeIndex key, const TextView& name) const;

private:
    void grow_index();
    NodeIndex find_child(NodeIndex parent, const TextView& name, std::uint32_t hash) const;

    Arena arena_;
    ChunkedVector<KeyNode> keys_;
    ChunkedVector<ValueNode> values_;
    // Open addressing on (parent, folded name): hash in the high half, node + 1 in the low.
    std::vector<std::uint64_t> index_;
    std::size_t index_used_ = 0;
};

} // namespace hivedump::registry::wine
