#pragma once

#include "registry/wine_text.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace hivedump::registry::wine {

using NodeIndex = std::uint32_t;
inline constexpr NodeIndex no_node = 0xFFFFFFFFu;

/// Bump allocation in large blocks: names and data live as long as the hive.
class Arena {
public:
    unsigned char* allocate(std::size_t size);

private:
    static constexpr std::size_t block_size = std::size_t{ 1 } << 20;
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    unsigned char* free_ = nullptr;
    std::size_t free_size_ = 0;
};

/// Fixed-size chunks, so growing never copies what is already stored.
template <typename Item> class ChunkedVector {
public:
    Item& operator[](std::size_t index) { return chunks_[index >> shift][index & mask]; }
    const Item& operator[](std::size_t index) const { return chunks_[index >> shift][index & mask]; }
    std::size_t size() const { return size_; }
    std::size_t push_back(const Item& item)
    {
        if ((size_ & mask) == 0)
            chunks_.push_back(std::make_unique<Item[]>(mask + 1));
        chunks_.back()[size_ & mask] = item;
        return size_++;
    }

private:
    static constexpr std::size_t shift = 14;
    static constexpr std::size_t mask = (std::size_t{ 1 } << shift) - 1;
    std::vector<std::unique_ptr<Item[]>> chunks_;
    std::size_t size_ = 0;
};

/// How a value's data is held: as the file gave the bytes, or as text whose
/// terminating zero unit is implied.
enum class DataForm : std::uint8_t { bytes, narrow_text, wide_text };

struct ValueNode {
    const unsigned char* name = nullptr;
    const unsigned char* data = nullptr;
    std::uint32_t name_length = 0; ///< units
    std::uint32_t data_length = 0; ///< bytes, or units for text
    std::uint32_t type = 0;
    std::uint32_t next = no_node;
    bool wide_name = false;
    DataForm form = DataForm::bytes;

    TextView name_text() const { return { name, name_length, wide_name }; }
    /// The size the server holds: for text, two bytes a unit and the zero.
    std::uint32_t stored_size() const { return form == DataForm::bytes ? data_length : (data_length + 1) * 2; }
};

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
    unsigned char* allocate(std::size_t size) { return arena_.allocate(size); }

    /// The value with that name, case folded, the last one added winning; or no_node.
    std::uint32_t find_value(NodeIndex key, const TextView& name) const;

private:
    void grow_index();

    Arena arena_;
    ChunkedVector<KeyNode> keys_;
    ChunkedVector<ValueNode> values_;
    // Open addressing on (parent, folded name): hash in the high half, node + 1 in the low.
    std::vector<std::uint64_t> index_;
    std::size_t index_used_ = 0;
};

} // namespace hivedump::registry::wine
