#include "wine/prefix_registry.h"

#include "wine/view.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace hivedump::wine {

namespace status = registry::status;

namespace {

constexpr Status bad_pathname = 161;
constexpr std::size_t max_ansi_path = 260;
constexpr std::string_view default_user_key = "S-1-5-21-0-0-0-1000";

std::u16string units_of(const TextView& text)
{
    std::u16string units;
    units.reserve(text.length);
    for (std::uint32_t at = 0; at < text.length; ++at)
        units.push_back(text[at]);
    return units;
}

/// The user key's name from a ";; All keys relative to" path such as
/// REGISTRY\User\S-1-5-21-0-0-0-1000 or \User\S-1-5-21-0-0-0-1000.
std::string user_key_name(std::string_view path)
{
    auto strip = [&](std::string_view start) {
        if (path.size() >= start.size() && strncasecmp(path.data(), start.data(), start.size()) == 0) {
            path.remove_prefix(start.size());
            return true;
        }
        return false;
    };
    strip("\\");
    strip("REGISTRY\\");
    if (!strip("User\\") || path.empty())
        return std::string(default_user_key);
    return std::string(path);
}

std::u16string ascii_units(std::string_view text) { return { text.begin(), text.end() }; }

} // namespace

WinePrefixRegistry::WinePrefixRegistry(std::string prefix, const CodePage& code_page)
    : WinePrefixRegistry(std::move(prefix), code_page, directory_files())
{
}

WinePrefixRegistry::WinePrefixRegistry(std::string prefix, const CodePage& code_page, std::unique_ptr<RegistryFileSource> files)
    : prefix_(std::move(prefix))
    , files_(std::move(files))
    , read_chunk_(default_read_chunk)
    , code_page_(code_page)
    , converter_(code_page.number())
{
    auto machine_name = ascii_units("Machine");
    auto user_name = ascii_units("User");
    auto default_name = ascii_units(".Default");
    machine_ = hive_.add_child(hive_.root(), machine_name.data(), machine_name.size());
    users_ = hive_.add_child(hive_.root(), user_name.data(), user_name.size());
    default_user_ = hive_.add_child(users_, default_name.data(), default_name.size());
    hive_.key(machine_).mount = machine;
    hive_.key(machine_).owner = machine;
    // Listing the users needs the user's key, whose name user.reg gives.
    hive_.key(users_).mount = user;
    hive_.key(default_user_).mount = Mount::default_user;
    hive_.key(default_user_).owner = Mount::default_user;
}

WinePrefixRegistry::~WinePrefixRegistry() = default;

std::vector<std::string> WinePrefixRegistry::registry_files() const
{
    return { file_path(machine), file_path(user), file_path(Mount::default_user) };
}

std::string WinePrefixRegistry::file_path(Mount mount) const
{
    return prefix_ + (mount == machine ? "/system.reg" : mount == user ? "/user.reg" : "/userdef.reg");
}

void WinePrefixRegistry::ensure_loaded(NodeIndex node)
{
    auto mount = static_cast<Mount>(hive_.key(node).mount);
    if (mount == none)
        return;
    hive_.key(node).mount = none;
    load(mount);
}

std::vector<std::u16string> WinePrefixRegistry::path_of(NodeIndex node) const
{
    std::vector<std::u16string> names;
    for (; node != hive_.root() && node != no_node; node = hive_.key(node).parent)
        names.push_back(units_of(hive_.key(node).name_text()));
    std::reverse(names.begin(), names.end());
    return names;
}

