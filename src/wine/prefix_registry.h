#pragma once

#include "registry/registry.h"
#include "wine/ansi_converter.h"
#include "wine/files.h"
#include "wine/handles.h"
#include "wine/hive.h"
#include "wine/key_resolver.h"
#include "wine/links.h"
#include "wine/loaded_files.h"
#include "wine/text.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hivedump::wine {

using registry::Handle;
using registry::KeyInfo;
using registry::Status;
using registry::ValueRead;

/// The registry of a Wine prefix, read from its files (system.reg, user.reg,
/// userdef.reg) without Wine, as a Win32 program under Wine would see it
/// through the A functions: handles, names in the code page, the server's
/// order and buffer rules. Files are read only, and only as far as the keys
/// asked for need them (LoadedFiles); keys are found by KeyResolver.
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
    std::optional<std::string> unreadable_file() const { return files_.unreadable(); }

    /// The prefix's registry files, whether they exist or not.
    std::vector<std::string> registry_files() const;

    /// The view a program of that kind sees: the own view is the 32-bit
    /// program's, as the program shipped is one. A prefix whose files say
    /// "#arch=win32" has the one view. Set before the first call.
    void set_view(registry::View view);

    /// The size of the pieces the files are read in, and (up to 64 KiB) of
    /// the blocks checked when they are read again; tests make it tiny.
    void set_read_chunk(std::size_t size) { files_.set_read_chunk(size); }

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

    /// An open key a call may use, or nullptr with the status the call answers.
    struct KeyInUse {
        Status status;
        OpenKey* key;
    };
    /// A master key is looked up the first time, for what `wanted` names.
    KeyInUse find_open_key(Handle handle, const Wanted& wanted = {});
    bool is_performance_key(NodeIndex node);
    void list_children(OpenKey& key);
    void list_values(OpenKey& key);
    enum class Listing { children, values };
    /// The open key with its subkeys or values listed.
    KeyInUse listed_key(Handle handle, Listing listing);
    /// A value's data and name as the A functions hand them out.
    Status copy_data(const ValueNode& value, ValueRead& read, std::uint32_t& size) const;
    Status copy_name(const ValueNode& named, ValueRead& read) const;

    CodePage code_page_;
    AnsiConverter converter_;
    LoadedFiles files_;
    Links links_;
    KeyResolver resolver_;
    KeyHandles handles_;
    std::optional<std::array<NodeIndex, 2>> performance_keys_;
    // Kept from call to call so that their room is reused.
    std::vector<Named> named_scratch_;
    std::u16string path_scratch_;
};

} // namespace hivedump::wine
