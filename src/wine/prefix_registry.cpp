#include "wine/prefix_registry.h"

namespace hivedump::wine {

namespace status = registry::status;

namespace {

constexpr Status bad_pathname = 161;
constexpr std::size_t max_ansi_path = 260;

} // namespace

WinePrefixRegistry::WinePrefixRegistry(std::string prefix, const CodePage& code_page)
    : WinePrefixRegistry(std::move(prefix), code_page, directory_files())
{
}

WinePrefixRegistry::WinePrefixRegistry(std::string prefix, const CodePage& code_page, std::unique_ptr<RegistryFileSource> files)
    : code_page_(code_page)
    , converter_(code_page.number())
    , files_(std::move(prefix), std::move(files))
    , links_(files_)
    , resolver_(files_, links_)
{
}

WinePrefixRegistry::~WinePrefixRegistry() = default;

std::vector<std::string> WinePrefixRegistry::registry_files() const
{
    return { files_.file_path(machine), files_.file_path(user), files_.file_path(default_user) };
}

void WinePrefixRegistry::set_view(registry::View view)
{
    bool wow64 = view != registry::View::bits64;
    files_.set_wow64_sections(wow64);
    resolver_.set_wow64_view(wow64);
}

WinePrefixRegistry::KeyInUse WinePrefixRegistry::find_open_key(Handle handle, const Wanted& wanted)
{
    if (files_.stopped())
        return { registry_io_failed, nullptr };
    if (registry::is_root(handle)) {
        bool resolved = false;
        auto& key = handles_.root(handle, resolved);
        if (!resolved) {
            key.node = resolver_.root_node(handle, wanted);
            key.in_use = key.node != no_node;
        }
        if (!key.in_use)
            return { status::file_not_found, nullptr };
        return { status::success, &key };
    }
    auto* key = handles_.find(handle);
    return { key == nullptr ? status::invalid_handle : status::success, key };
}

bool WinePrefixRegistry::is_performance_key(NodeIndex node)
{
    // Wine's open turns these keys into the performance-text pseudo handles.
    static const char16_t* const paths[] = { u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009",
        u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\CurrentLanguage" };
    static const std::u16string last_names[] = { u"009", u"CurrentLanguage" };
    if (!files_.loaded(machine))
        return false;
    const auto& hive = files_.hive();
    auto name = hive.key(node).name_text();
    if (!names_equal(name, view_of(last_names[0])) && !names_equal(name, view_of(last_names[1])))
        return false;
    if (!performance_keys_) {
        std::array<NodeIndex, 2> keys{ no_node, no_node };
        for (std::size_t index = 0; index < 2; ++index) {
            if (auto found = links_.follow_path(files_.machine_key(), paths[index], 0, {}); found.found())
                keys[index] = found.node;
        }
        performance_keys_ = keys;
    }
    return node == (*performance_keys_)[0] || node == (*performance_keys_)[1];
}

Status WinePrefixRegistry::open_key(Handle parent, const std::string& path, Handle& key)
{
    auto& units = path_scratch_;
    converter_.to_utf16(path, units);
    // What the first load of a file below is for.
    auto wanted = Wanted::below(parent, handles_.node_of(parent), units);

    auto in_use = find_open_key(parent, wanted);
    if (in_use.key == nullptr)
        return in_use.status;
    // The A functions convert the path into a buffer of 261 units, its zero
    // included: a longer path is opened nowhere.
    if (units.size() > max_ansi_path)
        return status::more_data;
    if (!units.empty() && units.front() == u'\\')
        return bad_pathname;
    // The walk opens each subkey it has just listed: that one needs no lookup
    // when the name is the child's (a child's folded name is its own).
    NodeIndex listed = in_use.key->last_listed;
    bool just_listed = listed != no_node && !units.empty() && units.find(u'\\') == std::u16string::npos
        && names_equal(files_.hive().key(listed).name_text(), view_of(units));
    auto found = just_listed ? resolver_.open_listed(in_use.key->node, listed, units, wanted)
                             : resolver_.open_path(in_use.key->node, units, wanted);
    if (!found.found())
        return found.status;
    if (files_.stopped())
        return registry_io_failed;
    key = handles_.open(found.node, is_performance_key(found.node));
    return status::success;
}

void WinePrefixRegistry::close_key(Handle key) { handles_.close(key); }

bool WinePrefixRegistry::is_dangling_link(Handle handle, const std::string& name)
{
    auto* key = find_open_key(handle).key;
    if (key == nullptr)
        return false;
    converter_.to_utf16(name, path_scratch_);
    NodeIndex child = resolver_.look_up(key->node, path_scratch_, {});
    return child != no_node && files_.hive().key(child).link;
}

std::string WinePrefixRegistry::key_identity(Handle handle)
{
    auto* key = find_open_key(handle).key;
    if (key == nullptr)
        return {};
    // Handles reach a key's node through its links, so the node tells keys apart.
    return "node " + std::to_string(key->node);
}

} // namespace hivedump::wine
