#include "wine/loaded_files.h"

#include "wine/passes.h"
#include "wine/text.h"

#include <algorithm>

namespace hivedump::wine {

namespace {

/// The server reads system.reg, then userdef.reg, then user.reg: a key's
/// values from several files count in that order.
constexpr std::uint8_t server_order(Mount mount) { return mount == machine ? 1 : mount == default_user ? 2 : 3; }

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

void LoadedFiles::ensure_loaded(NodeIndex node, const Wanted& wanted, Links& links)
{
    auto mount = static_cast<Mount>(hive_.key(node).mount);
    if (mount == none)
        return;
    hive_.key(node).mount = none;
    load(mount, wanted, links);
}

void LoadedFiles::load(Mount mount, const Wanted& wanted, Links& links, bool needed)
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
    FileBase base{ mount == machine ? machine_ : default_user_ };
    if (mount == user)
        base = { no_node, users_ };

    bool valid = false;
    if (file) {
        auto& loader = loaders_[mount];
        loader = std::make_unique<FileLoader>(hive_, *file, mount, server_order(mount), read_chunk_);
        if (wow64_sections_)
            loader->make_wow64_sections();
        auto result = loader->first_pass(base, wanted, links);
        valid = result.valid && !result.read_failed;
        single_view_ = single_view_ || (valid && result.win32);
        if (mount == user)
            user_key_ = loader->base();
    } else if (mount == user) {
        user_key_ = place_base(hive_, base, {}, mount);
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
            load(later, wanted, links, false);
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

void LoadedFiles::complete_file(NodeIndex node, const Wanted& wanted, Links& links)
{
    ensure_loaded(node, wanted, links);
    const auto& key = hive_.key(node);
    if (key.complete || key.owner == none)
        return;
    if (auto& loader = loaders_[key.owner]; loader && !loader->full() && !loader->catch_up(links))
        stop_reading(static_cast<Mount>(key.owner));
}

void LoadedFiles::read_key_values(NodeIndex node, ValueStore& store)
{
    if (!read_values(hive_, hive_.key(node).first_span, open_files_, read_chunk_, store, windows_)) {
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
