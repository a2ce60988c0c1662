#pragma once

#include "registry/registry.h"
#include "registry/wine_hive.h"
#include "registry/wine_text.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hivedump::registry {

/// Where the registry files are read from: the prefix directory for the
/// program, memory for tests and fuzzers.
class RegistryFileSource {
public:
    /// An open file, read with pread's semantics.
    class File {
    public:
        virtual ~File() = default;
        /// Reads up to `size` bytes at `offset`: the count read, 0 at the end
        /// of the file, or a negative number when reading failed.
        virtual std::ptrdiff_t read_at(char* buffer, std::size_t size, std::uint64_t offset) = 0;
    };

    virtual ~RegistryFileSource() = default;
    /// The file open for reading; null when it is missing, no regular file or empty.
    virtual std::unique_ptr<File> open(const std::string& path) = 0;
    /// Whether `path` is a directory: an unreadable file of a missing prefix
    /// is reported as the prefix.
    virtual bool is_directory(const std::string& path) = 0;
};

/// The registry of a Wine prefix, read from its files (system.reg, user.reg,
/// userdef.reg) without Wine, as a Win32 program under Wine would see it.
/// Files are read only, and only when a key in them is first needed.
class WinePrefixRegistry : public Registry {
public:
    WinePrefixRegistry(std::string prefix, const CodePage& code_page);
    /// Reads the files named as below the prefix from `files` instead.
    WinePrefixRegistry(std::string prefix, const CodePage& code_page, std::unique_ptr<RegistryFileSource> files);

    Status open_key(Handle parent, const std::string& path, Handle& key) override;
    Status enum_key(Handle key, std::uint32_t index, std::span<char> name) override;
    void close_key(Handle key) override;
    Status query_info_key(Handle key, KeyInfo& info) override;
    Status enum_value(Handle key, std::uint32_t index, ValueRead& value) override;
    std::string key_identity(Handle key) override;
    CodePage code_page() const override { return code_page_; }
    std::optional<std::string> unreadable_file() const override { return unreadable_; }

    /// The prefix's registry files, whether they exist or not.
    std::vector<std::string> registry_files() const;

    /// The size of the pieces the files are read in; tests make it tiny.
    void set_read_chunk(std::size_t size) { read_chunk_ = size; }

    /// A key or value with its name, to sort by.
    struct Named {
        wine::TextView name;
        std::uint32_t index;
        std::uint64_t folded_start; ///< decides most comparisons without the names
        static Named of(const wine::TextView& name, std::uint32_t index);
    };

private:
    enum Mount : std::uint8_t { none = 0, machine = 1, user = 2, default_user = 3 };
    struct ValueSlot {
        std::uint32_t name; ///< the value whose name is shown: the first one loaded
        std::uint32_t data; ///< the value whose data counts: the last one loaded
    };
    struct OpenKey {
        wine::NodeIndex node = wine::no_node;
        bool in_use = false;
        bool performance_text = false; ///< Wine hands out a pseudo handle that no call accepts
        bool children_listed = false;
        bool values_listed = false;
        wine::NodeIndex last_listed = wine::no_node; ///< the subkey the last enum_key named
        std::vector<wine::NodeIndex> children;
        std::vector<ValueSlot> values;

        /// Closes the slot; the lists keep their room for the next key opened here.
        void reset()
        {
            node = wine::no_node;
            in_use = false;
            performance_text = false;
            children_listed = false;
            values_listed = false;
            last_listed = wine::no_node;
            children.clear();
            values.clear();
        }
    };

    OpenKey* find_open_key(Handle handle, Status& status);
    wine::NodeIndex root_node(Handle root);
    void ensure_loaded(wine::NodeIndex node);
    void load(Mount mount);
    /// Follows names from `node`, found through links `depth` deep; each
    /// link on the way is followed one deeper.
    Status walk(wine::NodeIndex node, std::u16string_view path, int depth, wine::NodeIndex& found);
    /// Follows `link`, itself `depth` links deep.
    Status follow_link(wine::NodeIndex link, int depth, wine::NodeIndex& target);
    /// Where a key created through `link` (`depth` links deep) goes: the
    /// target's last name is created when missing, the names and links before
    /// it must lead to keys that exist.
    wine::NodeIndex follow_link_creating(wine::NodeIndex link, int depth);
    std::u16string link_target(wine::NodeIndex link) const;
    void list_children(OpenKey& key);
    void list_values(OpenKey& key);
    void prefetch_values(wine::NodeIndex node) const;

    std::string prefix_;
    std::unique_ptr<RegistryFileSource> files_;
    std::size_t read_chunk_;
    CodePage code_page_;
    wine::AnsiConverter converter_;
    wine::Hive hive_;
    wine::NodeIndex machine_ = wine::no_node;
    wine::NodeIndex users_ = wine::no_node;
    wine::NodeIndex user_key_ = wine::no_node;
    std::array<bool, 4> loaded_{};
    std::array<wine::NodeIndex, 2> performance_keys_{ wine::no_node, wine::no_node };
    std::optional<std::string> unreadable_;
    std::vector<OpenKey> open_keys_;
    std::vector<std::size_t> free_slots_;
    std::array<OpenKey, 4> roots_{};
    std::array<bool, 4> root_resolved_{};
    // Kept from call to call so that their room is reused.
    std::vector<Named> named_scratch_;
    std::u16string path_scratch_;
};

/// The prefix Wine would use: $WINEPREFIX, else $HOME/.wine.
std::string find_wine_prefix();

/// The ANSI code page that Wine picks for the locale a program runs in: the
/// C library's LC_CTYPE (from LC_ALL, else LC_CTYPE, else LANG).
CodePage code_page_from_locale();
/// The ANSI code page of a locale name such as "ja_JP.UTF-8".
std::uint32_t code_page_for_locale(std::string_view locale);

/// Converts text in the locale's character set to the ANSI code page, as
/// Wine converts a program's arguments.
std::string locale_to_code_page(std::string_view text, const CodePage& code_page);

} // namespace hivedump::registry
