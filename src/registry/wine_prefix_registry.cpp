#include "registry/wine_prefix_registry.h"

#include "registry/wine_reg_parser.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hivedump::registry {

namespace {

using wine::no_node;
using wine::NodeIndex;
using wine::PathNames;

constexpr Status invalid_parameter = 87;
constexpr Status bad_pathname = 161;
constexpr std::size_t max_ansi_path = 260;
// The server gives up on a name once links lead to links this many deep.
constexpr int max_link_depth = 32;
constexpr std::string_view default_user_key = "S-1-5-21-0-0-0-1000";
// Values fetched ahead for the next subkey of a walk.
constexpr std::uint32_t prefetched_values = 12;

wine::TextView view_of(std::u16string_view text)
{
    return { reinterpret_cast<const unsigned char*>(text.data()), static_cast<std::uint32_t>(text.size()), true };
}

bool is_string_type(std::uint32_t type) { return type == 1 || type == 2 || type == 7; }

/// A registry file of the prefix directory. It is read, never mapped: a
/// file that another process truncates or rewrites meanwhile then only ends early.
class DirectoryFile final : public RegistryFileSource::File {
public:
    explicit DirectoryFile(int descriptor)
        : descriptor_(descriptor)
    {
    }
    ~DirectoryFile() override { ::close(descriptor_); }
    DirectoryFile(const DirectoryFile&) = delete;
    DirectoryFile& operator=(const DirectoryFile&) = delete;

    std::ptrdiff_t read_at(char* buffer, std::size_t size, std::uint64_t offset) override
    {
        for (;;) {
            auto count = ::pread(descriptor_, buffer, size, static_cast<off_t>(offset));
            if (count < 0 && errno == EINTR)
                continue;
            return count;
        }
    }

private:
    int descriptor_;
};

class DirectoryFiles final : public RegistryFileSource {
public:
    std::unique_ptr<File> open(const std::string& path) override
    {
        // Not blocking: a named pipe in place of the file must fail at once
        // rather than wait for a writer.
        int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (descriptor < 0)
            return nullptr;
        auto file = std::make_unique<DirectoryFile>(descriptor);
        struct stat info { };
        if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
            return nullptr;
        ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
        return file;
    }

