// Subkeys and values of open keys, in the server's order.
#include "wine/prefix_registry.h"

#include "registry/value_type.h"

#include <algorithm>
#include <cstring>

namespace hivedump::wine {

namespace status = registry::status;

namespace {

bool is_string_type(std::uint32_t type)
{
    return type == value_type::string || type == value_type::expand_string || type == value_type::multi_string;
}

/// Sorts by name, the index settling ties. Keys hold few values and
/// subkeys as a rule, and insertion sort does best on those.
void sort_named(std::vector<WinePrefixRegistry::Named>& items)
{
    auto before = [](const WinePrefixRegistry::Named& left, const WinePrefixRegistry::Named& right) {
        if (left.folded_start != right.folded_start)
            return left.folded_start < right.folded_start;
        int order = compare_names(left.name, right.name);
        return order != 0 ? order < 0 : left.index < right.index;
    };
    if (items.size() > 24) {
        std::sort(items.begin(), items.end(), before);
        return;
    }
    for (std::size_t at = 1; at < items.size(); ++at) {
        auto item = items[at];
        std::size_t to = at;
        for (; to > 0 && before(item, items[to - 1]); --to)
            items[to] = items[to - 1];
        items[to] = item;
    }
}

bool same_name(const WinePrefixRegistry::Named& left, const WinePrefixRegistry::Named& right)
{
    return left.folded_start == right.folded_start && names_equal(left.name, right.name);
}

} // namespace

WinePrefixRegistry::Named WinePrefixRegistry::Named::of(const TextView& name, std::uint32_t index)
{
    // The first four folded units, the first one highest, and zeros past the
    // end: where two differ they order the names as compare_names does.
    std::uint64_t start = 0;
    for (std::uint32_t at = 0; at < 4; ++at)
        start = start << 16 | (at < name.length ? fold_case(name[at]) : 0u);
    return { name, index, start };
}

void WinePrefixRegistry::list_children(OpenKey& key)
{
    if (key.children_listed)
        return;
    key.children_listed = true;
    // A listing wants every subkey.
    files_.complete(key.node, {}, links_);
    const auto& hive = files_.hive();
    auto& named = named_scratch_;
    named.clear();
    for (auto child = hive.key(key.node).first_child; child != no_node; child = hive.key(child).next_sibling)
        named.push_back(Named::of(hive.key(child).name_text(), child));
    sort_named(named);
    key.children.reserve(named.size());
    for (const auto& item : named)
        key.children.push_back(item.index);
}

void WinePrefixRegistry::list_values(OpenKey& key)
{
    if (key.values_listed)
        return;
    key.values_listed = true;
    // A key outside the interest may have sections its file passed over.
    files_.complete(key.node, {}, links_);
    key.store.clear();
    files_.read_key_values(key.node, key.store);
    auto& all = named_scratch_;
    all.clear();
    for (std::uint32_t index = 0; index < key.store.values.size(); ++index)
        all.push_back(Named::of(key.store.values[index].name_text(), index));
    sort_named(all);
    // A name loaded again replaces the data and keeps the first spelling.
    key.values.clear();
    key.values.reserve(all.size());
    for (std::size_t at = 0; at < all.size();) {
        auto end = at + 1;
        while (end < all.size() && same_name(all[at], all[end]))
            ++end;
        key.values.push_back({ all[at].index, all[end - 1].index });
        at = end;
    }
}

WinePrefixRegistry::KeyInUse WinePrefixRegistry::listed_key(Handle handle, Listing listing)
{
    auto in_use = find_open_key(handle);
    if (in_use.key == nullptr)
        return in_use;
    if (listing == Listing::children)
        list_children(*in_use.key);
    else
        list_values(*in_use.key);
    if (files_.stopped())
        return { registry_io_failed, nullptr };
    return in_use;
}

Status WinePrefixRegistry::enum_key(Handle handle, std::uint32_t index, std::span<char> name)
{
    auto [status, key] = listed_key(handle, Listing::children);
    if (key == nullptr)
        return status;
    if (key->values_listed) {
        // The walk is done with this key's values once it lists its subkeys.
        key->values_listed = false;
        key->values.clear();
        key->store.clear();
    }
    key->last_listed = no_node;
    if (index >= key->children.size())
        return status::no_more_items;
    auto text = files_.hive().key(key->children[index]).name_text();
    auto size = converter_.converted_size(text);
    if (size >= name.size())
        return status::more_data;
    auto written = converter_.convert(text, name.data(), size);
    name[written] = '\0';
    key->last_listed = key->children[index];
    return status::success;
}

Status WinePrefixRegistry::query_info_key(Handle handle, KeyInfo& info)
{
    auto [status, key] = listed_key(handle, Listing::values);
    if (key == nullptr)
        return status;
    info = KeyInfo{};
    info.value_count = static_cast<std::uint32_t>(key->values.size());
    for (const auto& slot : key->values) {
        // The server's figure: data in stored bytes.
        info.max_value_data_size = std::max(info.max_value_data_size, key->store.values[slot.data].stored_size());
    }
    return status::success;
}

Status WinePrefixRegistry::copy_data(const ValueNode& value, ValueRead& read, std::uint32_t& size) const
{
    auto capacity = std::min<std::size_t>(read.data_size, read.data.size());
    auto* out = reinterpret_cast<char*>(read.data.data());
    if (!is_string_type(value.type)) {
        size = value.data_length;
        if (size > capacity)
            return status::more_data;
        if (size != 0)
            std::memcpy(out, value.data, size);
        return status::success;
    }
    bool text = value.form != DataForm::bytes;
    TextView units = text ? TextView{ value.data, value.data_length, value.form == DataForm::wide_text }
                          : TextView{ value.data, value.data_length / 2, true };
    size = static_cast<std::uint32_t>(converter_.converted_size(units) + (text ? 1 : 0));
    if (size == 0)
        return status::success;
    if (size > capacity)
        return status::more_data;
    converter_.convert(units, out, size);
    if (text)
        out[size - 1] = '\0';
    // Text without its zero gets one when there is room, as the platform adds it.
    if (size < capacity && out[size - 1] != '\0')
        out[size] = '\0';
    return status::success;
}

Status WinePrefixRegistry::copy_name(const ValueNode& named, ValueRead& read) const
{
    auto name_text = named.name_text();
    auto name_size = converter_.converted_size(name_text);
    auto name_capacity = std::min<std::size_t>(read.name_length, read.name.size());
    if (name_size >= name_capacity) {
        if (name_capacity != 0) {
            converter_.convert(name_text, read.name.data(), name_capacity - 1);
            read.name[name_capacity - 1] = '\0';
        }
        return status::more_data;
    }
    auto written = converter_.convert(name_text, read.name.data(), name_size);
    read.name[written] = '\0';
    read.name_length = static_cast<std::uint32_t>(written);
    return status::success;
}

Status WinePrefixRegistry::enum_value(Handle handle, std::uint32_t index, ValueRead& read)
{
    auto [status, key] = listed_key(handle, Listing::values);
    if (key == nullptr)
        return status;
    if (index >= key->values.size())
        return status::no_more_items;
    const auto& value = key->store.values[key->values[index].data];
    std::uint32_t size = 0;
    status = copy_data(value, read, size);
    if (status == status::success)
        status = copy_name(key->store.values[key->values[index].name], read);
    read.type = value.type;
    read.data_size = size;
    return status;
}

} // namespace hivedump::wine
