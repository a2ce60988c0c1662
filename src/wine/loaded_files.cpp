#include "wine/loaded_files.h"

#include <algorithm>
#include <strings.h>

namespace hivedump::wine {

namespace {

constexpr std::string_view default_user_key = "S-1-5-21-0-0-0-1000";

/// The server reads system.reg, then userdef.reg, then user.reg: a key's
/// values from several files count in that order.
constexpr std::uint8_t server_order(Mount mount) { return mount == machine ? 1 : mount == default_user ? 2 : 3; }

std::u16string units_of(const TextView& text)
{
    std::u16string units;
    units.reserve(text.length);
    for (std::uint32_t at = 0; at < text.length; ++at)
        units.push_back(text[at]);
    return units;
}

std::u16string ascii_units(std::string_view text) { return { text.begin(), text.end() }; }

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

} // namespace

LoadedFiles::LoadedFiles(std::string prefix, std::unique_ptr<RegistryFileSource> files)
    : prefix_(std::move(prefix))
    , files_(std::move(files))
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
    hive_.key(default_user_).mount = default_user;
    hive_.key(default_user_).owner = default_user;
}

LoadedFiles::~LoadedFiles() = default;

std::string LoadedFiles::file_path(Mount mount) const
{
    return prefix_ + (mount == machine ? "/system.reg" : mount == user ? "/user.reg" : "/userdef.reg");
}

void LoadedFiles::ensure_loaded(NodeIndex node, const Wanted& wanted)
{
    auto mount = static_cast<Mount>(hive_.key(node).mount);
    if (mount == none)
        return;
    hive_.key(node).mount = none;
    load(mount, wanted);
}

std::vector<std::u16string> LoadedFiles::path_of(NodeIndex node) const
{
    std::vector<std::u16string> names;
    for (; node != hive_.root() && node != no_node; node = hive_.key(node).parent)
        names.push_back(units_of(hive_.key(node).name_text()));
    std::reverse(names.begin(), names.end());
    return names;
}

Interest LoadedFiles::interest_below(NodeIndex base, const Wanted& wanted) const
{
    Interest interest;
    if (wanted.everything)
        return interest;
    std::vector<std::u16string> names;
    if (wanted.anchor != no_node) {
        names = path_of(wanted.anchor);
    } else {
        switch (static_cast<std::uintptr_t>(wanted.root)) {
        case static_cast<std::uintptr_t>(registry::local_machine):
            names = { u"Machine" };
            break;
        case static_cast<std::uintptr_t>(registry::current_user):
            if (base != user_key_)
                return interest; // the user key is not known yet: all of it
            names = path_of(user_key_);
            break;
        case static_cast<std::uintptr_t>(registry::users):
            names = { u"User" };
            break;
        default:
            return interest; // the classes root goes through links: all of it
        }
    }
    for (PathNames path(wanted.path); auto name = path.next();)
        names.emplace_back(*name);
    auto base_path = path_of(base);
    std::size_t common = std::min(base_path.size(), names.size());
    for (std::size_t index = 0; index < common; ++index) {
        if (!names_equal(view_of(base_path[index]), view_of(names[index]))) {
            // Nothing below the base is asked for: only its links are needed.
            interest.all = false;
            interest.nothing = true;
            return interest;
        }
    }
    if (names.size() > base_path.size()) {
        interest.all = false;
        interest.names.assign(names.begin() + static_cast<std::ptrdiff_t>(base_path.size()), names.end());
    }
    return interest;
}

void LoadedFiles::load(Mount mount, const Wanted& wanted, bool needed)
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
        interest = interest_below(base, wanted);
        return base;
    };

    bool valid = false;
    if (file) {
        auto follow = [this, mount](NodeIndex link) { return create_ ? create_(link, mount) : no_node; };
        loaders_[mount] = std::make_unique<FileLoader>(hive_, *file, mount, server_order(mount), follow, read_chunk_);
        if (wow64_sections_)
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
    for (auto later : { default_user, user }) {
        if (server_order(later) > server_order(mount))
            load(later, wanted, false);
    }
}

void LoadedFiles::report_unreadable(Mount mount)
{
    if (unreadable_)
        return;
    unreadable_ = files_->is_directory(prefix_) ? file_path(mount) : prefix_;
}

void LoadedFiles::stop_reading(Mount mount)
{
    report_unreadable(mount);
    stopped_ = true;
}

void LoadedFiles::complete_file(NodeIndex node, const Wanted& wanted)
{
    ensure_loaded(node, wanted);
    const auto& key = hive_.key(node);
    if (key.complete || key.owner == none)
        return;
    if (auto& loader = loaders_[key.owner]; loader && !loader->full() && !loader->catch_up())
        stop_reading(static_cast<Mount>(key.owner));
}

void LoadedFiles::read_key_values(NodeIndex node, ValueStore& store)
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

} // namespace hivedump::wine