    bool is_directory(const std::string& path) override
    {
        struct stat info { };
        return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
};

/// The first bytes of a file, read apart from the parse.
std::string head(RegistryFileSource::File& file, std::size_t size)
{
    std::string bytes(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        auto count = file.read_at(bytes.data() + got, size - got, got);
        if (count <= 0)
            break;
        got += static_cast<std::size_t>(count);
    }
    bytes.resize(got);
    return bytes;
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

constexpr std::size_t relative_line_window = 4096;

std::string relative_to_line(std::string_view text)
{
    constexpr std::string_view marker = ";; All keys relative to ";
    auto at = text.find(marker);
    if (at == std::string_view::npos)
        return {};
    auto end = text.find_first_of("\r\n", at);
    std::string path;
    auto line = text.substr(at + marker.size(), end == std::string_view::npos ? std::string_view::npos : end - at - marker.size());
    for (std::size_t index = 0; index < line.size(); ++index) {
        if (line[index] == '\\' && index + 1 < line.size() && line[index + 1] == '\\')
            ++index;
        path.push_back(line[index]);
    }
    return path;
}

std::u16string ascii_units(std::string_view text) { return { text.begin(), text.end() }; }

} // namespace

WinePrefixRegistry::WinePrefixRegistry(std::string prefix, const CodePage& code_page)
    : WinePrefixRegistry(std::move(prefix), code_page, std::make_unique<DirectoryFiles>())
{
}

WinePrefixRegistry::WinePrefixRegistry(std::string prefix, const CodePage& code_page, std::unique_ptr<RegistryFileSource> files)
    : prefix_(std::move(prefix))
    , files_(std::move(files))
    , read_chunk_(wine::default_read_chunk)
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
    // Listing the users needs the user's key, whose name user.reg gives.
    hive_.key(users_).mount = user;
    hive_.key(default_user).mount = Mount::default_user;
}

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

void WinePrefixRegistry::load(Mount mount)
{
    if (loaded_[mount])
        return;
    loaded_[mount] = true;
    auto files = registry_files();
    const std::string& path = files[mount == machine ? 0 : mount == user ? 1 : 2];

    auto file = files_->open(path);
    std::string relative;
    if (file)
        relative = relative_to_line(head(*file, relative_line_window));

    NodeIndex base = no_node;
    if (mount == machine) {
        base = machine_;
    } else if (mount == user) {
        auto name = ascii_units(user_key_name(relative));
        base = hive_.add_child(users_, name.data(), name.size());
        user_key_ = base;
    } else {
        auto name = ascii_units(".Default");
        base = hive_.find_child(users_, view_of(name));
    }

    bool valid = false;
    if (file) {
        wine::LinkFollower follow = [this](NodeIndex link) { return follow_link_creating(link, 1); };
        std::uint64_t offset = 0;
        wine::ReadFunction read = [&file, &offset](char* buffer, std::size_t size) {
            auto count = file->read_at(buffer, size, offset);
            if (count > 0)
                offset += static_cast<std::uint64_t>(count);
            return count;
        };
        auto result = wine::parse_registry_file(read, hive_, base, follow, read_chunk_);
        valid = result.valid && !result.read_failed;
    }
    if (mount == machine) {
        // Wine's open turns these keys into the performance-text pseudo handles.
        static const char16_t* const performance_paths[] = { u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009",
            u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\CurrentLanguage" };
        for (std::size_t index = 0; index < 2; ++index) {
            NodeIndex node = no_node;
            if (walk(machine_, performance_paths[index], 0, node) == status::success)
                performance_keys_[index] = node;
        }
    }
    if (!valid && !unreadable_) {
        unreadable_ = files_->is_directory(prefix_) ? path : prefix_;
    }
}

NodeIndex WinePrefixRegistry::root_node(Handle root)
{
    switch (static_cast<std::uintptr_t>(root)) {
    case static_cast<std::uintptr_t>(local_machine):
        return machine_;
    case static_cast<std::uintptr_t>(current_user):
        load(user);
        hive_.key(users_).mount = none;
        return user_key_;
    case static_cast<std::uintptr_t>(users):
        return users_;
    case static_cast<std::uintptr_t>(classes_root): {
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
    if (is_root(handle)) {
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

std::u16string WinePrefixRegistry::link_target(NodeIndex link) const
{
    static const std::u16string value_name = u"SymbolicLinkValue";
    auto index = hive_.find_value(link, view_of(value_name));
    if (index == no_node)
        return {};
    const auto& value = hive_.value(index);
    std::u16string target;
    if (value.form == wine::DataForm::bytes) {
        for (std::uint32_t at = 0; at + 1 < value.data_length; at += 2)
            target.push_back(static_cast<char16_t>(value.data[at] | (value.data[at + 1] << 8)));
    } else {
        wine::TextView text{ value.data, value.data_length, value.form == wine::DataForm::wide_text };
        for (std::uint32_t at = 0; at < text.length; ++at)
            target.push_back(text[at]);
        // Text data holds its terminating zero, which then ends the last name.
        target.push_back(u'\0');
    }
    return target;
}

namespace {

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

Status WinePrefixRegistry::follow_link(NodeIndex link, int depth, NodeIndex& target)
{
    if (depth > max_link_depth)
        return invalid_parameter;
    auto path = link_target(link);
    auto rest = below_registry_root(path);
    if (!rest)
        return status::file_not_found;
    return walk(hive_.root(), *rest, depth, target);
}

Status WinePrefixRegistry::walk(NodeIndex node, std::u16string_view path, int depth, NodeIndex& found)
{
    for (PathNames names(path); auto name = names.next();) {
        ensure_loaded(node);
        auto child = hive_.find_child(node, view_of(*name));
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
    auto path = link_target(link);
    auto rest = below_registry_root(path);
    if (!rest)
        return no_node;
    NodeIndex node = hive_.root();
    PathNames names(*rest);
    for (auto name = names.next(); name;) {
        ensure_loaded(node);
        auto child = hive_.find_child(node, view_of(*name));
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

Status WinePrefixRegistry::open_key(Handle parent, const std::string& path, Handle& key)
{
    Status status;
    auto* parent_key = find_open_key(parent, status);
    if (parent_key == nullptr)
        return status;
    auto& units = path_scratch_;
    converter_.to_utf16(path, units);
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
        && wine::names_equal(hive_.key(listed).name_text(), view_of(units))) {
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
    opened.performance_text = node == performance_keys_[0] || node == performance_keys_[1];
    key = static_cast<Handle>(slot + 1);
    return status::success;
}

void WinePrefixRegistry::close_key(Handle key)
{
    if (is_root(key))
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
        int order = wine::compare_names(left.name, right.name);
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
    return left.folded_start == right.folded_start && wine::names_equal(left.name, right.name);
}

} // namespace

WinePrefixRegistry::Named WinePrefixRegistry::Named::of(const wine::TextView& name, std::uint32_t index)
{
    // The first four folded units, the first one highest, and zeros past the
    // end: where two differ they order the names as compare_names does.
    std::uint64_t start = 0;
    for (std::uint32_t at = 0; at < 4; ++at)
        start = start << 16 | (at < name.length ? wine::fold_case(name[at]) : 0u);
    return { name, index, start };
}

void WinePrefixRegistry::list_children(OpenKey& key)
{
    if (key.children_listed)
        return;
    key.children_listed = true;
    ensure_loaded(key.node);
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
    auto& all = named_scratch_;
    all.clear();
    for (auto index = hive_.key(key.node).first_value; index != no_node; index = hive_.value(index).next)
        all.push_back(Named::of(hive_.value(index).name_text(), index));
    sort_named(all);
    // A name loaded again replaces the data and keeps the first spelling.
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
    if (index + 1 < key->children.size())
        prefetch_values(key->children[index + 1]);
    return status::success;
}

void WinePrefixRegistry::prefetch_values(NodeIndex node) const
{
    // A walk reads the next subkey's values soon after; they sit together,
    // newest first, and asking for them now hides the wait on memory.
    auto first = hive_.key(node).first_value;
    if (first == no_node)
        return;
    for (std::uint32_t back = 0; back < prefetched_values && back <= first; ++back)
        __builtin_prefetch(&hive_.value(first - back));
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
        info.max_value_name_length = std::max(info.max_value_name_length, std::uint32_t{ hive_.value(slot.name).name_length });
        info.max_value_data_size = std::max(info.max_value_data_size, hive_.value(slot.data).stored_size());
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
    const auto& named = hive_.value(key->values[index].name);
    const auto& value = hive_.value(key->values[index].data);
    auto capacity = std::min<std::size_t>(read.data_size, read.data.size());
    auto* out = reinterpret_cast<char*>(read.data.data());

    status = status::success;
    std::uint32_t size;
    if (is_string_type(value.type)) {
        bool text = value.form != wine::DataForm::bytes;
        wine::TextView units = text ? wine::TextView{ value.data, value.data_length, value.form == wine::DataForm::wide_text }
                                    : wine::TextView{ value.data, value.data_length / 2, true };
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

std::string find_wine_prefix()
{
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
        return prefix;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

std::uint32_t code_page_for_locale(std::string_view locale)
{
    auto cut = locale.find_first_of(".@");
    auto name = locale.substr(0, cut);
    auto underscore = name.find('_');
    auto language = name.substr(0, underscore);
    auto country = underscore == std::string_view::npos ? std::string_view{} : name.substr(underscore + 1);
    auto modifier = locale.find('@') == std::string_view::npos ? std::string_view{} : locale.substr(locale.find('@') + 1);

    struct Entry {
        std::string_view language;
        std::uint32_t code_page;
    };
    static constexpr Entry by_language[] = {
        { "ja", 932 },
        { "ko", 949 },
        { "th", 874 },
        { "vi", 1258 },
        { "cs", 1250 },
        { "hu", 1250 },
        { "pl", 1250 },
        { "ro", 1250 },
        { "sk", 1250 },
        { "sl", 1250 },
        { "hr", 1250 },
        { "sq", 1250 },
        { "bs", 1250 },
        { "ru", 1251 },
        { "uk", 1251 },
        { "be", 1251 },
        { "bg", 1251 },
        { "mk", 1251 },
        { "kk", 1251 },
        { "ky", 1251 },
        { "tt", 1251 },
        { "mn", 1251 },
        { "ba", 1251 },
        { "el", 1253 },
        { "tr", 1254 },
        { "az", 1254 },
        { "uz", 1254 },
        { "he", 1255 },
        { "yi", 1255 },
        { "ar", 1256 },
        { "fa", 1256 },
        { "ur", 1256 },
        { "ps", 1256 },
        { "et", 1257 },
        { "lv", 1257 },
        { "lt", 1257 },
    };
    if (language == "zh")
        return (country == "TW" || country == "HK" || country == "MO") ? 950 : 936;
    if (language == "sr")
        return modifier == "latin" ? 1250 : 1251;
    for (const auto& entry : by_language) {
        if (entry.language == language)
            return entry.code_page;
    }
    return 1252;
}

CodePage code_page_from_locale()
{
    // Wine takes the locale the C library settles on: one that is not
    // installed leaves "C", and so 1252.
    std::setlocale(LC_ALL, "");
    const char* name = std::setlocale(LC_CTYPE, nullptr);
    return CodePage::from_number(code_page_for_locale(name != nullptr ? name : "C"));
}

std::string locale_to_code_page(std::string_view text, const CodePage& code_page)
{
    const char* charset = nl_langinfo(CODESET);
    iconv_t opened = iconv_open("UTF-16LE", charset != nullptr ? charset : "UTF-8");
    if (opened == reinterpret_cast<iconv_t>(-1))
        return std::string(text);
    // Closed however the conversion ends: an allocation below may throw.
    auto close = [](void* descriptor) { iconv_close(static_cast<iconv_t>(descriptor)); };
    std::unique_ptr<void, decltype(close)> converter(opened, close);
    std::string wide(text.size() * 4 + 4, '\0');
    auto* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    auto* out = wide.data();
    std::size_t out_left = wide.size();
    while (in_left != 0) {
        if (iconv(converter.get(), &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1))
            break;
        // A byte that is no character of the locale is passed over.
        ++in;
        --in_left;
    }
    converter.reset();
    std::size_t units = (wide.size() - out_left) / 2;
    wine::AnsiConverter ansi(code_page.number());
    wine::TextView view{ reinterpret_cast<const unsigned char*>(wide.data()), static_cast<std::uint32_t>(units), true };
    std::string result;
    ansi.append(view, result);
    return result;
}

} // namespace hivedump::registry
