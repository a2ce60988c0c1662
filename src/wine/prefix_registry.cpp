#include "wine/prefix_registry.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace hivedump::wine {

namespace status = registry::status;

namespace {

constexpr Status invalid_parameter = 87;
constexpr Status bad_pathname = 161;
constexpr std::size_t max_ansi_path = 260;
// The server gives up on a name once links lead to links this many deep.
constexpr int max_link_depth = 32;
constexpr std::string_view default_user_key = "S-1-5-21-0-0-0-1000";

TextView view_of(std::u16string_view text)
{
    return { reinterpret_cast<const unsigned char*>(text.data()), static_cast<std::uint32_t>(text.size()), true };
}

std::u16string units_of(const TextView& text)
{
    std::u16string units;
    units.reserve(text.length);
    for (std::uint32_t at = 0; at < text.length; ++at)
        units.push_back(text[at]);
    return units;
}

bool is_string_type(std::uint32_t type) { return type == 1 || type == 2 || type == 7; }

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
    auto default_user = hive_.add_child(users_, default_name.data(), default_name.size());
    hive_.key(machine_).mount = machine;
    hive_.key(machine_).owner = machine;
    // Listing the users needs the user's key, whose name user.reg gives.
    hive_.key(users_).mount = user;
    hive_.key(default_user).mount = Mount::default_user;
    hive_.key(default_user).owner = Mount::default_user;
}

WinePrefixRegistry::~WinePrefixRegistry() = default;

std::vector<std::string> WinePrefixRegistry::registry_files() const
{
    return { prefix_ + "/system.reg", prefix_ + "/user.reg", prefix_ + "/userdef.reg" };
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

void WinePrefixRegistry::load(Mount mount)
{
    if (loaded_[mount])
        return;
    loaded_[mount] = true;
    auto files = registry_files();
    const std::string& path = files[mount == machine ? 0 : mount == user ? 1 : 2];

    auto& file = open_files_[mount];
    file = files_->open(path);
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
            auto name = ascii_units(".Default");
            base = hive_.find_child(users_, view_of(name));
        }
        interest = interest_below(base);
        return base;
    };

    bool valid = false;
    if (file) {
        auto follow = [this](NodeIndex link) { return follow_link_creating(link, 1); };
        loaders_[mount] = std::make_unique<FileLoader>(hive_, *file, mount, ++loads_, follow, read_chunk_);
        auto result = loaders_[mount]->first_pass(start);
        valid = result.valid && !result.read_failed;
    } else {
        Interest unused;
        start({}, unused);
    }
    if (!valid)
        report_unreadable(mount);
}

void WinePrefixRegistry::report_unreadable(Mount mount)
{
    if (unreadable_)
        return;
    auto files = registry_files();
    const std::string& path = files[mount == machine ? 0 : mount == user ? 1 : 2];
    unreadable_ = files_->is_directory(prefix_) ? path : prefix_;
}

void WinePrefixRegistry::complete(NodeIndex node)
{
    ensure_loaded(node);
    const auto& key = hive_.key(node);
    if (key.complete || key.owner == none)
        return;
    if (auto& loader = loaders_[key.owner]; loader && !loader->full() && !loader->catch_up())
        report_unreadable(static_cast<Mount>(key.owner));
}

NodeIndex WinePrefixRegistry::child_of(NodeIndex node, std::u16string_view name)
{
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
        NodeIndex classes = no_node;
        if (walk(machine_, u"Software\\Classes", 0, classes) != status::success)
            return no_node;
        return classes;
    }
    default:
        return no_node;
    }
}

WinePrefixRegistry::OpenKey* WinePrefixRegistry::find_open_key(Handle handle, Status& status)
{
    status = status::success;
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
        // Only the file that failed is known to the spans: name the first one.
        report_unreadable(static_cast<Mount>(hive_.span(hive_.key(node).first_span).file));
    }
}

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

Status WinePrefixRegistry::follow_link(NodeIndex link, int depth, NodeIndex& target)
{
    if (depth > max_link_depth)
        return invalid_parameter;
    auto rest = below_registry_root(link_target(link));
    if (!rest)
        return status::file_not_found;
    // The target's own names are what the load of its file is for.
    std::u16string path(*rest);
    interest_anchor_ = hive_.root();
    interest_path_ = path;
    return walk(hive_.root(), path, depth, target);
}

