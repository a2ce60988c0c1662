// Any bytes as a registry file of a Wine prefix, then an export of each
// master key into memory: every run must end with status 0 or -1, only the
// tool's own messages, and a file that begins with the export header.
//
// Input: a flags byte (bits 0-1: the bytes become 0 user.reg, 1 system.reg,
// 2 userdef.reg, 3 user.reg and system.reg split at the first zero byte;
// bit 2: code page 932 instead of 1252; bit 3: the other files are left out
// instead of holding a bare header), then the file bytes.

#include "cli/entry_linux.h"
#include "cli/export_run.h"
#include "export_reader.h"
#include "memory_registry_files.h"
#include "test_support.h"
#include "wine/prefix_registry.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <vector>

namespace {

using namespace hivedump;

constexpr std::string_view file_header = "REGEDIT4\r\n\r\n";
constexpr std::string_view bare_registry = "WINE REGISTRY Version 2\n";
constexpr std::string_view prefix = "/prefix";
constexpr std::array<const char*, 3> file_names{ "/user.reg", "/system.reg", "/userdef.reg" };
constexpr std::array<const char*, 4> master_keys{ "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS" };

[[noreturn]] void fail(const std::string& master_key, const std::string& what)
{
    std::fprintf(stderr, "fuzz_wine_prefix: %s: %s\n", master_key.c_str(), what.c_str());
    std::abort();
}

/// Whether a key or value name below the master key holds a line feed; true
/// also when that cannot be told within a bounded look.
bool names_hold_line_feed(registry::Registry& registry, const char* master_key)
{
    using registry::Handle;
    constexpr std::array<Handle, 4> roots{ registry::classes_root, registry::current_user, registry::local_machine, registry::users };
    Handle root = roots[0];
    for (std::size_t i = 0; i < master_keys.size(); ++i) {
        if (std::string_view(master_keys[i]) == master_key)
            root = roots[i];
    }
    std::vector<registry::KeyHandle> path;
    Handle top{};
    if (registry.open_key(root, "", top) != registry::status::success)
        return false;
    path.emplace_back(registry, top);
    std::vector<std::uint32_t> next{ 0 };
    std::vector<char> name(1 << 16);
    std::vector<std::byte> value_data(1 << 16);
    int budget = 10000;
    while (!path.empty()) {
        if (--budget == 0)
            return true;
        Handle key = path.back().get();
        if (next.back() == 0) {
            registry::KeyInfo info;
            if (registry.query_info_key(key, info) == registry::status::success) {
                for (std::uint32_t index = 0; index < info.value_count; ++index) {
                    registry::ValueRead read{ name, value_data, static_cast<std::uint32_t>(name.size()),
                        static_cast<std::uint32_t>(value_data.size()), 0 };
                    auto status = registry.enum_value(key, index, read);
                    if (status == registry::status::more_data)
                        return true;
                    if (status == registry::status::success
                        && std::string_view(name.data(), read.name_length).find('\n') != std::string_view::npos)
                        return true;
                }
            }
        }
        name[0] = '\0';
        if (path.size() > 512 || registry.enum_key(key, next.back()++, name) != registry::status::success) {
            path.pop_back();
            next.pop_back();
            continue;
        }
        std::string subkey(name.data());
        if (subkey.find('\n') != std::string::npos)
            return true;
        Handle child{};
        if (registry.open_key(key, subkey, child) == registry::status::success) {
            path.emplace_back(registry, child);
            next.push_back(0);
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Each hive maps blocks of its own; as huge pages, clearing them would
    // cost more than the whole run does on these small files.
    prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::uint8_t flags = input.empty() ? 0 : static_cast<std::uint8_t>(input.front());
    if (!input.empty())
        input.remove_prefix(1);

    std::array<std::optional<std::string_view>, 3> contents;
    unsigned target = flags & 3;
    if (target == 3) {
        std::size_t split = input.find('\0');
        contents[0] = input.substr(0, split);
        contents[1] = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    } else {
        contents[target] = input;
    }
    // The prefix's files, held in memory: no file system in the way.
    testing::MemoryRegistryFiles prefix_files;
    for (std::size_t i = 0; i < file_names.size(); ++i) {
        std::string path = std::string(prefix) + file_names[i];
        if (contents[i])
            prefix_files.files.emplace(path, *contents[i]);
        else if ((flags & 8) == 0)
            prefix_files.files.emplace(path, bare_registry);
    }

    CodePage code_page = CodePage::from_number((flags & 4) != 0 ? 932 : 1252);
    for (const char* master_key : master_keys) {
        wine::WinePrefixRegistry registry(std::string(prefix), code_page, std::make_unique<testing::MemoryRegistryFiles>(prefix_files));
        // Pieces that hold these inputs whole: the program's own size would
        // cost more in the sanitizer's bookkeeping than the run itself.
        registry.set_read_chunk(1 << 16);
        testing::MemoryFiles files;
        testing::MemorySink console;
        RunEnvironment environment = prefix_run_environment(registry, console, files);
        std::vector<std::string> arguments{ master_key, "out.reg" };
        int status = run_hivedump(arguments, environment);
        if (status != 0 && status != -1)
            fail(master_key, "status " + std::to_string(status));
        if (!testing::known_messages(console.text()))
            fail(master_key, "unexpected output: " + console.text());
        if (files.tally.closes != files.created)
            fail(master_key, "the export file was left open");
        auto file = files.files.find("out.reg");
        if (file == files.files.end() || !file->second.starts_with(file_header))
            fail(master_key, "no export file, or one without its header");
        // A line feed in a name splits its line; any other file reads back.
        if (status == 0 && !names_hold_line_feed(registry, master_key)) {
            auto read = testing::read_export(file->second, code_page);
            if (!read.ok())
                fail(master_key, "unreadable export: " + read.error);
        }
    }
    return 0;
}
