#pragma once

#include "registry/registry.h"
#include "wine/files.h"
#include "wine/loader.h"
#include "wine/text.h"
#include "wine/tree.h"
#include "wine/values.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hivedump::wine {

using registry::Handle;
using registry::KeyInfo;
using registry::Status;
using registry::ValueRead;

/// The registry of a Wine prefix, read from its files (system.reg, user.reg,
/// userdef.reg) without Wine, as a Win32 program under Wine would see it.
/// Files are read only, and only as far as the keys asked for need them.
class WinePrefixRegistry : public registry::Registry {
public:
    WinePrefixRegistry(std::string prefix, const CodePage& code_page);
    /// Reads the files named as below the prefix from `files` instead.
    WinePrefixRegistry(std::string prefix, const CodePage& code_page, std::unique_ptr<RegistryFileSource> files);
    ~WinePrefixRegistry() override;

    Status open_key(Handle parent, const std::string& path, Handle& key) override;
    Status enum_key(Handle key, std::uint32_t index, std::span<char> name) override;
    void close_key(Handle key) override;
    Status query_info_key(Handle key, KeyInfo& info) override;
    Status enum_value(Handle key, std::uint32_t index, ValueRead& value) override;
    std::string key_identity(Handle key) override;
    bool is_dangling_link(Handle key, const std::string& name) override;
    CodePage code_page() const override { return code_page_; }
    std::optional<std::string> unreadable_file() const { return unreadable_; }

    /// The prefix's registry files, whether they exist or not.
    std::vector<std::string> registry_files() const;

    /// The view a program of that kind sees: the own view is the 32-bit
    /// program's, as the program shipped is one. A prefix whose files say
    /// "#arch=win32" has the one view. Set before the first call.
    void set_view(registry::View view) { wow64_view_ = view != registry::View::bits64; }

    /// The size of the pieces the files are read in, and (up to 64 KiB) of
    /// the blocks checked when they are read again; tests make it tiny.
    void set_read_chunk(std::size_t size) { read_chunk_ = size; }

    /// A key or value with its name, to sort by.
    struct Named {
        TextView name;
        std::uint32_t index;
        std::uint64_t folded_start; ///< decides most comparisons without the names
        static Named of(const TextView& name, std::uint32_t index);
    };

private:
    /// What every call answers once the registry stopped reading.
    static constexpr Status registry_io_failed = 1016;
    enum Mount : std::uint8_t { none = 0, machine = 1, user = 2, default_user = 3 };
    /// The server reads system.reg, then userdef.reg, then user.reg: a key's
    /// values from several files count in that order.
    static constexpr std::uint8_t server_order(Mount mount) { return mount == machine ? 1 : mount == default_user ? 2 : 3; }
    struct ValueSlot {
        std::uint32_t name; ///< the value whose name is shown: the first one loaded
        std::uint32_t data; ///< the value whose data counts: the last one loaded
    };
    struct OpenKey {
        NodeIndex node = no_node;
        bool in_use = false;
        bool performance_text = false; ///< Wine hands out a pseudo handle that no call accepts
        bool children_listed = false;
        bool values_listed = false;
        NodeIndex last_listed = no_node; ///< the subkey the last enum_key named
        std::vector<NodeIndex> children;
        std::vector<ValueSlot> values;
        ValueStore store; ///< the values read, until the key is closed

        /// Closes the slot; the lists keep their room for the next key opened here.
        void reset()
        {
            node = no_node;
            in_use = false;
            performance_text = false;
            children_listed = false;
            values_listed = false;
            last_listed = no_node;
            children.clear();
            values.clear();
            store.clear();
        }
    };

    class ViewAdapter;
    friend class ViewAdapter;
    /// Whether opens go by the 32-bit view's rules.
    bool in_wow64_view() const { return wow64_view_ && !single_view_; }
    /// Opens `path` below `node` in the registry's view.
    Status open_path(NodeIndex node, std::u16string_view path, NodeIndex& found);