Status WinePrefixRegistry::walk(NodeIndex node, std::u16string_view path, int depth, NodeIndex& found)
{
    for (PathNames names(path); auto name = names.next();) {
        auto child = child_of(node, *name);
        if (child == no_node)
            return status::file_not_found;
        if (hive_.key(child).link) {
            auto status = follow_link(child, depth + 1, child);
            if (status != status::success)
                return status;
        }
        node = child;
    }
    found = node;
    return status::success;
}

NodeIndex WinePrefixRegistry::follow_link_creating(NodeIndex link, int depth)
{
    if (depth > max_link_depth)
        return no_node;
    auto rest = below_registry_root(link_target(link));
    if (!rest)
        return no_node;
    std::u16string path(*rest);
    interest_anchor_ = hive_.root();
    interest_path_ = path;
    NodeIndex node = hive_.root();
    PathNames names(path);
    for (auto name = names.next(); name;) {
        auto child = child_of(node, *name);
        auto next = names.next();
        if (child == no_node) {
            // The server creates one key: only the target's last name may be missing.
            if (next)
                return no_node;
            child = hive_.add_child(node, name->data(), name->size());
        } else if (hive_.key(child).link) {
            // The server creates below the link the target ends in, but a link
            // on the way must lead to keys that exist: a section below it fails.
            if (!next)
                return follow_link_creating(child, depth + 1);
            if (follow_link(child, depth + 1, child) != status::success)
                return no_node;
        }
        node = child;
        name = next;
    }
    return node;
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
        node = listed;
        status = hive_.key(listed).link ? follow_link(listed, 1, node) : status::success;
    } else {
        status = walk(parent_key->node, units, 0, node);
    }
    if (status != status::success)
        return status;

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

namespace {

/// Sorts by name, the index settling ties. Keys hold few values and
/// subkeys as a rule, and insertion sort does best on those.
void sort_named(std::vector<WinePrefixRegistry::Named>& items)
{
    auto before = [](const WinePrefixRegistry::Named& left, const WinePrefixRegistry::Named& right) {
        if (left.folded_start != right.folded_start)
            return left.folded_start < right.folded_start;
        int order = compare_names(left.name, right.name);
        return order != 0 ? order < 0 : left.index < right.index;
    };
    if (items.size() > 24) {
        std::sort(items.begin(), items.end(), before);
        return;
    }
    for (std::size_t at = 1; at < items.size(); ++at) {
        auto item = items[at];
        std::size_t to = at;
        for (; to > 0 && before(item, items[to - 1]); --to)
            items[to] = items[to - 1];
        items[to] = item;
    }
}

bool same_name(const WinePrefixRegistry::Named& left, const WinePrefixRegistry::Named& right)
{
    return left.folded_start == right.folded_start && names_equal(left.name, right.name);
}

} // namespace

WinePrefixRegistry::Named WinePrefixRegistry::Named::of(const TextView& name, std::uint32_t index)
{
    // The first four folded units, the first one highest, and zeros past the
    // end: where two differ they order the names as compare_names does.
    std::uint64_t start = 0;
    for (std::uint32_t at = 0; at < 4; ++at)
        start = start << 16 | (at < name.length ? fold_case(name[at]) : 0u);
    return { name, index, start };
}

void WinePrefixRegistry::list_children(OpenKey& key)
{
    if (key.children_listed)
        return;
    key.children_listed = true;
    complete(key.node);
    auto& named = named_scratch_;
    named.clear();
    for (auto child = hive_.key(key.node).first_child; child != no_node; child = hive_.key(child).next_sibling)
        named.push_back(Named::of(hive_.key(child).name_text(), child));
    sort_named(named);
    key.children.reserve(named.size());
    for (const auto& item : named)
        key.children.push_back(item.index);
}

