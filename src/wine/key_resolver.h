#pragma once

#include "registry/registry.h"
#include "wine/loaded_files.h"
#include "wine/tree.h"
#include "wine/values.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace hivedump::wine {

/// Finds keys by name as Wine's server does: names case folded, links
/// followed, and in the 32-bit view of a 64-bit prefix by the view's rules
/// (view.h) at every name. Each lookup loads what it needs of the files.
class KeyResolver {
public:
    explicit KeyResolver(LoadedFiles& files);
    KeyResolver(const KeyResolver&) = delete;
    KeyResolver& operator=(const KeyResolver&) = delete;

    /// Whether opens go by the 32-bit view's rules; a prefix whose files
    /// say it is a 32-bit one has the one view whatever this says.
    void set_wow64_view(bool on) { wow64_view_ = on; }
    bool in_wow64_view() const { return wow64_view_ && !files_.single_view(); }

    /// The key a master key's handle opens, or no_node.
    NodeIndex root_node(registry::Handle root, const Wanted& wanted);
    /// Opens `path` below `node` in the registry's view.
    registry::Status open_path(NodeIndex node, std::u16string_view path, const Wanted& wanted, NodeIndex& found);
    /// Opens the subkey `child` of `node` that a listing just named `name`:
    /// mostly that one, without a lookup.
    registry::Status open_listed(NodeIndex node, NodeIndex child, std::u16string_view name, const Wanted& wanted, NodeIndex& found);
    /// The subkey `name` of `node` in the registry's view, before its link is
    /// followed; no_node when none.
    NodeIndex look_up(NodeIndex node, std::u16string_view name, const Wanted& wanted);
    /// Follows names from `node` as the server does, without the view's
    /// rules, through links `depth` deep; each link on the way is followed one
    /// deeper. While the file of `loading` is read, the keys of the files read
    /// after it are not there yet.
    registry::Status walk(
        NodeIndex node, std::u16string_view path, int depth, const Wanted& wanted, NodeIndex& found, Mount loading = none);

private:
    class ViewAdapter;
    /// The subkey of `node` with that name, or no_node.
    NodeIndex child_of(NodeIndex node, std::u16string_view name, const Wanted& wanted);
    /// Follows `link`, itself `depth` links deep.
    registry::Status follow_link(NodeIndex link, int depth, NodeIndex& target, Mount loading = none);
    /// Where a key of the file of `loading` created through `link` (`depth`
    /// links deep) goes: the target's last name is created when missing, the
    /// names and links before it must lead to keys that exist by then.
    NodeIndex follow_link_creating(NodeIndex link, int depth, Mount loading);
    /// Whether the server, while it reads the file of `loading`, has yet to
    /// make the subkey `name` of `node`, which a file read later makes.
    bool made_later(NodeIndex node, std::u16string_view name, Mount loading) const;
    const std::u16string& link_target(NodeIndex link);

    LoadedFiles& files_;
    Hive& hive_;
    bool wow64_view_ = true;
    struct LinkTarget {
        std::uint32_t spans = 0;
        std::u16string target;
    };
    std::map<NodeIndex, LinkTarget> link_targets_;
    ValueStore link_values_;
};

} // namespace hivedump::wine