Interest WinePrefixRegistry::interest_below(NodeIndex base) const
{
    Interest interest;
    std::vector<std::u16string> wanted;
    if (interest_anchor_ != no_node) {
        wanted = path_of(interest_anchor_);
    } else {
        switch (static_cast<std::uintptr_t>(interest_root_)) {
        case static_cast<std::uintptr_t>(registry::local_machine):
            wanted = { u"Machine" };
            break;
        case static_cast<std::uintptr_t>(registry::current_user):
            wanted = path_of(base == user_key_ ? user_key_ : users_);
            if (base != user_key_)
                return interest; // the user key is not known yet: all of it
            break;
        case static_cast<std::uintptr_t>(registry::users):
            wanted = { u"User" };
            break;
        default:
            return interest; // the classes root goes through links: all of it
        }
    }
    for (PathNames names(interest_path_); auto name = names.next();)
        wanted.emplace_back(*name);
    auto base_path = path_of(base);
    std::size_t common = std::min(base_path.size(), wanted.size());
    for (std::size_t index = 0; index < common; ++index) {
        if (!names_equal(view_of(base_path[index]), view_of(wanted[index]))) {
            // Nothing below the base is asked for: only its links are needed.
            interest.all = false;
            interest.nothing = true;
            return interest;
        }
    }
    if (wanted.size() > base_path.size()) {
        interest.all = false;
        interest.names.assign(wanted.begin() + static_cast<std::ptrdiff_t>(base_path.size()), wanted.end());
    }
    return interest;
}

void WinePrefixRegistry::load(Mount mount, bool needed)
{
    if (loaded_[mount]) {
        if (needed && std::exchange(unreported_[mount], false))
            report_unreadable(mount);
        return;
    }
    loaded_[mount] = true;
    auto& file = open_files_[mount];
    if (auto opened = files_->open(file_path(mount)))
        file = std::make_unique<PinnedFile>(std::move(opened), std::clamp<std::size_t>(read_chunk_, 16, PinnedFile::default_block_size));
    auto start = [&](std::string_view relative, Interest& interest) {
        NodeIndex base = no_node;
        if (mount == machine) {
            base = machine_;
        } else if (mount == user) {
            auto name = ascii_units(user_key_name(relative));
            base = hive_.add_child(users_, name.data(), name.size());
            hive_.key(base).owner = user;
            user_key_ = base;
        } else {
            base = default_user_;
        }
        interest = interest_below(base);
        return base;
    };

    bool valid = false;
    if (file) {
        auto follow = [this, mount](NodeIndex link) { return follow_link_creating(link, 1, mount); };
        loaders_[mount] = std::make_unique<FileLoader>(hive_, *file, mount, server_order(mount), follow, read_chunk_);
        if (wow64_view_)
            loaders_[mount]->make_wow64_sections();
        auto result = loaders_[mount]->first_pass(start);
        valid = result.valid && !result.read_failed;
        single_view_ = single_view_ || (valid && result.win32);
    } else {
        Interest unused;
        start({}, unused);
    }
    if (file && file->changed())
        stop_reading(mount);
    if (!valid && needed)
        report_unreadable(mount);
    unreported_[mount] = !valid && !needed;
    // A file read after this one by the server may make keys and values in
    // this one's tree through its links.
    for (auto later : { Mount::default_user, user }) {
        if (server_order(later) > server_order(mount))
            load(later, false);
    }
}

void WinePrefixRegistry::report_unreadable(Mount mount)
{
    if (unreadable_)
        return;
    unreadable_ = files_->is_directory(prefix_) ? file_path(mount) : prefix_;
}

void WinePrefixRegistry::stop_reading(Mount mount)
{
    report_unreadable(mount);
    stopped_ = true;
}

void WinePrefixRegistry::complete(NodeIndex node)
{
    ensure_loaded(node);
    const auto& key = hive_.key(node);
    if (key.complete || key.owner == none)
        return;
    if (auto& loader = loaders_[key.owner]; loader && !loader->full() && !loader->catch_up())
        stop_reading(static_cast<Mount>(key.owner));
}

NodeIndex WinePrefixRegistry::child_of(NodeIndex node, std::u16string_view name)
{
    // .Default is there before user.reg is read, which need not be read for it.
    if (node == users_ && names_equal(view_of(name), hive_.key(default_user_).name_text()))
        return default_user_;
    ensure_loaded(node);
    auto child = hive_.find_child(node, view_of(name));
    if (child == no_node) {
        complete(node);
        child = hive_.find_child(node, view_of(name));
    }
    return child;
}

