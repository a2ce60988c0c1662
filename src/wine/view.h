#pragma once

#include "registry/registry.h"
#include "wine/found_key.h"
#include "wine/hive.h"

#include <string_view>

namespace hivedump::wine {

/// What the 32-bit view's rules ask of the registry.
class ViewKeys {
public:
    virtual ~ViewKeys() = default;
    /// The subkey with that name (case folded), loading what it needs; no_node when none.
    virtual NodeIndex child(NodeIndex node, std::u16string_view name) = 0;
    /// The subkey named Wow6432Node, any case, or no_node.
    virtual NodeIndex wow64_child(NodeIndex node) = 0;
    virtual bool is_link(NodeIndex node) = 0;
    /// Follows a link as the server does, without the view's rules.
    virtual FoundKey follow(NodeIndex link) = 0;
    virtual NodeIndex parent(NodeIndex node) = 0;
    /// Whether the key is HKEY_LOCAL_MACHINE\Software\Classes.
    virtual bool is_machine_classes(NodeIndex node) = 0;
};

/// Opens `path` below `from` as Wine's server does for a 32-bit program on
/// a 64-bit prefix, one name at a time:
/// - a key with a subkey named Wow6432Node (any case) is that subkey, at
///   every name of the path, the last included, and after a link is followed;
/// - a name Wow6432Node is taken as it is: neither the key before it nor
///   the key it names is redirected;
/// - HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node is shared: the classes
///   key stays itself and lists its own subkeys, a name below it is looked up
///   there first and then in the classes key, and a link leading to it leads
///   to the classes key.
FoundKey open_in_32bit_view(ViewKeys& keys, NodeIndex from, std::u16string_view path);

/// The subkey `name` of `node` as the 32-bit view looks it up, before its
/// link is followed and its Wow6432Node subkey taken; no_node when none.
NodeIndex look_up_in_32bit_view(ViewKeys& keys, NodeIndex node, std::u16string_view name);

/// The same for the subkey `child` of `from` that a listing named: only the
/// shared classes key and a key opened as a link look elsewhere for it.
FoundKey open_listed_in_32bit_view(ViewKeys& keys, NodeIndex from, NodeIndex child, std::u16string_view name);

} // namespace hivedump::wine
