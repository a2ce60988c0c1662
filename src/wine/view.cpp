// The 32-bit view of a 64-bit prefix, as observed of a 32-bit program under
// Wine's WoW64: the rules are in view.h, each kept as a row of a table test.
#include "wine/view.h"

#include "wine/text.h"

namespace hivedump::wine {

namespace status = registry::status;
using registry::Status;

namespace {

bool is_wow64_name(std::u16string_view name) { return names_equal(view_of(name), view_of(wow64_node_name)); }

/// HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node.
bool is_shared_classes(ViewKeys& keys, NodeIndex node)
{
    NodeIndex parent = keys.parent(node);
    return parent != no_node && keys.is_machine_classes(parent) && keys.wow64_child(parent) == node;
}

/// What a key found under a name opens: its link followed, then its
/// Wow6432Node subkey (not followed, should it be a link), unless that name
/// or the next one is Wow6432Node.
FoundKey settle(ViewKeys& keys, NodeIndex node, bool named_wow64)
{
    if (keys.is_link(node)) {
        auto target = keys.follow(node);
        if (!target.found())
            return target;
        node = target.node;
        if (is_shared_classes(keys, node))
            node = keys.parent(node);
    }
    if (named_wow64)
        return FoundKey::at(node);
    NodeIndex wow64 = keys.wow64_child(node);
    // Taken as it is, even when it is a link itself.
    if (wow64 != no_node && !keys.is_machine_classes(node))
        node = wow64;
    return FoundKey::at(node);
}

} // namespace

NodeIndex look_up_in_32bit_view(ViewKeys& keys, NodeIndex node, std::u16string_view name)
{
    // A key opened as a link (a Wow6432Node key that is one) lists its own
    // subkeys, but names below it are looked up where it leads.
    if (keys.is_link(node)) {
        auto settled = settle(keys, node, is_wow64_name(name));
        if (!settled.found())
            return no_node;
        node = settled.node;
    }
    NodeIndex from = node;
    if (!is_wow64_name(name) && keys.is_machine_classes(node)) {
        if (NodeIndex shared = keys.wow64_child(node); shared != no_node)
            from = shared;
    }
    NodeIndex child = keys.child(from, name);
    if (child == no_node && is_shared_classes(keys, from))
        child = keys.child(keys.parent(from), name);
    return child;
}

FoundKey open_in_32bit_view(ViewKeys& keys, NodeIndex from, std::u16string_view path)
{
    NodeIndex node = from;
    PathNames names(path);
    for (auto name = names.next(); name;) {
        auto next = names.next();
        NodeIndex child = look_up_in_32bit_view(keys, node, *name);
        if (child == no_node)
            return FoundKey::failed(status::file_not_found);
        auto settled = settle(keys, child, is_wow64_name(*name) || (next && is_wow64_name(*next)));
        if (!settled.found())
            return settled;
        node = settled.node;
        name = next;
    }
    return FoundKey::at(node);
}

FoundKey open_listed_in_32bit_view(ViewKeys& keys, NodeIndex from, NodeIndex child, std::u16string_view name)
{
    if (keys.is_link(from) || (!is_wow64_name(name) && keys.is_machine_classes(from)))
        return open_in_32bit_view(keys, from, name);
    return settle(keys, child, is_wow64_name(name));
}

} // namespace hivedump::wine
