#pragma once

#include "registry/registry.h"
#include "wine/hive.h"
#include "wine/links.h"
#include "wine/loaded_files.h"

#include <string_view>

namespace hivedump::wine {

/// Finds keys by name in the registry's view: names case folded, links
/// followed (Links), and in the 32-bit view of a 64-bit prefix by the view's
/// rules (view.h) at every name. Each lookup loads what it needs of the files.
class KeyResolver {
public:
    KeyResolver(LoadedFiles& files, Links& links);
    KeyResolver(const KeyResolver&) = delete;
    KeyResolver& operator=(const KeyResolver&) = delete;

    /// Whether opens go by the 32-bit view's rules; a prefix whose files
    /// say it is a 32-bit one has the one view whatever this says.
    void set_wow64_view(bool on) { wow64_view_ = on; }
    bool in_wow64_view() const { return wow64_view_ && !files_.single_view(); }

    /// The key a master key's handle opens, or no_node.
    NodeIndex root_node(registry::Handle root, const Wanted& wanted);
    /// Opens `path` below `node` in the registry's view.
    FoundKey open_path(NodeIndex node, std::u16string_view path, const Wanted& wanted);
    /// Opens the subkey `child` of `node` that a listing just named `name`:
    /// mostly that one, without a lookup.
    FoundKey open_listed(NodeIndex node, NodeIndex child, std::u16string_view name, const Wanted& wanted);
    /// The subkey `name` of `node` in the registry's view, before its link is
    /// followed; no_node when none.
    NodeIndex look_up(NodeIndex node, std::u16string_view name, const Wanted& wanted);

private:
    class ViewAdapter;

    LoadedFiles& files_;
    Links& links_;
    Hive& hive_;
    bool wow64_view_ = true;
};

} // namespace hivedump::wine
