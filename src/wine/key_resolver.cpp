// Keys found by name in the registry's view: the master keys, and the
// 32-bit view's rules applied through ViewAdapter.
#include "wine/key_resolver.h"

#include "wine/view.h"

namespace hivedump::wine {

namespace status = registry::status;
using registry::Status;

KeyResolver::KeyResolver(LoadedFiles& files, Links& links)
    : files_(files)
    , links_(links)
    , hive_(files.hive())
{
}

NodeIndex KeyResolver::root_node(registry::Handle root, const Wanted& wanted)
{
    switch (static_cast<std::uintptr_t>(root)) {
    case static_cast<std::uintptr_t>(registry::local_machine):
        return files_.machine_key();
    case static_cast<std::uintptr_t>(registry::current_user):
        files_.load(user, wanted, links_);
        hive_.key(files_.users_key()).mount = none;
        return files_.user_key();
    case static_cast<std::uintptr_t>(registry::users):
        return files_.users_key();
    case static_cast<std::uintptr_t>(registry::classes_root): {
        // The classes root is what Wine opens as Machine\Software\Classes.
        auto classes = open_path(files_.machine_key(), u"Software\\Classes", wanted);
        return classes.found() ? classes.node : no_node;
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
    NodeIndex child(NodeIndex node, std::u16string_view name) override { return resolver_.links_.child_of(node, name, wanted_); }
    NodeIndex wow64_child(NodeIndex node) override
    {
        auto& files = resolver_.files_;
        files.ensure_loaded(node, wanted_, resolver_.links_);
        // Keys on the way to what the first pass was for know theirs.
        if (!resolver_.hive_.key(node).wow64_known)
            files.complete(node, wanted_, resolver_.links_);
        if (!resolver_.hive_.key(node).has_wow64_child)
            return no_node;
        return resolver_.hive_.find_child(node, view_of(wow64_node_name));
    }
    bool is_link(NodeIndex node) override { return resolver_.hive_.key(node).link; }
    FoundKey follow(NodeIndex link) override { return resolver_.links_.follow(link, 1); }
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

FoundKey KeyResolver::open_path(NodeIndex node, std::u16string_view path, const Wanted& wanted)
{
    // The file below says whether the prefix has two views.
    files_.ensure_loaded(node, wanted, links_);
    if (!in_wow64_view())
        return links_.follow_path(node, path, 0, wanted);
    ViewAdapter keys(*this, wanted);
    return open_in_32bit_view(keys, node, path);
}

FoundKey KeyResolver::open_listed(NodeIndex node, NodeIndex child, std::u16string_view name, const Wanted& wanted)
{
    if (in_wow64_view()) {
        ViewAdapter keys(*this, wanted);
        return open_listed_in_32bit_view(keys, node, child, name);
    }
    return hive_.key(child).link ? links_.follow(child, 1) : FoundKey::at(child);
}

NodeIndex KeyResolver::look_up(NodeIndex node, std::u16string_view name, const Wanted& wanted)
{
    if (!in_wow64_view())
        return links_.child_of(node, name, wanted);
    ViewAdapter keys(*this, wanted);
    return look_up_in_32bit_view(keys, node, name);
}

} // namespace hivedump::wine
