#pragma once

#include "wine/arena.h"
#include "wine/text.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace hivedump::wine {

using NodeIndex = std::uint32_t;
inline constexpr NodeIndex no_node = 0xFFFFFFFFu;

struct KeyNode {
    const unsigned char* name = nullptr;
    std::uint32_t name_length = 0;
    NodeIndex parent = no_node;
    NodeIndex first_child = no_node;
    NodeIndex next_sibling = no_node;
    std::uint32_t first_span = no_node; ///< where the key's values lie in its files, in file order
    bool wide_name : 1 = false;
    bool link : 1 = false;
    bool link_below : 1 = false; ///< some key below this one is a link
    bool complete : 1 = false; ///< every subkey its file holds is in the tree
    bool wow64_known : 1 = false; ///< its Wow6432Node subkey, if its file holds one, is in the tree
    bool has_wow64_child : 1 = false; ///< a subkey named Wow6432Node, any case, is in the tree
    std::uint8_t mount : 2 = 0; ///< which file's contents the key waits for; 0 when none
    std::uint8_t owner : 2 = 0; ///< the file whose tree the key is in; 0 when none

    TextView name_text() const { return { name, name_length, wide_name }; }
};

// A million keys are no rarity: the node is kept to half a cache line.
static_assert(sizeof(KeyNode) <= 32);

/// Where a key was made a link: the file and the offset of the section.
struct LinkMark {
    std::uint8_t file = 0;
    std::uint64_t offset = 0;
};

/// Lines of one file that hold values of a key: a section's body.
struct Span {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint32_t next = no_node;
    std::uint8_t file = 0;
    std::uint8_t order = 0; ///< the file's place in the order files were loaded
};

/// The keys of the registry files, as one tree below the \Registry root,
/// with where each key's values lie.
class Hive {
public:
    Hive();

    NodeIndex root() const { return 0; }
    KeyNode& key(NodeIndex index) { return keys_[index]; }
    const KeyNode& key(NodeIndex index) const { return keys_[index]; }
    const Span& span(std::uint32_t index) const { return spans_[index]; }

    /// The subkey of `parent` with that name, case folded, or no_node.
    NodeIndex find_child(NodeIndex parent, const TextView& name) const;
    /// Finds or adds the subkey; the name is copied when added.
    NodeIndex add_child(NodeIndex parent, const char16_t* name, std::size_t length);
    /// Records lines that hold values of the key, kept in load order.
    void add_span(NodeIndex key, const Span& span);
    /// Marks the key as a link and its ancestors as having one below.
    void mark_link(NodeIndex key, std::uint8_t file, std::uint64_t offset);
    std::size_t link_count() const { return links_.size(); }
    LinkMark link_mark(NodeIndex key) const;

private:
    /// Copies a key name into the hive, one byte a unit when it can.
    TextView store(const char16_t* units, std::size_t length);
    void grow_index();
    NodeIndex find_child(NodeIndex parent, const TextView& name, std::uint32_t hash) const;

    Arena arena_;
    ChunkedVector<KeyNode> keys_;
    ChunkedVector<Span> spans_;
    std::unordered_map<NodeIndex, LinkMark> links_;
    // Open addressing on (parent, folded name): hash in the high half, node + 1 in the low.
    std::vector<std::uint64_t> index_;
    std::size_t index_used_ = 0;
};

} // namespace hivedump::wine
