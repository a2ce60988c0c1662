// Links, resolved as Wine's server resolves them.
#include "wine/prefix_registry.h"

namespace hivedump::wine {

namespace status = registry::status;

namespace {

constexpr Status invalid_parameter = 87;
// The server gives up on a name once links lead to links this many deep.
constexpr int max_link_depth = 32;

/// The part of a link target below \Registry, or nullopt when the target
/// does not name a key there.
std::optional<std::u16string_view> below_registry_root(std::u16string_view target)
{
    static const std::u16string prefix = u"\\Registry";
    if (target.size() < prefix.size() || wine::compare_names(view_of(target.substr(0, prefix.size())), view_of(prefix)) != 0)
        return std::nullopt;
    target.remove_prefix(prefix.size());
    if (target.empty())
        return target;
    if (target.front() != u'\\')
        return std::nullopt;
    target.remove_prefix(1);
    if (!target.empty() && target.front() == u'\\')
        return std::nullopt;
    return target;
}

} // namespace

const std::u16string& WinePrefixRegistry::link_target(NodeIndex link)
{
    // Read again only when the link has gained lines since.
    std::uint32_t spans = 0;
    for (auto index = hive_.key(link).first_span; index != no_node; index = hive_.span(index).next)
        ++spans;
    auto& cached = link_targets_[link];
    if (cached.spans == spans && spans != 0)
        return cached.target;
    cached.spans = spans;
    cached.target.clear();
    link_values_.clear();
    read_key_values(link, link_values_);
    static const std::u16string value_name = u"SymbolicLinkValue";
    const ValueNode* found = nullptr;
    for (const auto& value : link_values_.values) {
        if (names_equal(value.name_text(), view_of(value_name)))
            found = &value;
    }
    if (found == nullptr)
        return cached.target;
    const auto& value = *found;
    auto& target = cached.target;
    if (value.form == DataForm::bytes) {
        for (std::uint32_t at = 0; at + 1 < value.data_length; at += 2)
            target.push_back(static_cast<char16_t>(value.data[at] | (value.data[at + 1] << 8)));
    } else {
        TextView text{ value.data, value.data_length, value.form == DataForm::wide_text };
        for (std::uint32_t at = 0; at < text.length; ++at)
            target.push_back(text[at]);
        // Text data holds its terminating zero, which then ends the last name.
        target.push_back(u'\0');
    }
    link_values_.clear();
    return target;
}

bool WinePrefixRegistry::made_later(NodeIndex node, std::u16string_view name, Mount loading) const
{
    if (loading == machine)
        return node == hive_.root() && names_equal(view_of(name), hive_.key(users_).name_text());
    if (loading == default_user)
        return node == users_ && !names_equal(view_of(name), hive_.key(default_user_).name_text());
    return false;
}

Status WinePrefixRegistry::follow_link(NodeIndex link, int depth, NodeIndex& target, Mount loading)
{
    if (depth > max_link_depth)
        return invalid_parameter;
    auto rest = below_registry_root(link_target(link));
    if (!rest)
        return status::file_not_found;
    // The target's own names are what the load of its file is for.
    std::u16string path(*rest);
    InterestScope scope(*this, path);
    return walk(hive_.root(), path, depth, target, loading);
}

Status WinePrefixRegistry::walk(NodeIndex node, std::u16string_view path, int depth, NodeIndex& found, Mount loading)
{
    for (PathNames names(path); auto name = names.next();) {
        auto child = made_later(node, *name, loading) ? no_node : child_of(node, *name);
        if (child == no_node)
            return status::file_not_found;
        if (hive_.key(child).link) {
            auto status = follow_link(child, depth + 1, child, loading);
            if (status != status::success)
                return status;
        }
        node = child;
    }
    found = node;
    return status::success;
}

NodeIndex WinePrefixRegistry::follow_link_creating(NodeIndex link, int depth, Mount loading)
{
    if (depth > max_link_depth)
        return no_node;
    auto rest = below_registry_root(link_target(link));
    if (!rest)
        return no_node;
    std::u16string path(*rest);
    InterestScope scope(*this, path);
    NodeIndex node = hive_.root();
    PathNames names(path);
    for (auto name = names.next(); name;) {
        auto next = names.next();
        // The server would create the key a later file is read into: the same key.
        if (next && made_later(node, *name, loading))
            return no_node;
        auto child = child_of(node, *name);
        if (child == no_node) {
            // The server creates one key: only the target's last name may be missing.
            if (next)
                return no_node;
            child = hive_.add_child(node, name->data(), name->size());
        } else if (hive_.key(child).link) {
            // The server creates below the link the target ends in, but a link
            // on the way must lead to keys that exist: a section below it fails.
            if (!next)
                return follow_link_creating(child, depth + 1, loading);
            if (follow_link(child, depth + 1, child, loading) != status::success)
                return no_node;
        }
        node = child;
        name = next;
    }
    return node;
}
} // namespace hivedump::wine