void WinePrefixRegistry::list_values(OpenKey& key)
{
    if (key.values_listed)
        return;
    key.values_listed = true;
    ensure_loaded(key.node);
    key.store.clear();
    read_key_values(key.node, key.store);
    auto& all = named_scratch_;
    all.clear();
    for (std::uint32_t index = 0; index < key.store.values.size(); ++index)
        all.push_back(Named::of(key.store.values[index].name_text(), index));
    sort_named(all);
    // A name loaded again replaces the data and keeps the first spelling.
    key.values.clear();
    key.values.reserve(all.size());
    for (std::size_t at = 0; at < all.size();) {
        auto end = at + 1;
        while (end < all.size() && same_name(all[at], all[end]))
            ++end;
        key.values.push_back({ all[at].index, all[end - 1].index });
        at = end;
    }
}

Status WinePrefixRegistry::enum_key(Handle handle, std::uint32_t index, std::span<char> name)
{
    Status status;
    auto* key = find_open_key(handle, status);
    if (key == nullptr)
        return status;
    list_children(*key);
    if (key->values_listed) {
        // The walk is done with this key's values once it lists its subkeys.
        key->values_listed = false;
        key->values.clear();
        key->store.clear();
    }
    key->last_listed = no_node;
    if (index >= key->children.size())
        return status::no_more_items;
    auto text = hive_.key(key->children[index]).name_text();
    auto size = converter_.converted_size(text);
    if (size >= name.size())
        return status::more_data;
    auto written = converter_.convert(text, name.data(), size);
    name[written] = '\0';
    key->last_listed = key->children[index];
    return status::success;
}

Status WinePrefixRegistry::query_info_key(Handle handle, KeyInfo& info)
{
    Status status;
    auto* key = find_open_key(handle, status);
    if (key == nullptr)
        return status;
    list_values(*key);
    info = KeyInfo{};
    info.value_count = static_cast<std::uint32_t>(key->values.size());
    for (const auto& slot : key->values) {
        // The server's figures: names in UTF-16 units, data in stored bytes.
        info.max_value_name_length = std::max(info.max_value_name_length, std::uint32_t{ key->store.values[slot.name].name_length });
        info.max_value_data_size = std::max(info.max_value_data_size, key->store.values[slot.data].stored_size());
    }
    return status::success;
}

Status WinePrefixRegistry::enum_value(Handle handle, std::uint32_t index, ValueRead& read)
{
    Status status;
    auto* key = find_open_key(handle, status);
    if (key == nullptr)
        return status;
    list_values(*key);
    if (index >= key->values.size())
        return status::no_more_items;
    const auto& named = key->store.values[key->values[index].name];
    const auto& value = key->store.values[key->values[index].data];
    auto capacity = std::min<std::size_t>(read.data_size, read.data.size());
    auto* out = reinterpret_cast<char*>(read.data.data());

    status = status::success;
    std::uint32_t size;
    if (is_string_type(value.type)) {
        bool text = value.form != DataForm::bytes;
        TextView units = text ? TextView{ value.data, value.data_length, value.form == DataForm::wide_text }
                              : TextView{ value.data, value.data_length / 2, true };
        auto converted = converter_.converted_size(units) + (text ? 1 : 0);
        size = static_cast<std::uint32_t>(converted);
        if (size != 0) {
            if (size > capacity) {
                status = status::more_data;
            } else {
                converter_.convert(units, out, size);
                if (text)
                    out[size - 1] = '\0';
                // Text without its zero gets one when there is room, as the platform adds it.
                if (size < capacity && out[size - 1] != '\0')
                    out[size] = '\0';
            }
        }
    } else {
        size = value.data_length;
        if (size > capacity)
            status = status::more_data;
        else if (size != 0)
            std::memcpy(out, value.data, size);
    }

    if (status == status::success) {
        auto name_text = named.name_text();
        auto name_size = converter_.converted_size(name_text);
        auto name_capacity = std::min<std::size_t>(read.name_length, read.name.size());
        if (name_size >= name_capacity) {
            status = status::more_data;
            if (name_capacity != 0) {
                converter_.convert(name_text, read.name.data(), name_capacity - 1);
                read.name[name_capacity - 1] = '\0';
            }
        } else {
            auto written = converter_.convert(name_text, read.name.data(), name_size);
            read.name[written] = '\0';
            read.name_length = static_cast<std::uint32_t>(written);
        }
    }
    read.type = value.type;
    read.data_size = size;
    return status;
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