NodeIndex WinePrefixRegistry::root_node(Handle root)
{
    switch (static_cast<std::uintptr_t>(root)) {
    case static_cast<std::uintptr_t>(registry::local_machine):
        return machine_;
    case static_cast<std::uintptr_t>(registry::current_user):
        load(user);
        hive_.key(users_).mount = none;
        return user_key_;
    case static_cast<std::uintptr_t>(registry::users):
        return users_;
    case static_cast<std::uintptr_t>(registry::classes_root): {
        // The classes root is what Wine opens as Machine\Software\Classes.
        NodeIndex classes = no_node;
        if (open_path(machine_, u"Software\\Classes", classes) != status::success)
            return no_node;
        return classes;
    }
    default:
        return no_node;
    }
}

/// The registry's part of the view's rules: its lookups and links.
class WinePrefixRegistry::ViewAdapter final : public ViewKeys {
public:
    explicit ViewAdapter(WinePrefixRegistry& registry)
        : registry_(registry)
    {
    }
    NodeIndex child(NodeIndex node, std::u16string_view name) override { return registry_.child_of(node, name); }
    NodeIndex wow64_child(NodeIndex node) override
    {
        registry_.ensure_loaded(node);
        // Keys on the way to what the first pass was for know theirs.
        if (!registry_.hive_.key(node).wow64_known)
            registry_.complete(node);
        return registry_.hive_.find_child(node, view_of(wow64_node_name));
    }
    bool is_link(NodeIndex node) override { return registry_.hive_.key(node).link; }
    Status follow(NodeIndex link, NodeIndex& target) override { return registry_.follow_link(link, 1, target); }
    NodeIndex parent(NodeIndex node) override { return registry_.hive_.key(node).parent; }
    bool is_machine_classes(NodeIndex node) override
    {
        const auto& hive = registry_.hive_;
        NodeIndex software = hive.key(node).parent;
        return software != no_node && hive.key(software).parent == registry_.machine_
            && names_equal(hive.key(node).name_text(), view_of(u"Classes"))
            && names_equal(hive.key(software).name_text(), view_of(u"Software"));
    }

private:
    WinePrefixRegistry& registry_;
};

WinePrefixRegistry::OpenKey* WinePrefixRegistry::find_open_key(Handle handle, Status& status)
{
    status = status::success;
    if (stopped_) {
        status = registry_io_failed;
        return nullptr;
    }
    if (registry::is_root(handle)) {
        auto slot = static_cast<std::uintptr_t>(handle) - 0x80000000u;
        auto& key = roots_[slot];
        if (!root_resolved_[slot]) {
            root_resolved_[slot] = true;
            key.node = root_node(handle);
            key.in_use = key.node != no_node;
        }
        if (!key.in_use) {
            status = status::file_not_found;
            return nullptr;
        }
        return &key;
    }
    auto slot = static_cast<std::uintptr_t>(handle);
    if (slot == 0 || slot > open_keys_.size() || !open_keys_[slot - 1].in_use || open_keys_[slot - 1].performance_text) {
        status = status::invalid_handle;
        return nullptr;
    }
    return &open_keys_[slot - 1];
}

void WinePrefixRegistry::read_key_values(NodeIndex node, ValueStore& store)
{
    auto file_of = [this](std::uint8_t file) { return open_files_[file].get(); };
    if (windows_.size() != open_files_.size())
        windows_.resize(open_files_.size());
    if (!read_values(hive_, hive_.key(node).first_span, file_of, read_chunk_, store, windows_)) {
        // Name the file that changed, else the key's first.
        auto mount = static_cast<Mount>(hive_.span(hive_.key(node).first_span).file);
        for (std::size_t index = 0; index < open_files_.size(); ++index) {
            if (open_files_[index] && open_files_[index]->changed())
                mount = static_cast<Mount>(index);
        }
        stop_reading(mount);
    }
}

