#include "wine/hive.h"

#include <bit>

namespace hivedump::wine {

namespace {

std::uint32_t slot_hash(NodeIndex parent, std::uint32_t name_hash)
{
    std::uint64_t mixed = (static_cast<std::uint64_t>(parent) << 32 | name_hash) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::uint32_t>(mixed >> 32);
}

} // namespace

Hive::Hive()
{
    KeyNode root;
    keys_.push_back(root);
    index_.assign(1024, 0);
}

NodeIndex Hive::find_child(NodeIndex parent, const TextView& name) const
{
    return find_child(parent, name, slot_hash(parent, name_hash(name)));
}

NodeIndex Hive::find_child(NodeIndex parent, const TextView& name, std::uint32_t hash) const
{
    auto mask = index_.size() - 1;
    for (auto slot = hash & mask;; slot = (slot + 1) & mask) {
        auto entry = index_[slot];
        if (entry == 0)
            return no_node;
        if (static_cast<std::uint32_t>(entry >> 32) != hash)
            continue;
        auto node = static_cast<NodeIndex>((entry & 0xFFFFFFFFu) - 1);
        const auto& candidate = keys_[node];
        if (candidate.parent == parent && names_equal(candidate.name_text(), name))
            return node;
    }
}

void Hive::grow_index()
{
    std::vector<std::uint64_t> bigger(index_.size() * 2, 0);
    auto mask = bigger.size() - 1;
    for (auto entry : index_) {
        if (entry == 0)
            continue;
        auto slot = static_cast<std::uint32_t>(entry >> 32) & mask;
        while (bigger[slot] != 0)
            slot = (slot + 1) & mask;
        bigger[slot] = entry;
    }
    index_.swap(bigger);
}

NodeIndex Hive::add_child(NodeIndex parent, const char16_t* units, std::size_t length)
{
    const TextView name{ reinterpret_cast<const unsigned char*>(units), static_cast<std::uint32_t>(length), true };
    static_assert(std::endian::native == std::endian::little, "code units are read as little-endian bytes");
    auto hash = slot_hash(parent, name_hash(name));
    auto existing = find_child(parent, name, hash);
    if (existing != no_node)
        return existing;
    if ((index_used_ + 1) * 2 > index_.size())
        grow_index();

    KeyNode node;
    auto stored = store(units, length);
    node.name = stored.bytes;
    node.name_length = stored.length;
    node.wide_name = stored.wide;
    node.parent = parent;
    node.owner = keys_[parent].owner;
    node.next_sibling = keys_[parent].first_child;
    auto index = static_cast<NodeIndex>(keys_.push_back(node));
    keys_[parent].first_child = index;
    // The 32-bit view asks this of every key it opens: most have no such subkey.
    if (length == wow64_node_name.size() && names_equal(name, view_of(wow64_node_name)))
        keys_[parent].has_wow64_child = true;

    auto mask = index_.size() - 1;
    auto slot = hash & mask;
    while (index_[slot] != 0)
        slot = (slot + 1) & mask;
    index_[slot] = static_cast<std::uint64_t>(hash) << 32 | (static_cast<std::uint64_t>(index) + 1);
    ++index_used_;
    return index;
}

void Hive::add_span(NodeIndex key, const Span& span)
{
    // Sections come in file order, files in load order: most spans go last.
    auto before = [&](const Span& other) { return other.order < span.order || (other.order == span.order && other.start < span.start); };
    std::uint32_t* link = &keys_[key].first_span;
    while (*link != no_node && before(spans_[*link]))
        link = &spans_[*link].next;
    Span stored = span;
    stored.next = *link;
    *link = static_cast<std::uint32_t>(spans_.push_back(stored));
}

LinkMark Hive::link_mark(NodeIndex key) const
{
    auto found = links_.find(key);
    return found != links_.end() ? found->second : LinkMark{};
}

void Hive::mark_link(NodeIndex key, std::uint8_t file, std::uint64_t offset)
{
    auto& node = keys_[key];
    if (!node.link) {
        node.link = true;
        links_[key] = { file, offset };
    }
    for (auto parent = node.parent; parent != no_node && !keys_[parent].link_below; parent = keys_[parent].parent)
        keys_[parent].link_below = true;
}

TextView Hive::store(const char16_t* units, std::size_t length)
{
    bool wide = false;
    for (std::size_t index = 0; index < length; ++index) {
        if (units[index] > 0xFF) {
            wide = true;
            break;
        }
    }
    return pack_units(arena_.allocate(length * (wide ? 2 : 1)), units, length, wide);
}

} // namespace hivedump::wine
