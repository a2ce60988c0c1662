// Every rule of how a link is followed: when the server meets a key as a
// link, where a name through one leads, and where a key created through one
// goes while a file is read.
#include "wine/links.h"

#include "wine/section_header.h"

#include <optional>

namespace hivedump::wine {

namespace status = registry::status;
using registry::Status;

namespace {

constexpr Status invalid_parameter = 87;
// The server gives up on a name once links lead to links this many deep.
constexpr int max_link_depth = 32;

/// The part of a link target below \Registry, or nullopt when the target
/// does not name a key there.
std::optional<std::u16string_view> below_registry_root(std::u16string_view target)
{
    static const std::u16string prefix = u"\\Registry";
    if (target.size() < prefix.size() || compare_names(view_of(target.substr(0, prefix.size())), view_of(prefix)) != 0)
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

/// The path a link's value names: text data holds its terminating zero,
/// which then ends the last name.
void append_target(const ValueNode& value, std::u16string& target)
{
    if (value.form == DataForm::bytes) {
        for (std::uint32_t at = 0; at + 1 < value.data_length; at += 2)
            target.push_back(static_cast<char16_t>(value.data[at] | (value.data[at + 1] << 8)));
        return;
    }
    TextView text{ value.data, value.data_length, value.form == DataForm::wide_text };
    for (std::uint32_t at = 0; at < text.length; ++at)
        target.push_back(text[at]);
    target.push_back(u'\0');
}

} // namespace

Links::Links(LoadedFiles& files)
    : files_(files)
    , hive_(files.hive())
{
}

const std::u16string& Links::target_of(NodeIndex link)
{
    // Read again only when the link has gained lines since.
    std::uint32_t spans = 0;
    for (auto index = hive_.key(link).first_span; index != no_node; index = hive_.span(index).next)
        ++spans;
    auto& cached = targets_[link];
    if (cached.spans == spans && spans != 0)
        return cached.path;
    cached.spans = spans;
    cached.path.clear();
    link_values_.clear();
    files_.read_key_values(link, link_values_);
    static const std::u16string value_name = u"SymbolicLinkValue";
    const ValueNode* found = nullptr;
    for (const auto& value : link_values_.values) {
        if (names_equal(value.name_text(), view_of(value_name)))
            found = &value;
    }
    if (found != nullptr)
        append_target(*found, cached.path);
    link_values_.clear();
    return cached.path;
}

bool Links::made_later(NodeIndex node, std::u16string_view name, Mount loading) const
{
    if (loading == machine)
        return node == hive_.root() && names_equal(view_of(name), hive_.key(files_.users_key()).name_text());
    if (loading == default_user)
        return node == files_.users_key() && !names_equal(view_of(name), hive_.key(files_.default_user_key()).name_text());
    return false;
}

FoundKey Links::follow(NodeIndex link, int depth, Mount loading)
{
    if (depth > max_link_depth)
        return FoundKey::failed(invalid_parameter);
    auto rest = below_registry_root(target_of(link));
    if (!rest)
        return FoundKey::failed(status::file_not_found);
    // The target's own names are what the load of its file is for.
    std::u16string path(*rest);
    return follow_path(hive_.root(), path, depth, Wanted::below({}, hive_.root(), path), loading);
}

FoundKey Links::follow_path(NodeIndex node, std::u16string_view path, int depth, const Wanted& wanted, Mount loading)
{
    for (PathNames names(path); auto name = names.next();) {
        auto child = made_later(node, *name, loading) ? no_node : child_of(node, *name, wanted);
        if (child == no_node)
            return FoundKey::failed(status::file_not_found);
        if (hive_.key(child).link) {
            auto target = follow(child, depth + 1, loading);
            if (!target.found())
                return target;
            child = target.node;
        }
        node = child;
    }
    return FoundKey::at(node);
}

NodeIndex Links::create_through(NodeIndex link, int depth, Mount loading)
{
    if (depth > max_link_depth)
        return no_node;
    auto rest = below_registry_root(target_of(link));
    if (!rest)
        return no_node;
    std::u16string path(*rest);
    auto wanted = Wanted::below({}, hive_.root(), path);
    NodeIndex node = hive_.root();
    PathNames names(path);
    for (auto name = names.next(); name;) {
        auto next = names.next();
        // The server would create the key a later file is read into: the same key.
        if (next && made_later(node, *name, loading))
            return no_node;
        auto child = child_of(node, *name, wanted);
        if (child == no_node) {
            // The server creates one key: only the target's last name may be missing.
            if (next)
                return no_node;
            child = hive_.add_child(node, name->data(), name->size());
        } else if (hive_.key(child).link) {
            // The server creates below the link the target ends in, but a link
            // on the way must lead to keys that exist: a section below it fails.
            if (!next)
                return create_through(child, depth + 1, loading);
            auto target = follow(child, depth + 1, loading);
            if (!target.found())
                return no_node;
            child = target.node;
        }
        node = child;
        name = next;
    }
    return node;
}

NodeIndex Links::child_of(NodeIndex node, std::u16string_view name, const Wanted& wanted)
{
    // .Default is there before user.reg is read, which need not be read for it.
    if (node == files_.users_key() && names_equal(view_of(name), hive_.key(files_.default_user_key()).name_text()))
        return files_.default_user_key();
    files_.ensure_loaded(node, wanted, *this);
    auto child = hive_.find_child(node, view_of(name));
    if (child == no_node) {
        files_.complete(node, wanted, *this);
        child = hive_.find_child(node, view_of(name));
    }
    return child;
}

std::optional<NodeIndex> Links::making_through(NodeIndex node, std::uint8_t file, std::uint64_t header)
{
    if (!link_known_at(hive_, node, file, header))
        return std::nullopt;
    return create_through(node, static_cast<Mount>(file));
}

bool link_known_at(const Hive& hive, NodeIndex node, std::uint8_t file, std::uint64_t header)
{
    if (!hive.key(node).link)
        return false;
    auto mark = hive.link_mark(node);
    return mark.file != file || mark.offset < header;
}

bool passes_known_link(const Hive& hive, NodeIndex base, const SectionHeader& section, std::uint8_t file, std::uint64_t header)
{
    NodeIndex node = base;
    for (std::size_t index = 0; index < section.names().size(); ++index) {
        if (link_known_at(hive, node, file, header))
            return true;
        if (!hive.key(node).link_below)
            return false;
        node = hive.find_child(node, section.name(index));
        if (node == no_node)
            return false;
    }
    return link_known_at(hive, node, file, header);
}

} // namespace hivedump::wine