bool WinePrefixRegistry::is_performance_key(NodeIndex node)
{
    // Wine's open turns these keys into the performance-text pseudo handles.
    static const char16_t* const paths[] = { u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009",
        u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\CurrentLanguage" };
    static const std::u16string last_names[] = { u"009", u"CurrentLanguage" };
    if (!loaders_[machine] && !loaded_[machine])
        return false;
    auto name = hive_.key(node).name_text();
    if (!names_equal(name, view_of(last_names[0])) && !names_equal(name, view_of(last_names[1])))
        return false;
    if (!performance_keys_) {
        std::array<NodeIndex, 2> keys{ no_node, no_node };
        for (std::size_t index = 0; index < 2; ++index) {
            NodeIndex found = no_node;
            if (walk(machine_, paths[index], 0, found) == status::success)
                keys[index] = found;
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
    interest_root_ = parent;
    interest_anchor_ = no_node;
    if (!registry::is_root(parent)) {
        auto slot = static_cast<std::uintptr_t>(parent);
        if (slot != 0 && slot <= open_keys_.size() && open_keys_[slot - 1].in_use)
            interest_anchor_ = open_keys_[slot - 1].node;
    }
    interest_path_ = units;

    Status status;
    auto* parent_key = find_open_key(parent, status);
    if (parent_key == nullptr)
        return status;
    // The A functions convert the path into a buffer of 261 units, its zero
    // included: a longer path is opened nowhere.
    if (units.size() > max_ansi_path)
        return status::more_data;
    if (!units.empty() && units.front() == u'\\')
        return bad_pathname;
    NodeIndex node = no_node;
    // The walk opens each subkey it has just listed: that one needs no lookup
    // when the name is the child's (a child's folded name is its own).
    NodeIndex listed = parent_key->last_listed;
    if (listed != no_node && !units.empty() && units.find(u'\\') == std::u16string::npos
        && names_equal(hive_.key(listed).name_text(), view_of(units))) {
        if (in_wow64_view()) {
            ViewAdapter keys(*this);
            status = open_listed_in_32bit_view(keys, parent_key->node, listed, units, node);
        } else {
            node = listed;
            status = hive_.key(listed).link ? follow_link(listed, 1, node) : status::success;
        }
    } else {
        status = open_path(parent_key->node, units, node);
    }
    if (status != status::success)
        return status;
    if (stopped_)
        return registry_io_failed;

    std::size_t slot;
    if (!free_slots_.empty()) {
        slot = free_slots_.back();
        free_slots_.pop_back();
    } else {
        slot = open_keys_.size();
        open_keys_.emplace_back();
        // close_key runs from destructors and must not allocate.
        free_slots_.reserve(open_keys_.size());
    }
    auto& opened = open_keys_[slot];
    opened.reset();
    opened.node = node;
    opened.in_use = true;
    opened.performance_text = is_performance_key(node);
    key = static_cast<Handle>(slot + 1);
    return status::success;
}

Status WinePrefixRegistry::open_path(NodeIndex node, std::u16string_view path, NodeIndex& found)
{
    // The file below says whether the prefix has two views.
    ensure_loaded(node);
    if (!in_wow64_view())
        return walk(node, path, 0, found);
    ViewAdapter keys(*this);
    return open_in_32bit_view(keys, node, path, found);
}

void WinePrefixRegistry::close_key(Handle key)
{
    if (registry::is_root(key))
        return;
    auto slot = static_cast<std::uintptr_t>(key);
    if (slot == 0 || slot > open_keys_.size() || !open_keys_[slot - 1].in_use)
        return;
    open_keys_[slot - 1].reset();
    free_slots_.push_back(slot - 1);
}

bool WinePrefixRegistry::is_dangling_link(Handle handle, const std::string& name)
{
    Status status;
    auto* key = find_open_key(handle, status);
    if (key == nullptr)
        return false;
    converter_.to_utf16(name, path_scratch_);
    NodeIndex child = no_node;
    if (in_wow64_view()) {
        ViewAdapter keys(*this);
        child = look_up_in_32bit_view(keys, key->node, path_scratch_);
    } else {
        child = child_of(key->node, path_scratch_);
    }
    return child != no_node && hive_.key(child).link;
}

std::string WinePrefixRegistry::key_identity(Handle handle)
{
    Status status;
    auto* key = find_open_key(handle, status);
    if (key == nullptr)
        return {};
    // Handles reach a key's node through its links, so the node tells keys apart.
    return "node " + std::to_string(key->node);
}

} // namespace hivedump::wine
