// Keys found by name: links resolved as Wine's server resolves them, and the
// 32-bit view's rules applied through ViewAdapter.
#include "wine/key_resolver.h"

#include "wine/view.h"

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

KeyResolver::KeyResolver(LoadedFiles& files)
    : files_(files)
    , hive_(files.hive())
{
    files_.set_create_through_link([this](NodeIndex link, Mount loading) { return follow_link_creating(link, 1, loading); });
}

const std::u16string& KeyResolver::link_target(NodeIndex link)
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
    files_.read_key_values(link, link_values_);
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

bool KeyResolver::made_later(NodeIndex node, std::u16string_view name, Mount loading) const
{
    if (loading == machine)
        return node == hive_.root() && names_equal(view_of(name), hive_.key(files_.users_key()).name_text());
    if (loading == default_user)
        return node == files_.users_key() && !names_equal(view_of(name), hive_.key(files_.default_user_key()).name_text());
    return false;
}

Status KeyResolver::follow_link(NodeIndex link, int depth, NodeIndex& target, Mount loading)
{
    if (depth > max_link_depth)
        return invalid_parameter;
    auto rest = below_registry_root(link_target(link));
    if (!rest)
        return status::file_not_found;
    // The target's own names are what the load of its file is for.
    std::u16string path(*rest);
    return walk(hive_.root(), path, depth, Wanted::below({}, hive_.root(), path), target, loading);
}

Status KeyResolver::walk(NodeIndex node, std::u16string_view path, int depth, const Wanted& wanted, NodeIndex& found, Mount loading)
{
    for (PathNames names(path); auto name = names.next();) {
        auto child = made_later(node, *name, loading) ? no_node : child_of(node, *name, wanted);
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

NodeIndex KeyResolver::follow_link_creating(NodeIndex link, int depth, Mount loading)
{
    if (depth > max_link_depth)
        return no_node;
    auto rest = below_registry_root(link_target(link));
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
                return follow_link_creating(child, depth + 1, loading);
            if (follow_link(child, depth + 1, child, loading) != status::success)
                return no_node;
        }
        node = child;
        name = next;
    }
    return node;
}

NodeIndex KeyResolver::child_of(NodeIndex node, std::u16string_view name, const Wanted& wanted)
{
    // .Default is there before user.reg is read, which need not be read for it.
    if (node == files_.users_key() && names_equal(view_of(name), hive_.key(files_.default_user_key()).name_text()))
        return files_.default_user_key();
    files_.ensure_loaded(node, wanted);
    auto child = hive_.find_child(node, view_of(name));
    if (child == no_node) {
        files_.complete(node, wanted);
        child = hive_.find_child(node, view_of(name));
    }
    return child;
}

NodeIndex KeyResolver::root_node(registry::Handle root, const Wanted& wanted)
{
    switch (static_cast<std::uintptr_t>(root)) {
    case static_cast<std::uintptr_t>(registry::local_machine):
        return files_.machine_key();
    case static_cast<std::uintptr_t>(registry::current_user):
        files_.load(user, wanted);
        hive_.key(files_.users_key()).mount = none;
        return files_.user_key();
    case static_cast<std::uintptr_t>(registry::users):
        return files_.users_key();
    case static_cast<std::uintptr_t>(registry::classes_root): {
        // The classes root is what Wine opens as Machine\Software\Classes.
        NodeIndex classes = no_node;
        if (open_path(files_.machine_key(), u"Software\\Classes", wanted, classes) != status::success)
            return no_node;
        return classes;
    }
    default:
        return no_node;
    }
}

/// The resolver's part of the view's rules: its lookups and links.
class KeyResolver::ViewAdapter final : public ViewKeys {
public:
    ViewAdapter(KeyResolver& resolver, const Wanted& wanted)
        : resolver_(resolver)
        , wanted_(wanted)
    {
    }
    NodeIndex child(NodeIndex node, std::u16string_view name) override { return resolver_.child_of(node, name, wanted_); }
    NodeIndex wow64_child(NodeIndex node) override
    {
        resolver_.files_.ensure_loaded(node, wanted_);
        // Keys on the way to what the first pass was for know theirs.
        if (!resolver_.hive_.key(node).wow64_known)
            resolver_.files_.complete(node, wanted_);
        if (!resolver_.hive_.key(node).has_wow64_child)
            return no_node;
        return resolver_.hive_.find_child(node, view_of(wow64_node_name));
    }
    bool is_link(NodeIndex node) override { return resolver_.hive_.key(node).link; }
    Status follow(NodeIndex link, NodeIndex& target) override { return resolver_.follow_link(link, 1, target); }
    NodeIndex parent(NodeIndex node) override { return resolver_.hive_.key(node).parent; }
    bool is_machine_classes(NodeIndex node) override
    {
        const auto& hive = resolver_.hive_;
        NodeIndex software = hive.key(node).parent;
        return software != no_node && hive.key(software).parent == resolver_.files_.machine_key()
            && names_equal(hive.key(node).name_text(), view_of(u"Classes"))
            && names_equal(hive.key(software).name_text(), view_of(u"Software"));
    }

private:
    KeyResolver& resolver_;
    const Wanted& wanted_;
};

Status KeyResolver::open_path(NodeIndex node, std::u16string_view path, const Wanted& wanted, NodeIndex& found)
{
    // The file below says whether the prefix has two views.
    files_.ensure_loaded(node, wanted);
    if (!in_wow64_view())
        return walk(node, path, 0, wanted, found);
    ViewAdapter keys(*this, wanted);
    return open_in_32bit_view(keys, node, path, found);
}

Status KeyResolver::open_listed(NodeIndex node, NodeIndex child, std::u16string_view name, const Wanted& wanted, NodeIndex& found)
{
    if (in_wow64_view()) {
        ViewAdapter keys(*this, wanted);
        return open_listed_in_32bit_view(keys, node, child, name, found);
    }
    found = child;
    return hive_.key(child).link ? follow_link(child, 1, found) : status::success;
}

NodeIndex KeyResolver::look_up(NodeIndex node, std::u16string_view name, const Wanted& wanted)
{
    if (!in_wow64_view())
        return child_of(node, name, wanted);
    ViewAdapter keys(*this, wanted);
    return look_up_in_32bit_view(keys, node, name);
}

} // namespace hivedump::wine