    /// A link's target is what a file first loaded while following it is
    /// for; the path being opened is again once the link is followed.
    class InterestScope {
    public:
        InterestScope(WinePrefixRegistry& registry, std::u16string_view target)
            : registry_(registry)
            , anchor_(std::exchange(registry.interest_anchor_, registry.hive_.root()))
            , path_(std::exchange(registry.interest_path_, std::u16string(target)))
        {
        }
        ~InterestScope()
        {
            registry_.interest_anchor_ = anchor_;
            registry_.interest_path_ = std::move(path_);
        }
        InterestScope(const InterestScope&) = delete;
        InterestScope& operator=(const InterestScope&) = delete;

    private:
        WinePrefixRegistry& registry_;
        NodeIndex anchor_;
        std::u16string path_;
    };

    /// The registry file whose tree goes below that mount.
    std::string file_path(Mount mount) const;
    OpenKey* find_open_key(Handle handle, Status& status);
    NodeIndex root_node(Handle root);
    void ensure_loaded(NodeIndex node);
    /// Reads the first pass of a file. One read only for the keys its links
    /// may make in other files is not `needed`: that it cannot be read is
    /// reported once the run needs its own keys.
    void load(Mount mount, bool needed = true);
    /// The run fails naming the file that could not be read.
    void report_unreadable(Mount mount);
    /// A file read again did not give the bytes its keys came from (or gave
    /// none): the run fails naming it, and every later call fails, so the walk
    /// ends there rather than write what may belong to other keys.
    void stop_reading(Mount mount);
    /// The interest of a file whose base is `base`, from the path being opened.
    Interest interest_below(NodeIndex base) const;
    std::vector<std::u16string> path_of(NodeIndex node) const;
    /// Makes every subkey of `node` known, reading what its file passed over.
    void complete(NodeIndex node);
    /// The subkey of `node` with that name, or no_node.
    NodeIndex child_of(NodeIndex node, std::u16string_view name);
    /// Follows names from `node`, found through links `depth` deep; each
    /// link on the way is followed one deeper. While the file of `loading`
    /// is read, the keys of the files read after it are not there yet.
    Status walk(NodeIndex node, std::u16string_view path, int depth, NodeIndex& found, Mount loading = none);
    /// Follows `link`, itself `depth` links deep.
    Status follow_link(NodeIndex link, int depth, NodeIndex& target, Mount loading = none);
    /// Where a key of the file of `loading` created through `link` (`depth`
    /// links deep) goes: the target's last name is created when missing, the
    /// names and links before it must lead to keys that exist by then.
    NodeIndex follow_link_creating(NodeIndex link, int depth, Mount loading);
    /// Whether the server, while it reads the file of `loading`, has yet to
    /// make the subkey `name` of `node`, which a file read later makes.
    bool made_later(NodeIndex node, std::u16string_view name, Mount loading) const;
    const std::u16string& link_target(NodeIndex link);
    void read_key_values(NodeIndex node, ValueStore& store);
    bool is_performance_key(NodeIndex node);
    void list_children(OpenKey& key);
    void list_values(OpenKey& key);

    std::string prefix_;
    std::unique_ptr<RegistryFileSource> files_;
    std::size_t read_chunk_;
    CodePage code_page_;
    AnsiConverter converter_;
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
    std::optional<std::array<NodeIndex, 2>> performance_keys_;
    std::optional<std::string> unreadable_;
    bool stopped_ = false;
    bool wow64_view_ = true;
    bool single_view_ = false; ///< a file said the prefix is a 32-bit one
    std::vector<OpenKey> open_keys_;
    std::vector<std::size_t> free_slots_;
    std::array<OpenKey, 4> roots_{};
    std::array<bool, 4> root_resolved_{};
    // The path being opened, which decides what a file's first pass makes keys of.
    Handle interest_root_{};
    NodeIndex interest_anchor_ = no_node;
    std::u16string interest_path_;
    std::vector<FileWindow> windows_; ///< the bytes last read of each file
    struct LinkTarget {
        std::uint32_t spans = 0;
        std::u16string target;
    };
    std::map<NodeIndex, LinkTarget> link_targets_;
    ValueStore link_values_;
    // Kept from call to call so that their room is reused.
    std::vector<Named> named_scratch_;
    std::u16string path_scratch_;
};

} // namespace hivedump::wine
