#pragma once

#include "registry/registry.h"
#include "wine/files.h"
#include "wine/hive.h"
#include "wine/interest.h"
#include "wine/loader.h"
#include "wine/values.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hivedump::wine {

class Links;

/// The file whose tree goes below a key of the \Registry root.
enum Mount : std::uint8_t { none = 0, machine = 1, user = 2, default_user = 3 };

/// The prefix's registry files as one key tree: which are loaded, their
/// first passes and catch-ups, and the values read from them again. Once a
/// file no longer holds the bytes its keys came from, reading stops for good.
class LoadedFiles {
public:
    LoadedFiles(std::string prefix, std::unique_ptr<RegistryFileSource> files);
    ~LoadedFiles();
    LoadedFiles(const LoadedFiles&) = delete;
    LoadedFiles& operator=(const LoadedFiles&) = delete;

    void set_read_chunk(std::size_t size) { read_chunk_ = size; }
    /// First passes also make the Wow6432Node keys the 32-bit view asks about.
    void set_wow64_sections(bool on) { wow64_sections_ = on; }

    Hive& hive() { return hive_; }
    const Hive& hive() const { return hive_; }
    NodeIndex machine_key() const { return machine_; }
    NodeIndex users_key() const { return users_; }
    NodeIndex default_user_key() const { return default_user_; }
    /// The user's key, once user.reg named it; no_node before.
    NodeIndex user_key() const { return user_key_; }

    std::string file_path(Mount mount) const;
    /// Reads the first pass of a file, for what `wanted` names; keys made
    /// through links go where `links` says. A read only for the keys its
    /// links may make in other files is not `needed`: that it cannot be read
    /// is reported once the run needs its own keys.
    void load(Mount mount, const Wanted& wanted, Links& links, bool needed = true);
    /// Loads the file whose tree goes below `node`, if it waits for one.
    void ensure_loaded(NodeIndex node, const Wanted& wanted, Links& links);
    /// Makes every subkey of `node` known, reading what its file passed over.
    void complete(NodeIndex node, const Wanted& wanted, Links& links)
    {
        // Inline for the common case: the walk asks it of every key.
        const auto& key = hive_.key(node);
        if (key.mount == none && (key.complete || key.owner == none || (loaders_[key.owner] && loaders_[key.owner]->full())))
            return;
        complete_file(node, wanted, links);
    }
    void read_key_values(NodeIndex node, ValueStore& store);
    /// Whether the file's first pass was read, or tried.
    bool loaded(Mount mount) const { return loaded_[mount]; }

    /// A file said the prefix is a 32-bit one.
    bool single_view() const { return single_view_; }
    /// A file read again did not give the bytes its keys came from.
    bool stopped() const { return stopped_; }
    std::optional<std::string> unreadable() const { return unreadable_; }

private:
    void complete_file(NodeIndex node, const Wanted& wanted, Links& links);
    /// The run fails naming the file that could not be read.
    void report_unreadable(Mount mount);
    /// The run fails naming the file, and every later call fails, so the walk
    /// ends there rather than write what may belong to other keys.
    void stop_reading(Mount mount);

    std::string prefix_;
    std::unique_ptr<RegistryFileSource> files_;
    std::size_t read_chunk_ = default_read_chunk;
    bool wow64_sections_ = true;
    Hive hive_;
    NodeIndex machine_ = no_node;
    NodeIndex users_ = no_node;
    NodeIndex user_key_ = no_node;
    NodeIndex default_user_ = no_node;
    std::array<bool, 4> loaded_{};
    std::array<bool, 4> unreported_{}; ///< unreadable, but not needed so far
    // The files stay open while the registry lives: values are read from them on demand.
    std::array<std::unique_ptr<PinnedFile>, 4> open_files_;
    std::array<std::unique_ptr<FileLoader>, 4> loaders_;
    std::array<FileWindow, 4> windows_; ///< the bytes last read of each file
    std::optional<std::string> unreadable_;
    bool stopped_ = false;
    bool single_view_ = false;
};

} // namespace hivedump::wine
